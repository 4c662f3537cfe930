#include "console/widgets/grid/GridView.h"

#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <algorithm>

#include "console/core/grid/GridZoom.h"
#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/grid/GridSettingsDlg.h"
#include "ui/CmdUI.h"
#include "ui/CommandIds.h"

IMPLEMENT_DYNAMIC(CGridView, CView)

CGridView::CGridView() : m_pGrid(new CGridCtrl(this)) {
  MapCommand(ID_VIEW_ZOOMIN, &CGridView::OnViewZoomin);
  MapCommand(ID_VIEW_ZOOMOUT, &CGridView::OnViewZoomout);
  MapCommand(ID_VIEW_100, &CGridView::OnView100);
  MapCommand(ID_VIEW_PROPERTIES, &CGridView::OnViewProperties);
  MapCommand(ID_FILE_PRINT, &CGridView::OnFilePrint);
  MapCommand(ID_FILE_PRINT_PREVIEW, &CGridView::OnFilePrintPreview);
  MapUpdateCommand(ID_VIEW_ZOOMIN, &CGridView::OnUpdateViewZoomin);
  MapUpdateCommand(ID_VIEW_ZOOMOUT, &CGridView::OnUpdateViewZoomout);
  LayoutGrid();
}

CGridView::~CGridView() = default;

void CGridView::OnViewZoomin() {
  if (!vn::console::CanZoomIn(m_pGrid->GetZoom())) return;
  m_pGrid->SetZoom(vn::console::ZoomedIn(m_pGrid->GetZoom()));
  OnZoomChanged();
}

void CGridView::OnViewZoomout() {
  if (!vn::console::CanZoomOut(m_pGrid->GetZoom())) return;
  m_pGrid->SetZoom(vn::console::ZoomedOut(m_pGrid->GetZoom()));
  OnZoomChanged();
}

void CGridView::OnView100() {
  m_pGrid->SetZoom(vn::console::kZoomNormal);
  OnZoomChanged();
}

void CGridView::OnUpdateViewZoomin(CCmdUI* pCmdUI) { pCmdUI->Enable(vn::console::CanZoomIn(m_pGrid->GetZoom())); }

void CGridView::OnUpdateViewZoomout(CCmdUI* pCmdUI) {
  pCmdUI->Enable(vn::console::CanZoomOut(m_pGrid->GetZoom()));
}

void CGridView::OnZoomChanged() {
  LayoutGrid();
  update();
  m_pGrid->Redraw();
}

void CGridView::OnViewProperties() {
  CGridSettingsDlg dlg(m_pGrid->Settings(), this);
  if (dlg.exec() != QDialog::Accepted) return;
  m_pGrid->ApplySettings(dlg.Settings());
  OnGridSettingsChanged();
  update();
  m_pGrid->Redraw();
}

void CGridView::OnFilePrint() {
  QPrintDialog dlg(m_pGrid->Printer(), this);
  if (dlg.exec() == QDialog::Accepted) m_pGrid->Print(m_pGrid->Printer());
}

void CGridView::OnFilePrintPreview() {
  QPrintPreviewDialog dlg(m_pGrid->Printer(), this);
  connect(&dlg, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* printer) { m_pGrid->Print(printer); });
  dlg.exec();
}

void CGridView::LayoutGrid() {
  const int top = GridTop();
  m_pGrid->setGeometry(0, top, width(), std::max(0, height() - top));
}

void CGridView::resizeEvent(QResizeEvent* event) {
  CView::resizeEvent(event);
  LayoutGrid();
}
