#pragma once
// The document of a graph window: one chart data file written from a result.
// It holds nothing but the file's path (its path name); the graph view reads
// the file. Made by pGraphDocTemplate, which owns it; user-interface thread
// only. Opening fails (with a message) only when the file cannot be read.

#include "console/widgets/support/KSExport.h"
#include "ui/Document.h"

class KS_EXPORT CGraphDoc : public CDocument {
  DECLARE_DYNCREATE(CGraphDoc)

 public:
  CGraphDoc();
  ~CGraphDoc() override;
};
