#pragma once
// The view of a graph window. It will draw its document's chart data file as a
// pie or bar chart; until the chart comes it is an empty view. Owned by its
// frame; user-interface thread only.

#include "console/widgets/support/KSExport.h"
#include "ui/View.h"

class KS_EXPORT CGraphView : public CView {
  DECLARE_DYNCREATE(CGraphView)

 public:
  CGraphView();
  ~CGraphView() override;
};
