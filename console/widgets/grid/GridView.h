#pragma once
// A view whose client area is a browse grid (CGridCtrl), with the commands
// every grid window shares: Zoom In (32795, while below 300 percent), Zoom Out
// (32796, while above 40), 100% (32797), the display settings (32798), Print
// and Print Preview of the grid. A derived view supplies the cells (it is the
// grid's CGridSource) and may keep a band above the grid (GridTop).
//
// Owned by its frame; the grid is its child. User-interface thread only.

#include "console/widgets/support/KSExport.h"
#include "ui/View.h"

class CCmdUI;
class CGridCtrl;
class QPrinter;

class KS_EXPORT CGridView : public CView {
  DECLARE_DYNAMIC(CGridView)

 public:
  // Command ids of the grid windows.
  enum : UINT {
    ID_VIEW_ZOOMIN = 32795,
    ID_VIEW_ZOOMOUT = 32796,
    ID_VIEW_100 = 32797,
    ID_VIEW_PROPERTIES = 32798,
    ID_FILE_PRINT_PREVIEW = 0xE109,
  };

  CGridView();
  ~CGridView() override;

  CGridCtrl* GetGrid() const { return m_pGrid; }

  void OnViewZoomin();
  void OnViewZoomout();
  void OnView100();
  // Shows "Display Settings" for the grid; OK applies the choices and redraws.
  void OnViewProperties();
  void OnFilePrint();
  void OnFilePrintPreview();
  void OnUpdateViewZoomin(CCmdUI* pCmdUI);
  void OnUpdateViewZoomout(CCmdUI* pCmdUI);

 protected:
  // Where the grid starts below the view's top edge; the view's own drawing
  // (OnDraw) fills the band above. Call LayoutGrid when it changes.
  virtual int GridTop() const { return 0; }
  void LayoutGrid();
  // After a zoom step: the grid has its new zoom; the default redraws the view.
  virtual void OnZoomChanged();
  // After the display settings were applied.
  virtual void OnGridSettingsChanged() {}

  void resizeEvent(QResizeEvent* event) override;

 private:
  CGridCtrl* m_pGrid;
};
