#include "console/widgets/results/FastReadView.h"

#include <QDir>
#include <QFileDialog>
#include <QRandomGenerator>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStandardPaths>
#include <algorithm>
#include <cstdint>

#include "console/core/graphs/ChartDataFile.h"
#include "console/core/results/FXDataManager.h"
#include "console/core/results/ResultFileOps.h"
#include "console/core/results/ResultRules.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/graphs/GraphDoc.h"
#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/results/FastReadDoc.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/machine/PathMap.h"
#include "ui/CmdUI.h"
#include "ui/MultiDocTemplate.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"
#include "ui/WinApp.h"

IMPLEMENT_DYNCREATE(CFastReadView, CGridView)

namespace {

using vn::console::CFXDataManager;

constexpr char kReportSection[] = "VNReport";
constexpr char kStandardColorEntry[] = "BGCOLOR_STANDARD";
constexpr char kTotalColorEntry[] = "BGCOLOR_TOTAL";
constexpr char kSortingText[] = "Sorting ...\n";
constexpr char kConfirmDeleteText[] = "Do you really want to delete the selected file(s)?";
constexpr char kReadFailedText[] = "Read failed";
constexpr char kDestinationTitle[] = "Select a Destination Directory";

// A colour value with red in the low byte.
QColor ColorOf(unsigned value) { return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF); }

// Reads a colour from the profile and writes it straight back, so that the
// profile shows the value an administrator can change.
QColor ProfileColor(const char* entry, unsigned fallback) {
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return ColorOf(fallback);
  const unsigned value = pApp->GetProfileInt(kReportSection, entry, static_cast<int>(fallback));
  (void)pApp->WriteProfileInt(kReportSection, entry, static_cast<int>(value));  // only a help to the administrator
  return ColorOf(value);
}

unsigned ColorValue(const QColor& color) {
  return static_cast<unsigned>(color.red()) | static_cast<unsigned>(color.green()) << 8 |
         static_cast<unsigned>(color.blue()) << 16;
}

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

CMDIFrameWnd* MainFrame() { return dynamic_cast<CMDIFrameWnd*>(AfxGetMainWnd()); }

QFont HeadingFont(const QFont& base, bool bold) {
  QFont font = base;
  font.setPointSize(10);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  return font;
}

QStringList HeadingLines(const CFXDataManager* manager) {
  if (!manager || manager->GetHeading().empty()) return {};
  return Text(manager->GetHeading()).split(QStringLiteral("\r\n"));
}

}  // namespace

CFastReadView::CFastReadView() {
  MapCommand(ID_KS_DELETE, &CFastReadView::OnKsDelete);
  MapCommand(ID_EDIT_COPY, &CFastReadView::OnEditCopy);
  MapCommand(ID_MOVE_TO, &CFastReadView::OnMoveTo);
  MapUpdateCommand(ID_KS_DELETE, &CFastReadView::OnUpdateFileCommand);
  MapUpdateCommand(ID_EDIT_COPY, &CFastReadView::OnUpdateFileCommand);
  MapUpdateCommand(ID_MOVE_TO, &CFastReadView::OnUpdateFileCommand);
  MapCommand(ID_GRAPH, &CFastReadView::OnGraph);
  MapCommand(ID_GRAPH_POPUP, &CFastReadView::OnGraph);
  MapUpdateCommandRange(ID_GRAPH, ID_GRAPH, &CFastReadView::OnUpdateGraph);
  MapUpdateCommandRange(ID_GRAPH_POPUP, ID_GRAPH_POPUP, &CFastReadView::OnUpdateGraph);
  m_standardColor = ColorOf(kDefaultStandardColor);
  m_totalColor = ColorOf(kDefaultTotalColor);

  CGridCtrl* grid = GetGrid();
  grid->onDoubleClick = [this](int row, int column) { OnLButtonDblClkRowCol(row, column); };
  grid->onRightClick = [this](int row, int column, const QPoint& pos) { OnRButtonClickedRowCol(row, column, pos); };
  grid->onKey = [this](QKeyEvent* event) { return ProcessKeys(event); };
}

CFastReadView::~CFastReadView() {
  // The grid must not ask a view that is going for cells.
  GetGrid()->SetSource(nullptr);
}

CFastReadDoc* CFastReadView::GetDocument() const { return dynamic_cast<CFastReadDoc*>(CView::GetDocument()); }

void CFastReadView::OnInitialUpdate() {
  CFastReadDoc* pDoc = GetDocument();
  m_pDataManager = pDoc ? pDoc->GetDataManager() : nullptr;

  m_standardColor = ProfileColor(kStandardColorEntry, kDefaultStandardColor);
  m_totalColor = ProfileColor(kTotalColorEntry, kDefaultTotalColor);
  CGridCtrl* grid = GetGrid();
  GridSettings settings = grid->Settings();
  settings.background = m_standardColor;
  grid->ApplySettings(settings);

  const int perThousand = 1000 / grid->CharWidth();
  grid->SetDefaultColumnWidth(20000 / std::max(1, perThousand));
  grid->SetSource(this);

  m_headerCells.clear();
  for (int column = 1; column <= GridColumnCount(); ++column) m_headerCells.push_back(CellText(0, column));

  if (pDoc && m_pDataManager) pDoc->SetTitle(QStringLiteral("Report - %1").arg(Text(m_pDataManager->GetReportName())));
  MeasureBands();
  LayoutGrid();
  update();
}

int CFastReadView::GridRowCount() const {
  if (!m_pDataManager || m_pDataManager->GetLineCount() == 0) return 0;
  return static_cast<int>(std::min<std::uint32_t>(m_pDataManager->GetRecordCount(), INT32_MAX - 1)) + 1;
}

int CFastReadView::GridColumnCount() const { return m_pDataManager ? std::max(0, m_pDataManager->GetColumnCount()) : 0; }

void CFastReadView::GridRow(int row, std::vector<GridCell>& cells) {
  if (!m_pDataManager || row < 0 || row >= kMaxShownRow) return;
  const auto line = static_cast<std::uint32_t>(row);
  if (line >= m_pDataManager->GetLineCount()) {
    for (GridCell& cell : cells) cell.value = QString::fromLatin1(kReadFailedText);
    return;
  }
  std::string_view fields[CFXDataManager::kMaxFields];
  const int wanted = std::min<int>(static_cast<int>(cells.size()), CFXDataManager::kMaxFields);
  CFXDataManager::SplitFields(m_pDataManager->Line(line), wanted, fields);
  const bool deleted = row > 0 && m_pDataManager->IsDeleted(line);
  for (int column = 0; column < wanted; ++column) {
    GridCell& cell = cells[static_cast<std::size_t>(column)];
    const std::string_view field = fields[column];
    if (!field.empty()) {
      const bool quoted = field.front() == '"';
      cell.value = Text(quoted ? CFXDataManager::DisplayValue(field) : CFXDataManager::FormatNumber(field));
      cell.alignment = (quoted ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter;
    }
    if (row == 0) cell.alignment = Qt::AlignCenter;
    if (deleted) {
      cell.textColor = ColorOf(0x0000FF);
      cell.strikeOut = true;
    }
  }
}

std::string CFastReadView::CellText(int row, int column) const {
  if (!m_pDataManager || row < 0 || column < 1 || column > CFXDataManager::kMaxFields) return {};
  std::string_view fields[CFXDataManager::kMaxFields];
  CFXDataManager::SplitFields(m_pDataManager->Line(static_cast<std::uint32_t>(row)), column, fields);
  return CFXDataManager::DisplayValue(fields[column - 1]);
}

int CFastReadView::GridTop() const { return m_nHeadingHeight + m_nTotalsHeight + 7; }

void CFastReadView::OnGridSettingsChanged() {
  const QColor chosen = GetGrid()->Settings().background;
  if (chosen == m_standardColor) return;
  m_standardColor = chosen;
  // A profile that cannot be written keeps the colour for this window only.
  if (CWinApp* pApp = AfxGetApp())
    (void)pApp->WriteProfileInt(kReportSection, kStandardColorEntry, static_cast<int>(ColorValue(chosen)));
}

void CFastReadView::MeasureBands() {
  const QStringList lines = HeadingLines(m_pDataManager);
  m_nHeadingHeight = static_cast<int>(lines.size()) * QFontMetrics(HeadingFont(font(), true)).lineSpacing();
  m_nTotalsHeight = m_pDataManager && m_pDataManager->HasTotals()
                        ? 2 + QFontMetrics(HeadingFont(font(), false)).lineSpacing()
                        : 0;
}

void CFastReadView::OnDraw(QPainter* pDC) {
  pDC->fillRect(QRect(0, 0, width(), GridTop()), m_standardColor);
  const QStringList lines = HeadingLines(m_pDataManager);
  const QFont bold = HeadingFont(font(), true);
  pDC->setFont(bold);
  pDC->setPen(palette().color(QPalette::WindowText));
  const int lineHeight = QFontMetrics(bold).lineSpacing();
  for (qsizetype i = 0; i < lines.size(); ++i)
    pDC->drawText(QRect(4, static_cast<int>(i) * lineHeight, width() - 8, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                  lines[i]);
  if (m_nTotalsHeight > 0) {
    const QRect band(0, m_nHeadingHeight + 2, width(), m_nTotalsHeight - 2);
    pDC->fillRect(band, m_totalColor);
    pDC->setFont(HeadingFont(font(), false));
    pDC->drawText(band.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, Text(m_pDataManager->GetTotalsText()));
  }
}

void CFastReadView::OnLButtonDblClkRowCol(int row, int column) {
  if (row != 0 || column < 1 || !m_pDataManager || m_pDataManager->IsCustomReport()) return;
  CMDIFrameWnd* pFrame = MainFrame();
  if (pFrame) pFrame->SetMessageText(QString::fromLatin1(kSortingText).trimmed());
  bool sorted = false;
  {
    const CWaitCursor wait;
    sorted = m_pDataManager->SortByColumn(static_cast<std::uint32_t>(column));
  }
  GetGrid()->Redraw();
  if (pFrame) pFrame->SetMessageText(QString());
  // The order stays as it was: say why nothing moved.
  if (!sorted) {
    const std::string_view text = vn::console::KSLoadString(vn::console::IDS_NOT_ENOUGH_MEMORY);
    AfxMessageBox(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), MB_OK | MB_ICONEXCLAMATION);
  }
}

std::unique_ptr<QMenu> CFastReadView::CreateContextMenu(int row) {
  if (row <= 0) return nullptr;
  auto menu = std::make_unique<QMenu>(window());
  const auto add = [this, &menu](UINT nID, const QString& text) { AddCommandAction(*menu, this, nID, text); };
  add(ID_EDIT_FIND, QStringLiteral("&Find\t Ctrl+F"));
  add(ID_KS_DELETE, QStringLiteral("&Delete\tDel"));
  add(ID_EDIT_COPY, QStringLiteral("&Copy to..."));
  add(ID_MOVE_TO, QStringLiteral("&Move to..."));
  menu->addSeparator();
  add(ID_GRAPH_POPUP, QStringLiteral("&Graph..."));
  return menu;
}

void CFastReadView::OnRButtonClickedRowCol(int row, int, const QPoint& globalPos) {
  if (const std::unique_ptr<QMenu> menu = CreateContextMenu(row)) menu->exec(globalPos);
}

bool CFastReadView::ProcessKeys(QKeyEvent* event) {
  if (event->key() != Qt::Key_Delete || event->modifiers() != Qt::NoModifier) return false;
  if (FilesOnly()) OnKsDelete();
  return true;
}

void CFastReadView::OnUpdateFileCommand(CCmdUI* pCmdUI) { pCmdUI->Enable(FilesOnly()); }

void CFastReadView::OnUpdateGraph(CCmdUI* pCmdUI) {
  pCmdUI->Enable(m_pDataManager && !m_pDataManager->IsCustomReport() &&
                 vn::console::CanGraphReportKind(m_pDataManager->GetReportKind()));
}

int CFastReadView::SaveGraphDataToFile(const std::string& fileName) const {
  if (!m_pDataManager) return 0;
  vn::console::ChartResult result;
  result.rowCount = std::max(0, GridRowCount() - 1);
  result.columnCount = GridColumnCount();
  result.cellText = [this](int row, int column) { return CellText(row, column); };
  result.reportKind = m_pDataManager->GetReportKind();
  result.title = m_pDataManager->GetReportName();
  result.header = m_pDataManager->GetHeading();
  return vn::console::SaveGraphDataToFile(fileName, result);
}

namespace {

// A new empty file "Gra<hex digits>.tmp" in the temporary directory, made
// here so that no other graph takes the name; empty when none could be made.
QString NewGraphFile() {
  const QDir directory(QDir::tempPath());
  std::uint32_t unique = QRandomGenerator::global()->bounded(1u, 0x10000u);
  for (int tries = 0; tries < 0x10000; ++tries, unique = unique % 0xFFFF + 1) {
    const QString path = directory.filePath(QStringLiteral("Gra%1.tmp").arg(QString::number(unique, 16).toUpper()));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return path;
    if (!file.exists()) return {};  // not a name taken: the directory refuses new files
  }
  return {};
}

CMultiDocTemplate* GraphTemplate() {
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return nullptr;
  for (CDocTemplate* pTemplate : pApp->GetDocTemplates())
    if (pTemplate->GetDocClass() == RUNTIME_CLASS(CGraphDoc)) return dynamic_cast<CMultiDocTemplate*>(pTemplate);
  return nullptr;
}

}  // namespace

void CFastReadView::OnGraph() {
  const CWaitCursor wait;
  CMultiDocTemplate* pTemplate = GraphTemplate();
  if (!pTemplate) return;
  const QString path = NewGraphFile();
  if (path.isEmpty()) return;
  if (!SaveGraphDataToFile(QFile::encodeName(path).toStdString()) || !pTemplate->OpenDocumentFile(path, TRUE))
    (void)QFile::remove(path);  // no graph: its file goes with it
}

bool CFastReadView::FilesOnly() const {
  if (!m_pDataManager) return false;
  // Only two selected rows decide: the first one still there and the last
  // one selected, so a select-all of a long result is neither listed nor
  // split.
  const CGridCtrl* grid = GetGrid();
  const int last = grid->LastSelectedRow();
  int live = -1;
  grid->VisitSelectedRows([this, &live](int row) {
    if (row <= 0 || m_pDataManager->IsDeleted(static_cast<std::uint32_t>(row))) return true;
    live = row;
    return false;
  });
  std::vector<vn::console::SelectedRow> selection;
  if (live >= 0 && live != last) selection.push_back({live, {}, false});
  if (last >= 0)
    selection.push_back(
        {last, CellText(last, 1), last > 0 && m_pDataManager->IsDeleted(static_cast<std::uint32_t>(last))});
  const CFastReadDoc* pDoc = GetDocument();
  return vn::console::FilesOnly(vn::console::FindFileColumns(m_headerCells), pDoc && pDoc->IsDeleteOnClose(),
                                selection);
}

std::vector<int> CFastReadView::RowsToProcess() const {
  std::vector<int> rows;
  for (const int row : GetGrid()->SelectedRows())
    if (row > 0 && !m_pDataManager->IsDeleted(static_cast<std::uint32_t>(row))) rows.push_back(row);
  return rows;
}

void CFastReadView::OnKsDelete() {
  if (!m_pDataManager || GetGrid()->SelectedRowCount() == 0) return;
  if (AfxMessageBox(QString::fromLatin1(kConfirmDeleteText), MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  const vn::console::FileColumns columns = vn::console::FindFileColumns(m_headerCells);
  const CWaitCursor wait;
  for (const int row : RowsToProcess()) {
    const std::string path =
        vn::console::RowPath(CellText(row, columns.directory), CellText(row, columns.fileName));
    if (const DWORD error = vn::console::DeleteFileOrTree(path)) {
      char text[1024];
      vn::console::GetSystemErrorText(error, text, sizeof text);
      AfxMessageBox(QString::fromLocal8Bit(text), MB_OK | MB_ICONEXCLAMATION);
      continue;
    }
    MarkRowDeleted(row);
  }
}

void CFastReadView::MarkRowDeleted(int row) {
  if (!m_pDataManager || row <= 0) return;
  m_pDataManager->MarkDeleted(static_cast<std::uint32_t>(row));
  GetGrid()->RedrawRow(row);
}

void CFastReadView::OnEditCopy() { ProcessFiles(0); }

void CFastReadView::OnMoveTo() { ProcessFiles(1); }

void CFastReadView::ProcessFiles(int move) {
  const QString chosen = QFileDialog::getExistingDirectory(
      this, QString::fromLatin1(kDestinationTitle), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
      QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (chosen.isEmpty()) return;
  // The folder as this machine's file calls name it: a path on one of its drives.
  std::string directory;
  const auto config = vn::LocalMachineConfig();
  if (!config || !vn::DrivePathOfHostPath(*config, QFile::encodeName(chosen).toStdString(), &directory)) return;
  (void)CopyFileTo(directory.c_str(), move);  // a failure has been shown
}

int CFastReadView::CopyFileTo(const char* directory, int move) {
  if (!m_pDataManager || !directory) return 0;
  const vn::console::FileColumns columns = vn::console::FindFileColumns(m_headerCells);
  std::vector<vn::console::FileToCopy> files;
  for (const int row : RowsToProcess()) {
    const std::string name = CellText(row, columns.fileName);
    files.push_back({vn::console::RowPath(CellText(row, columns.directory), name), name});
  }
  const CWaitCursor wait;
  const vn::console::CopyOutcome outcome = vn::console::CopyFilesTo(files, directory, move != 0);
  if (outcome.error == 0) return 1;
  char text[1024];
  vn::console::GetSystemErrorText(outcome.error, text, sizeof text);
  AfxMessageBox(QStringLiteral("%1\n%2").arg(QString::fromLocal8Bit(outcome.failedSource.c_str()),
                                             QString::fromLocal8Bit(text)),
                MB_OK | MB_ICONEXCLAMATION);
  return 0;
}
