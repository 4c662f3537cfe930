# The result window's rules and file operations need no widgets: they join the
# core library, where tests reach them without a display.
target_sources(vnconsolecore PRIVATE
  results/ResultRules.h results/ResultRules.cpp
  results/ResultFileOps.h results/ResultFileOps.cpp
)

# libVNConsole.so: the console module. Built with hidden symbols; what hosts may
# use carries KS_EXPORT. The core library is linked in whole but not re-exported.
add_library(VNConsole SHARED
  entry/KSExport.h
  entry/KSEntry.h entry/KSEntry.cpp
  entry/KSModule.h entry/KSModule.cpp
  entry/KSMDIChildWnd.h entry/KSMDIChildWnd.cpp
  graphs/GraphDoc.h graphs/GraphDoc.cpp
  graphs/GraphView.h graphs/GraphView.cpp
  grid/GridLibrary.h grid/GridLibrary.cpp
  grid/GridZoom.h
  grid/GridModel.h grid/GridModel.cpp
  grid/GridCtrl.h grid/GridCtrl.cpp
  grid/GridSettingsDlg.h grid/GridSettingsDlg.cpp
  grid/GridView.h grid/GridView.cpp
  grid/MyGridView.h grid/MyGridView.cpp
  results/FastReadDoc.h results/FastReadDoc.cpp
  results/FastReadView.h results/FastReadView.cpp
  help/VN4Help.h help/VN4Help.cpp
  objects/ObjectTreeModel.h objects/ObjectTreeModel.cpp
  objects/KSMgrDoc.h objects/KSMgrDoc.cpp
  objects/KSMgrFrame.h objects/KSMgrFrame.cpp
  objects/KSTreeView.h objects/KSTreeView.cpp
  objects/KSListView.h objects/KSListView.cpp
  objects/AddPreferredMachineDlg.h objects/AddPreferredMachineDlg.cpp
  objects/ChooseServerDlg.h objects/ChooseServerDlg.cpp
  objects/ComputerBrowserDlg.h objects/ComputerBrowserDlg.cpp
  reports/SelectReportDlg.h reports/SelectReportDlg.cpp
  run/ReportRun.h run/ReportRun.cpp
  run/ReportMerge.h run/ReportMerge.cpp
)
set_target_properties(VNConsole PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  AUTOMOC ON)
target_link_libraries(VNConsole PUBLIC vnui PRIVATE vnconsolecore ConvertCSV Qt6::PrintSupport)
target_link_options(VNConsole PRIVATE "LINKER:--exclude-libs,libvnconsolecore.a")

# The help file "VN4.hlp": its pages, under qrc:/help/VN4/.
qt_add_resources(VNConsole vn4help
  PREFIX /help/VN4
  BASE help/VN4
  FILES
    help/VN4/Contents.html
    help/VN4/GettingStarted.html)

vn_add_test(entry_tests entry WIDGETS
  SOURCES tests/entry/EntryTest.cpp
  LIBRARIES VNConsole vnui ${CMAKE_DL_LIBS})

# The manager window, object tree, information pane and machine dialogs,
# offscreen, against machines of the test harness.
vn_add_test(objects_view_tests objects WIDGETS
  SOURCES tests/objects/ObjectViewsTest.cpp
  LIBRARIES VNConsole vnui vnconsolecore vn_machine_testing Qt6::Test)

# The result window: the grid, the document and view over real result files,
# sorting and marks, Save and Save As read back, and the file commands on this
# machine and on another of the test harness; offscreen.
vn_add_test(results_view_tests results WIDGETS
  SOURCES
    tests/results/ResultRulesTest.cpp
    tests/results/ResultFileOpsTest.cpp
    tests/results/GridTest.cpp
    tests/results/FastReadViewTest.cpp
  LIBRARIES VNConsole vnui vnconsolecore vn_machine_testing Qt6::PrintSupport Qt6::Test)

# Starting a run from the object tree: the report set picker, the computer
# browser and the Run command, offscreen, against machines of the test harness.
vn_add_test(tree_run_tests run WIDGETS
  SOURCES tests/runui/TreeRunTest.cpp
  LIBRARIES VNConsole vnui vnconsolecore vn_machine_testing)

# The report run: merge logic on its own, and whole runs against machines of
# the test harness.
include(tests/run/RunTests.cmake)
