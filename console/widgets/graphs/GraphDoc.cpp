#include "console/widgets/graphs/GraphDoc.h"

IMPLEMENT_DYNCREATE(CGraphDoc, CDocument)

CGraphDoc::CGraphDoc() = default;

CGraphDoc::~CGraphDoc() = default;
