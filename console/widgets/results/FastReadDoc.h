#pragma once
// The document of a result window: one result file, read through its data
// manager (CFXDataManager), which maps the file and indexes its lines. The
// document never writes the file; Save copies it, Save As copies or converts
// it (ConvertCSV), and a run's result deletes its temporary file when the
// window closes (DeleteOnClose).
//
// Made by the result template (pKSRptDocTemplate, resource 401), which owns
// it: OpenDocumentFile(path) opens it, and a run then calls DeleteOnClose() on
// the document it got. Only such run results allow the file commands of the
// view (delete, copy, move of the listed files): results opened from disk do
// not. User-interface thread only.

#include <QString>
#include <memory>

#include "console/widgets/support/KSExport.h"
#include "ui/Document.h"

namespace vn::console {
class CFXDataManager;
}

class KS_EXPORT CFastReadDoc : public CDocument {
  DECLARE_DYNCREATE(CFastReadDoc)

 public:
  CFastReadDoc();
  ~CFastReadDoc() override;

  // Opens the result file: the framework's check, then the data manager's
  // open, header and index. Any failure fails the open (and no window shows).
  [[nodiscard]] BOOL OnOpenDocument(const QString& path) override;
  // Copies the result to `path` as Save does.
  [[nodiscard]] BOOL OnSaveDocument(const QString& path) override;
  // Always yes: a result has nothing unsaved.
  [[nodiscard]] BOOL SaveModified() override;

  // Marks the result as a run's: its file is deleted when the document goes.
  void DeleteOnClose();
  bool IsDeleteOnClose() const { return m_bDeleteOnClose; }

  // Save (57603): asks for a name ("Comma Delimited (*.csv)") and saves there.
  void OnFileSave();
  // Save As (57604): asks for a name and a type (text, comma-delimited, HTML,
  // dBASE) and saves there.
  void OnFileSaveAs();

  // The steps after the dialogs. SaveCopy gives the chosen name its ".csv"
  // and copies the file there, replacing what was there. SaveConverted gives
  // the name the extension of type `typeIndex` (the filter's order) when it
  // has none and copies or converts. A failure is shown in a message box.
  // Both return the name written, or an empty text after a failure.
  QString SaveCopy(const QString& chosen);
  QString SaveConverted(const QString& chosen, int typeIndex);

  // Owned by the document; null before a successful open.
  vn::console::CFXDataManager* GetDataManager() const { return m_pDataManager.get(); }

 private:
  std::unique_ptr<vn::console::CFXDataManager> m_pDataManager;
  bool m_bDeleteOnClose = false;
  QString m_strFileToDelete;
};

class CMultiDocTemplate;

// Opens a run's merged result file through the result template, in a window
// that deletes the file when it closes. When no window takes it (the window
// said why), the file is removed. True when a window took it.
KS_EXPORT bool OpenRunResult(CMultiDocTemplate& resultTemplate, const QString& path);
