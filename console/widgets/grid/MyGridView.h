#pragma once
// The plain grid view other windows build on (the schedule list derives from
// it): the grid commands of CGridView and "Page Set&up..." (57605), which
// shows the page setup dialog for the view's print settings. Dynamically
// creatable; owned by its frame; user-interface thread only.

#include "console/widgets/grid/GridView.h"
#include "console/widgets/support/KSExport.h"

class KS_EXPORT CMyGridView : public CGridView {
  DECLARE_DYNCREATE(CMyGridView)

 public:
  CMyGridView();
  ~CMyGridView() override;

  void OnFilePageSetup();
};
