// The result window as the console opens it: real result files through the
// result template, offscreen, with this machine and another of the test
// harness holding the files the rows name. Heading, totals, cells and the
// row cut-off; sorting and deleted marks through the view; delete on close;
// Save and Save As read back; Delete, Copy to and Move to.
#include <gtest/gtest.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/core/history/HistoryStore.h"
#include "console/core/results/FXDataManager.h"
#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/grid/GridModel.h"
#include "console/widgets/grid/GridSettingsDlg.h"
#include "console/widgets/results/FastReadDoc.h"
#include "console/widgets/results/FastReadView.h"
#include "console/widgets/results/GrowthSinceDlg.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"
#include "ui/CmdUI.h"
#include "ui/CommandIds.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::MachineNetwork;
using vn::testing::ReadText;
using vn::testing::WriteText;

std::string Result(const std::string& heading, const std::vector<std::string>& rows, const std::string& totals = {}) {
  std::string text = "\"A1\",9,4\r\n" + heading + "\"H1\",\"FileName\",\"Size\",\"Directory\"\r\n";
  for (const std::string& row : rows) text += row + "\r\n";
  if (!totals.empty()) text += totals + "\r\n";
  return text;
}

const std::string kListing = Result("\"B1\",\"All Files\"\r\n\"B1\",\"Computer: SRV1\",\"Run: today\"\r\n",
                                    {"\"D1\",\"b.txt\",1234567,\"C:\\Data\"", "\"D1\",\"a.txt\",-5,\"C:\\Data\"",
                                     "\"D1\",\"c.txt\",20,\"C:\\Data\""},
                                    "\"TF\",\"Files\",3,\"Size\",1234582");

class FastReadViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::Server, {"Data"}});
    ASSERT_TRUE(s_net->StartAll());
  }
  static void TearDownTestSuite() { s_net.reset(); }

  FastReadViewTest() {
    pKSRptDocTemplate = new CMultiDocTemplate(vn::console::IDR_KSRPTTYPE, RUNTIME_CLASS(CFastReadDoc),
                                              RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CFastReadView));
    m_app->AddDocTemplate(pKSRptDocTemplate);
    m_previousHook = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text);
      return m_answer;
    });
    m_local = s_net->Console().driveC / "work";
    m_remote = s_net->Machine("SRV1").ShareDir("Data") / "work";
    fs::create_directories(m_local);
    fs::create_directories(m_remote);
  }
  ~FastReadViewTest() override {
    m_session.End();
    AfxSetMessageBoxHook(m_previousHook);
    pKSRptDocTemplate = nullptr;
    std::error_code ec;
    fs::remove_all(m_local, ec);
    fs::remove_all(m_remote, ec);
  }

  std::string Path(const std::string& name) const { return m_dir.filePath(QString::fromStdString(name)).toStdString(); }
  CFastReadView* Open(const std::string& text, bool runResult, const std::string& name = "result.csv") {
    WriteText(Path(name), text);
    auto* pDoc = dynamic_cast<CFastReadDoc*>(pKSRptDocTemplate->OpenDocumentFile(QString::fromStdString(Path(name))));
    if (!pDoc) return nullptr;
    if (runResult) pDoc->DeleteOnClose();
    return dynamic_cast<CFastReadView*>(pDoc->GetViews().front());
  }
  static QString Cell(CFastReadView* view, int row, int column) {
    CGridModel* model = view->GetGrid()->Model();
    return model->data(model->index(row, column - 1)).toString();
  }
  static bool Enabled(CFastReadView* view, UINT id) {
    CCmdUI state(id);
    state.DoUpdate(view, TRUE);
    return state.m_bEnabled;
  }
  static void Select(CFastReadView* view, const std::vector<int>& rows) {
    bool add = false;
    for (const int row : rows) {
      view->GetGrid()->SelectRow(row, add);
      add = true;
    }
  }
  // A listing of files with the given directory and name cells.
  static std::string Listing(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::string> rows;
    for (const auto& [directory, name] : files)
      rows.push_back("\"D1\",\"" + name + "\",1,\"" + directory + "\"");
    return Result("\"B1\",\"All Files\"\r\n", rows);
  }

  static std::unique_ptr<MachineNetwork> s_net;
  QTemporaryDir m_dir;
  vn::console::testing::ConsoleSession<CMDIFrameWnd> m_session;
  std::unique_ptr<CWinApp>& m_app = m_session.m_app;
  std::unique_ptr<CMDIFrameWnd>& m_mainFrame = m_session.m_mainFrame;
  MessageBoxHook m_previousHook;
  std::vector<QString> m_messages;
  int m_answer = IDYES;
  fs::path m_local;   // C:\work of this machine
  fs::path m_remote;  // \\SRV1\Data\work
};

std::unique_ptr<MachineNetwork> FastReadViewTest::s_net;

TEST_F(FastReadViewTest, ShowsHeadingTotalsAndCellsInTheProfilesColours) {
  ASSERT_TRUE(m_app->WriteProfileInt("VNReport", "BGCOLOR_TOTAL", 0x112233));
  CFastReadView* view = Open(kListing, false);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->GetDocument()->GetTitle(), QStringLiteral("Report - All Files"));
  EXPECT_EQ(view->GridRowCount(), 4);  // the header line and three rows; the totals sit above the grid
  EXPECT_EQ(view->GridColumnCount(), 4);

  CGridModel* model = view->GetGrid()->Model();
  struct Expected {
    int row, column;
    const char* text;
    Qt::Alignment alignment;
  };
  const Expected cells[] = {
      {0, 1, "H1", Qt::AlignCenter},         {0, 3, "Size", Qt::AlignCenter},
      {1, 1, "D1", Qt::AlignLeft},           {1, 2, "b.txt", Qt::AlignLeft},
      {1, 3, "1,234,567", Qt::AlignRight},   {2, 3, "- 5", Qt::AlignRight},
      {3, 4, "C:\\Data", Qt::AlignLeft},
  };
  for (const Expected& c : cells) {
    const QModelIndex index = model->index(c.row, c.column - 1);
    EXPECT_EQ(model->data(index).toString(), QString::fromUtf8(c.text)) << c.row << "," << c.column;
    EXPECT_EQ(model->data(index, Qt::TextAlignmentRole).toInt() & (Qt::AlignHorizontal_Mask),
              static_cast<int>(c.alignment & Qt::AlignHorizontal_Mask))
        << c.row << "," << c.column;
  }

  // Colours: the default standard colour and the profile's totals colour,
  // both written back; red is the low byte.
  EXPECT_EQ(view->StandardColor(), QColor(0xFF, 0xFF, 0xE6));
  EXPECT_EQ(view->TotalColor(), QColor(0x33, 0x22, 0x11));
  EXPECT_EQ(m_app->GetProfileInt("VNReport", "BGCOLOR_STANDARD", 0), 0xE6FFFFu);
  EXPECT_EQ(model->data(model->index(1, 1), Qt::BackgroundRole).value<QColor>(), view->StandardColor());

  // Two heading lines, the totals band, then the grid.
  EXPECT_GT(view->HeadingHeight(), 0);
  EXPECT_GT(view->TotalsHeight(), 0);
  EXPECT_EQ(view->GetGrid()->geometry().top(), view->HeadingHeight() + view->TotalsHeight() + 7);
  const int charWidth = view->GetGrid()->CharWidth();
  EXPECT_EQ(view->GetGrid()->DefaultColumnWidth(), 20000 / (1000 / charWidth));

  // A background chosen in the display settings is the new standard colour.
  QTimer::singleShot(0, [] {
    auto* dlg = qobject_cast<CGridSettingsDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    dlg->SetBackground(QColor(0x10, 0x20, 0x30));
    dlg->accept();
  });
  EXPECT_TRUE(view->OnCmdMsg(CGridView::ID_VIEW_PROPERTIES, CN_COMMAND, nullptr));
  EXPECT_EQ(view->StandardColor(), QColor(0x10, 0x20, 0x30));
  EXPECT_EQ(m_app->GetProfileInt("VNReport", "BGCOLOR_STANDARD", 0), 0x302010u);
  ASSERT_TRUE(m_app->WriteProfileInt("VNReport", "BGCOLOR_STANDARD", 0xE6FFFF));

  // Without totals there is no band.
  CFastReadView* plain = Open(Result("\"B1\",\"Files By Size\"\r\n", {"\"D1\",\"x\",1,\"C:\\\\\""}), false, "plain.csv");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->TotalsHeight(), 0);
  EXPECT_EQ(plain->GridRowCount(), 2);
}

TEST_F(FastReadViewTest, RowsFromTheCutOffShowNoValue) {
  std::string text = Result("\"B1\",\"All Files\"\r\n", {});
  text.reserve(text.size() + 159970 * 24);
  for (int i = 1; i <= 159970; ++i) text += "\"D1\",\"f" + std::to_string(i) + "\",1,\"C:\\\\\"\r\n";
  CFastReadView* view = Open(text, false);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->GridRowCount(), 159971);
  EXPECT_EQ(Cell(view, 159963, 2), QStringLiteral("f159963"));
  for (int row : {159964, 159965, 159970}) EXPECT_EQ(Cell(view, row, 2), QString()) << row;
}

TEST_F(FastReadViewTest, SortsOnTheHeaderRowAndMarksFollowTheirRows) {
  CFastReadView* view = Open(kListing, true);
  ASSERT_NE(view, nullptr);
  auto column = [view](int c) {
    std::vector<QString> values;
    for (int row = 1; row < view->GridRowCount(); ++row) values.push_back(Cell(view, row, c));
    return values;
  };
  view->OnLButtonDblClkRowCol(1, 3);  // not the header row: nothing
  EXPECT_EQ(column(2), (std::vector<QString>{QStringLiteral("b.txt"), QStringLiteral("a.txt"), QStringLiteral("c.txt")}));
  view->OnLButtonDblClkRowCol(0, 3);
  EXPECT_EQ(column(3), (std::vector<QString>{QStringLiteral("- 5"), QStringLiteral("20"), QStringLiteral("1,234,567")}));
  EXPECT_EQ(m_mainFrame->statusBar()->currentMessage(), QString());  // back to idle
  view->GetDataManager()->MarkDeleted(1);  // a.txt
  view->OnLButtonDblClkRowCol(0, 3);
  EXPECT_EQ(column(2), (std::vector<QString>{QStringLiteral("b.txt"), QStringLiteral("c.txt"), QStringLiteral("a.txt")}));
  CGridModel* model = view->GetGrid()->Model();
  EXPECT_TRUE(model->data(model->index(3, 1), Qt::FontRole).value<QFont>().strikeOut());
  EXPECT_EQ(model->data(model->index(3, 1), Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
  EXPECT_FALSE(model->data(model->index(1, 1), Qt::FontRole).value<QFont>().strikeOut());

  // A custom report does not sort.
  CFastReadView* custom =
      Open(Result("\"B1\",\"CUSTOM\",\"Mine\"\r\n", {"\"D1\",\"b\",2,\"C:\\\\\"", "\"D1\",\"a\",1,\"C:\\\\\""}), false,
           "custom.csv");
  ASSERT_NE(custom, nullptr);
  custom->OnLButtonDblClkRowCol(0, 2);
  EXPECT_EQ(Cell(custom, 1, 2), QStringLiteral("b"));
}

TEST_F(FastReadViewTest, ARunsResultDeletesItsFileOnCloseAndOneFromDiskKeepsIt) {
  ASSERT_NE(Open(kListing, true, "run.csv"), nullptr);
  ASSERT_NE(Open(kListing, false, "disk.csv"), nullptr);
  m_app->CloseAllDocuments(FALSE);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(fs::exists(Path("run.csv")));
  EXPECT_EQ(ReadText(Path("disk.csv")), kListing);

  // A file that cannot be opened leaves no window.
  EXPECT_EQ(pKSRptDocTemplate->OpenDocumentFile(QString::fromStdString(Path("missing.csv"))), nullptr);
  fs::create_directory(Path("folder.csv"));
  EXPECT_EQ(pKSRptDocTemplate->OpenDocumentFile(QString::fromStdString(Path("folder.csv"))), nullptr);
  EXPECT_TRUE(pKSRptDocTemplate->GetDocuments().empty());
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_TRUE(m_messages[1].startsWith(QStringLiteral("Cannot open")));
}

// "Growth Since" over the history this machine records into: nothing to
// choose while it holds no Space By Directory scan (or cannot be opened),
// then those scans newest first, and OK opens the growth from the chosen one
// as a run's result window.
TEST_F(FastReadViewTest, GrowthSinceListsTheDirectoryScansAndOpensTheGrowth) {
  QTreeWidget* scans = nullptr;
  const auto okEnabled = [](const CGrowthSinceDlg& dialog) {
    return dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled();
  };
  fs::create_directory(Path("not-a-database"));
  ASSERT_TRUE(m_app->WriteProfileString("VNReport", "HistoryDatabase", QString::fromStdString(Path("not-a-database"))));
  {
    CGrowthSinceDlg dialog;
    EXPECT_TRUE(dialog.Status()->text().startsWith(QStringLiteral("The scan history cannot be opened: ")));
    EXPECT_FALSE(okEnabled(dialog));
  }
  const std::string db = Path("history.db");
  ASSERT_TRUE(m_app->WriteProfileString("VNReport", "HistoryDatabase", QString::fromStdString(db)));
  {
    CGrowthSinceDlg dialog;
    EXPECT_EQ(dialog.Status()->text(),
              QStringLiteral("The scan history holds no Space By Directory scan yet: run one first."));
    EXPECT_FALSE(okEnabled(dialog));
  }
  vn::console::CHistoryStore store;
  ASSERT_FALSE(store.Open(db));
  const auto record = [&](const char* report, const char* started, long long files, long long bytes) {
    vn::console::HistoryScan scan;
    scan.started = started, scan.origin = "VN", scan.report = report;
    scan.machines.push_back({"SRV1", "\\\\SRV1\\Data", {{vn::console::MeasureKind::Directory,
                                                            "\\\\SRV1\\Data", 0, files, bytes, bytes}}});
    ASSERT_FALSE(store.Record(scan));
  };
  record("Space By Directory", "2026-12-01 08:00:00", 10, 1000);
  record("Space By User", "2026-12-02 08:00:00", 10, 1000);
  record("Space By Directory", "2026-12-03 08:00:00", 12, 1500);
  record("Space By Directory", "2026-12-08 08:00:00", 15, 4000);
  CGrowthSinceDlg dialog;
  scans = dialog.Scans();
  ASSERT_EQ(scans->topLevelItemCount(), 3);
  EXPECT_EQ(scans->topLevelItem(0)->text(1), QStringLiteral("2026-12-08 08:00:00"));
  EXPECT_EQ(scans->topLevelItem(2)->text(1), QStringLiteral("2026-12-01 08:00:00"));
  // The run before the latest is chosen; the user takes the first one.
  EXPECT_EQ(scans->currentItem(), scans->topLevelItem(1));
  scans->setCurrentItem(scans->topLevelItem(2));
  dialog.accept();
  ASSERT_EQ(dialog.result(), QDialog::Accepted) << dialog.Status()->text().toStdString();
  const QString file = dialog.GetResultFile();
  ASSERT_TRUE(OpenRunResult(*pKSRptDocTemplate, file));
  const std::string text = ReadText(file.toStdString());
  EXPECT_NE(text.find("\"B1\",\"Growth Since\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"D1\",\"SRV1\",\"\\\\SRV1\\Data\",0,10,15,5,1000,4000,3000"), std::string::npos) << text;
  m_app->CloseAllDocuments(FALSE);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(QFile::exists(file));
  ASSERT_TRUE(m_app->WriteProfileString("VNReport", "HistoryDatabase", QString()));
}

TEST_F(FastReadViewTest, SaveAndSaveAsWriteEveryFormat) {
  CFastReadView* view = Open(kListing, true);
  ASSERT_NE(view, nullptr);
  CFastReadDoc* pDoc = view->GetDocument();

  EXPECT_EQ(pDoc->SaveCopy(QString::fromStdString(Path("report"))).toStdString(), Path("report.csv"));
  EXPECT_EQ(pDoc->SaveCopy(QString::fromStdString(Path("second."))).toStdString(), Path("second.csv"));
  EXPECT_EQ(pDoc->SaveCopy(QString::fromStdString(Path("THIRD.CSV"))).toStdString(), Path("THIRD.CSV"));
  for (const char* name : {"report.csv", "second.csv", "THIRD.CSV"}) EXPECT_EQ(ReadText(Path(name)), kListing) << name;

  // Save As, type by type in the filter's order.
  EXPECT_EQ(pDoc->SaveConverted(QString::fromStdString(Path("out")), 0).toStdString(), Path("out.txt"));
  EXPECT_NE(ReadText(Path("out.txt")).find("Files   3 Size   1,234,582"), std::string::npos);
  EXPECT_EQ(pDoc->SaveConverted(QString::fromStdString(Path("out.")), 1).toStdString(), Path("out.csv"));
  EXPECT_EQ(ReadText(Path("out.csv")), kListing);
  EXPECT_EQ(pDoc->SaveConverted(QString::fromStdString(Path("out")), 2).toStdString(), Path("out.htm"));
  EXPECT_NE(ReadText(Path("out.htm")).find("<td>b.txt</td>"), std::string::npos);
  EXPECT_EQ(pDoc->SaveConverted(QString::fromStdString(Path("out")), 3).toStdString(), Path("out.dbf"));
  const std::string dbf = ReadText(Path("out.dbf"));
  ASSERT_GT(dbf.size(), 8u);
  EXPECT_EQ(dbf[0], '\x03');  // a dBASE table of three records
  EXPECT_EQ(static_cast<unsigned char>(dbf[4]), 3);
  EXPECT_TRUE(m_messages.empty());

  // Failures are told and write nothing.
  EXPECT_TRUE(pDoc->SaveCopy(QString::fromStdString(Path("no/such/dir/r.csv"))).isEmpty());
  EXPECT_TRUE(pDoc->SaveConverted(QString::fromStdString(Path("no/such/dir/r")), 2).isEmpty());
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_FALSE(m_messages[0].isEmpty());
  EXPECT_TRUE(m_messages[1].startsWith(QStringLiteral("Cannot create")));

  // Save through its dialog: the name typed gets its ".csv".
  QTimer::singleShot(0, [this] {
    auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->nameFilters(), QStringList{QStringLiteral("Comma Delimited (*.csv)")});
    dlg->selectFile(QString::fromStdString(Path("typed")));
    static_cast<QDialog*>(dlg)->accept();
  });
  EXPECT_TRUE(pDoc->OnCmdMsg(ID_FILE_SAVE, CN_COMMAND, nullptr));
  EXPECT_EQ(ReadText(Path("typed.csv")), kListing);
}

TEST_F(FastReadViewTest, DeleteMarksRowsAndSkipsThemAfterwards) {
  WriteText(m_local / "a.txt", "a");
  fs::create_directories(m_remote / "tree" / "sub");
  WriteText(m_remote / "tree" / "sub" / "x.txt", "x");
  WriteText(m_remote / "b.txt", "b");
  CFastReadView* view =
      Open(Listing({{"C:\\work", "a.txt"}, {"\\\\SRV1\\Data\\work\\tree", ""}, {"\\\\SRV1\\Data\\work\\", "b.txt"}}), true);
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(Enabled(view, CFastReadView::ID_KS_DELETE));  // nothing selected
  Select(view, {1, 2});
  EXPECT_TRUE(Enabled(view, CFastReadView::ID_KS_DELETE));
  EXPECT_FALSE(Enabled(view, CFastReadView::ID_GRAPH));

  m_answer = IDNO;
  view->OnKsDelete();
  EXPECT_TRUE(fs::exists(m_local / "a.txt"));
  m_answer = IDYES;
  view->OnKsDelete();
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_EQ(m_messages[1], QStringLiteral("Do you really want to delete the selected file(s)?"));
  EXPECT_FALSE(fs::exists(m_local / "a.txt"));
  EXPECT_FALSE(fs::exists(m_remote / "tree"));  // the empty file name named the directory
  EXPECT_TRUE(view->GetDataManager()->IsDeleted(1));
  EXPECT_TRUE(view->GetDataManager()->IsDeleted(2));
  EXPECT_FALSE(Enabled(view, CFastReadView::ID_KS_DELETE));  // nothing left to act on

  // The second time, marked rows are not asked of the file system.
  WriteText(m_local / "a.txt", "back");
  Select(view, {1, 2, 3});
  view->OnKsDelete();
  EXPECT_EQ(ReadText(m_local / "a.txt"), "back");
  EXPECT_FALSE(fs::exists(m_remote / "b.txt"));

  // A failure is told with the system's text, and the row stays unmarked.
  CFastReadView* other = Open(Listing({{"C:\\work", "gone.txt"}}), true, "other.csv");
  ASSERT_NE(other, nullptr);
  Select(other, {1});
  m_messages.clear();
  other->OnKsDelete();
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_FALSE(m_messages[1].isEmpty());
  EXPECT_FALSE(other->GetDataManager()->IsDeleted(1));
}

TEST_F(FastReadViewTest, FileCommandsAreRefusedWhereTheyMustBe) {
  WriteText(m_local / "a.txt", "a");
  const std::string listing =
      Result("\"B1\",\"Files\"\r\n", {"\"D1\",\"a.txt\",1,\"C:\\work\"", "\"DS\",\"\",1,\"C:\\work\""});
  CFastReadView* fromDisk = Open(listing, false, "disk.csv");
  ASSERT_NE(fromDisk, nullptr);
  Select(fromDisk, {1});
  for (UINT id : {CFastReadView::ID_KS_DELETE, CFastReadView::ID_EDIT_COPY, CFastReadView::ID_MOVE_TO})
    EXPECT_FALSE(Enabled(fromDisk, id)) << id;
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(fromDisk->GetGrid(), &del);
  EXPECT_TRUE(m_messages.empty());
  EXPECT_TRUE(fs::exists(m_local / "a.txt"));

  CFastReadView* run = Open(listing, true, "run.csv");
  ASSERT_NE(run, nullptr);
  Select(run, {1, 2});  // a DS row last
  EXPECT_FALSE(Enabled(run, CFastReadView::ID_EDIT_COPY));
  Select(run, {2, 1});
  EXPECT_TRUE(Enabled(run, CFastReadView::ID_EDIT_COPY));

  // The context menu: none on the header row; on a data row its entries.
  EXPECT_EQ(run->CreateContextMenu(0), nullptr);
  const std::unique_ptr<QMenu> menu = run->CreateContextMenu(1);
  ASSERT_NE(menu, nullptr);
  std::vector<std::pair<QString, bool>> entries;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) entries.emplace_back(action->text(), action->isEnabled());
  const std::vector<std::pair<QString, bool>> expected = {
      {QStringLiteral("&Find\t Ctrl+F"), false}, {QStringLiteral("&Delete\tDel"), true},
      {QStringLiteral("&Copy to..."), true},     {QStringLiteral("&Move to..."), true},
      {QStringLiteral("&Graph..."), false}};
  EXPECT_EQ(entries, expected);

  // The Delete key on a run's result asks, then deletes.
  Select(run, {1});
  QApplication::sendEvent(run->GetGrid(), &del);
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_FALSE(fs::exists(m_local / "a.txt"));
}

TEST_F(FastReadViewTest, CopiesAndMovesTheListedFiles) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteText(m_local / name, name);
  fs::create_directories(m_remote / "dest");
  WriteText(m_remote / "dest" / "b.txt", "older");
  CFastReadView* view = Open(Listing({{"C:\\work", "a.txt"}, {"C:\\work", "b.txt"}, {"C:\\work", "c.txt"}}), true);
  ASSERT_NE(view, nullptr);
  Select(view, {1, 2, 3});
  EXPECT_EQ(view->CopyFileTo("\\\\SRV1\\Data\\work\\dest", 0), 0);
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_TRUE(m_messages[0].startsWith(QStringLiteral("C:\\work\\b.txt\n"))) << m_messages[0].toStdString();
  EXPECT_EQ(ReadText(m_remote / "dest" / "a.txt"), "a.txt");
  EXPECT_EQ(ReadText(m_remote / "dest" / "b.txt"), "older");
  EXPECT_FALSE(fs::exists(m_remote / "dest" / "c.txt"));

  // Move, in selection order, through the folder dialog: a folder of this
  // machine becomes its drive path.
  fs::create_directories(m_local / "moved");
  Select(view, {3, 2});
  QTimer::singleShot(0, [this] {
    auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Select a Destination Directory"));
    dlg->setDirectory(QString::fromStdString((m_local / "moved").string()));
    dlg->selectFile(QString::fromStdString((m_local / "moved").string()));
    static_cast<QDialog*>(dlg)->accept();
  });
  EXPECT_TRUE(view->OnCmdMsg(CFastReadView::ID_MOVE_TO, CN_COMMAND, nullptr));
  EXPECT_EQ(ReadText(m_local / "moved" / "c.txt"), "c.txt");
  EXPECT_EQ(ReadText(m_local / "moved" / "b.txt"), "b.txt");
  EXPECT_FALSE(fs::exists(m_local / "c.txt"));
  EXPECT_FALSE(view->GetDataManager()->IsDeleted(3));  // moved rows are not marked
  EXPECT_EQ(m_messages.size(), 1u);
}

}  // namespace
