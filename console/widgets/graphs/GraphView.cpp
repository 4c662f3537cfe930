#include "console/widgets/graphs/GraphView.h"

IMPLEMENT_DYNCREATE(CGraphView, CView)

CGraphView::CGraphView() = default;

CGraphView::~CGraphView() = default;
