#pragma once
// The document of a graph window: one chart data file written from a result
// (console/core/graphs/ChartDataFile.h). It holds nothing but the file's path
// (its path name); the graph view reads the file. Reading and saving through
// the framework do nothing else. Closing the document deletes the file: every
// graph has a file of its own, made for it by the result window.
//
// Made by pGraphDocTemplate, which owns it; user-interface thread only.
// Opening fails (with a message) only when the file cannot be read.

#include "console/widgets/support/KSExport.h"
#include "ui/Document.h"

class KS_EXPORT CGraphDoc : public CDocument {
  DECLARE_DYNCREATE(CGraphDoc)

 public:
  CGraphDoc();
  ~CGraphDoc() override;

  // Deletes the chart data file, then closes as every document does.
  void OnCloseDocument() override;
};
