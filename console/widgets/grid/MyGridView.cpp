#include "console/widgets/grid/MyGridView.h"

#include <QPageSetupDialog>

#include "console/widgets/grid/GridCtrl.h"
#include "ui/CommandIds.h"

IMPLEMENT_DYNCREATE(CMyGridView, CGridView)

CMyGridView::CMyGridView() { MapCommand(ID_FILE_PAGE_SETUP, &CMyGridView::OnFilePageSetup); }

CMyGridView::~CMyGridView() = default;

void CMyGridView::OnFilePageSetup() {
  QPageSetupDialog dlg(GetGrid()->Printer(), this);
  if (dlg.exec() == QDialog::Accepted) GetGrid()->Redraw();
}
