#include "console/widgets/results/FastReadDoc.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>
#include <algorithm>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

#include "console/core/results/FXDataManager.h"
#include "console/core/results/ResultRules.h"
#include "console/core/support/SystemErrorText.h"
#include "convert/ConvertCSV.h"
#include "ui/MultiDocTemplate.h"
#include "platform/machine/PathMap.h"
#include "ui/CommandIds.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MessageBox.h"
#include "ui/WinApp.h"

IMPLEMENT_DYNCREATE(CFastReadDoc, CDocument)

namespace {

namespace fs = std::filesystem;

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Copies `source` over `destination` through a temporary file beside it, so
// the destination is either the old file or the whole copy. 0 or a Win32 code.
DWORD CopyReplacing(const std::string& source, const std::string& destination) {
  std::random_device random;
  const std::string temporary = destination + "." + std::to_string(random()) + ".part";
  std::error_code ec;
  if (fs::equivalent(source, destination, ec)) return ERROR_SUCCESS;  // already there
  fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temporary, destination, ec);
  if (!ec) return ERROR_SUCCESS;
  std::error_code ignored;
  fs::remove(temporary, ignored);
  return static_cast<DWORD>(vn::Win32FromErrno(ec.value(), true));
}

void ShowSystemError(DWORD code) {
  char text[260];
  vn::console::GetSystemErrorText(code, text, sizeof text);
  AfxMessageBox(QString::fromLocal8Bit(text), MB_OK | MB_ICONEXCLAMATION);
}

// "Name (*.x)|*.x|Other (*.y)|*.y||" as the file dialog's filters.
QStringList DialogFilters(const char* filter) {
  QStringList filters;
  const QStringList parts = QString::fromLatin1(filter).trimmed().split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    if (!parts[i].isEmpty()) filters << parts[i];
  return filters;
}

// The save dialog of Save and Save As: prompts before overwriting, over the
// main window. Returns the chosen name (empty when cancelled) and the type.
QString AskSaveName(const char* filter, int* typeIndex) {
  QFileDialog dialog(AfxGetMainWnd());
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  const QStringList filters = DialogFilters(filter);
  dialog.setNameFilters(filters);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  if (typeIndex) *typeIndex = std::max<int>(0, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())));
  return dialog.selectedFiles().front();
}

}  // namespace

CFastReadDoc::CFastReadDoc() {
  MapCommand(ID_FILE_SAVE, &CFastReadDoc::OnFileSave);
  MapCommand(ID_FILE_SAVE_AS, &CFastReadDoc::OnFileSaveAs);
}

CFastReadDoc::~CFastReadDoc() {
  // The mapping goes before the file it maps.
  m_pDataManager.reset();
  if (m_bDeleteOnClose && !m_strFileToDelete.isEmpty()) QFile::remove(m_strFileToDelete);
}

BOOL CFastReadDoc::OnOpenDocument(const QString& path) {
  if (!CDocument::OnOpenDocument(path)) return FALSE;
  auto manager = std::make_unique<vn::console::CFXDataManager>(LocalPath(path));
  if (!manager->Open()) {
    AfxMessageBox(QStringLiteral("Cannot open %1.").arg(path), MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  manager->ReadHeader();
  auto* pFrame = dynamic_cast<CMDIFrameWnd*>(AfxGetMainWnd());
  const bool indexed = manager->ReadAll([pFrame](const char* text) {
    if (pFrame) pFrame->SetMessageText(QString::fromLatin1(text).trimmed());
  });
  if (pFrame) pFrame->SetMessageText(QString());
  if (!indexed) return FALSE;
  m_pDataManager = std::move(manager);
  return TRUE;
}

BOOL CFastReadDoc::OnSaveDocument(const QString& path) {
  // Views keep nothing to store: the grid never edits the result.
  if (SaveCopy(path).isEmpty()) return FALSE;
  SetModifiedFlag(FALSE);
  return TRUE;
}

BOOL CFastReadDoc::SaveModified() { return TRUE; }

void CFastReadDoc::DeleteOnClose() {
  m_bDeleteOnClose = true;
  m_strFileToDelete = GetPathName();
}

void CFastReadDoc::OnFileSave() {
  const QString chosen = AskSaveName(vn::console::kSaveFilter, nullptr);
  if (!chosen.isEmpty()) SaveCopy(chosen);
}

void CFastReadDoc::OnFileSaveAs() {
  int typeIndex = 0;
  const QString chosen = AskSaveName(vn::console::kSaveAsFilter, &typeIndex);
  if (!chosen.isEmpty()) SaveConverted(chosen, typeIndex);
}

QString CFastReadDoc::SaveCopy(const QString& chosen) {
  const QString name = QFile::decodeName(vn::console::CsvFileName(LocalPath(chosen)).c_str());
  if (const DWORD error = CopyReplacing(LocalPath(GetPathName()), LocalPath(name))) {
    ShowSystemError(error);
    return {};
  }
  return name;
}

QString CFastReadDoc::SaveConverted(const QString& chosen, int typeIndex) {
  const int count = static_cast<int>(std::size(vn::console::kSaveAsTypes));
  const vn::console::SaveAsType& type = vn::console::kSaveAsTypes[typeIndex >= 0 && typeIndex < count ? typeIndex : 0];
  const QString name = QFile::decodeName(vn::console::SaveAsFileName(LocalPath(chosen), type.extension).c_str());
  if (type.options == ConvertCSV::kCommaDelimited) {
    if (const DWORD error = CopyReplacing(LocalPath(GetPathName()), LocalPath(name))) {
      ShowSystemError(error);
      return {};
    }
    return name;
  }
  ConvertCSV converter;
  const std::string error = converter.ReformatFile(LocalPath(name), LocalPath(GetPathName()), type.options);
  if (!error.empty()) {
    AfxMessageBox(QString::fromLocal8Bit(error.c_str()), MB_OK | MB_ICONEXCLAMATION);
    return {};
  }
  return name;
}

bool OpenRunResult(CMultiDocTemplate& resultTemplate, const QString& path) {
  CDocument* pDoc = resultTemplate.OpenDocumentFile(path, TRUE);
  if (!pDoc) {
    QFile::remove(path);
    return false;
  }
  if (auto* pResult = dynamic_cast<CFastReadDoc*>(pDoc)) pResult->DeleteOnClose();
  return true;
}
