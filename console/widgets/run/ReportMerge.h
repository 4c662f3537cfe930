#pragma once
// The merge of one run's results: one temporary file per report, into which
// every machine's result is fetched (OpenReport) as its
// WM_REPORT_SERVER_RESULT arrives; the first machine's result gives the
// heading and column line, the others add their rows, and the totals lines
// are summed. WM_REPORT_DONE ends the report's file.
//
// The windows that receive a run's notifications (the run form, the host's
// main window for runs from the tree or the wizard, the command-line host
// VN) each keep one CReportMerge and call it from their handlers, on the
// thread that handles the messages, while the report thread waits.
//
// The merge also records what the summary reports measured into the scan
// history (console/core/history/HistorySettings.h), each machine's result
// as it arrives, the report's scan at WM_REPORT_DONE. A history that cannot
// be written never fails the merge: its message is kept for the window
// (TakeHistoryMessage) and written to stderr.

#include <memory>
#include <string>

#include "console/widgets/support/KSExport.h"
#include "platform/core/Win32Types.h"
#include "servercomm/KSServerCommunication.h"

class QFile;
namespace vn::console {
class CHistoryRecorder;
}

class KS_EXPORT CReportMerge {
 public:
  CReportMerge();
  ~CReportMerge();  // removes an unfinished merged file
  CReportMerge(const CReportMerge&) = delete;
  CReportMerge& operator=(const CReportMerge&) = delete;

  // WM_REPORT_SERVER_RESULT: creates the report's temporary file ("Rep..." in
  // the system's temporary directory) on the first result, then fetches this
  // machine's result into it. Returns 0, or the system error code when the
  // file could not be created (this report's results are then dropped).
  [[nodiscard]] DWORD OnServerResult(const char* machine, vn::KSServerCommunicationOutputRec* output);

  // WM_REPORT_DONE: appends the totals line, closes the file and returns its
  // path (empty when no machine had a result). The merge state is cleared in
  // every case; the caller owns the file from here on.
  std::string OnDone();

  // Clears the merge state, removing an unfinished file.
  void Reset();

  // The message of the last history record that failed, once; else empty.
  std::string TakeHistoryMessage();

 private:
  void RecordHistory();

  std::unique_ptr<QFile> m_file;  // open merged file, or null
  bool m_bFailed = false;         // the file could not be created
  std::string m_totals;           // the totals line so far
  std::unique_ptr<vn::console::CHistoryRecorder> m_history;  // this report's scan, or null: not recorded
  std::string m_historyMessage;
};
