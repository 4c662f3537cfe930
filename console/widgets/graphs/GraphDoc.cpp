#include "console/widgets/graphs/GraphDoc.h"

#include <QFile>

IMPLEMENT_DYNCREATE(CGraphDoc, CDocument)

CGraphDoc::CGraphDoc() = default;

CGraphDoc::~CGraphDoc() = default;

void CGraphDoc::OnCloseDocument() {
  // A file already gone (or never made) leaves nothing to clean up.
  if (!GetPathName().isEmpty()) (void)QFile::remove(GetPathName());
  CDocument::OnCloseDocument();
}
