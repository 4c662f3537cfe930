#pragma once
// The window messages of a report run, each with the record it carries and a
// typed pair of helpers: a sender (or poster) that packs the record into the
// message's two parameters, and a reader for the window procedure that gets
// it back. Nothing else packs or unpacks these parameters, so the road of a
// run reads as calls with named records (docs/architecture.md, "One report
// run", has the steps).
//
// Records handed over in a sent message stay valid while the handler runs:
// SendMessageA returns only when it has (ui/WindowMessages.h). Posted
// messages carry numbers only.

#include "platform/core/Win32Types.h"
#include "ui/WindowMessages.h"

struct ReportRunContext;
struct ProgressChannelEntry;
namespace vn {
struct KSServerCommunicationOutputRec;
}

// Window messages of a run (absolute message numbers).
inline constexpr UINT WM_REPORT_CHANNEL_CLOSED = 0x8079;   // posted by the channel thread; run number (0 if none)
inline constexpr UINT WM_REPORT_SERVER_RESULT = 0x807A;    // sent by the report thread; ServerResult
inline constexpr UINT WM_REPORT_DONE = 0x807B;             // sent by the report thread: one report ran everywhere
inline constexpr UINT WM_REPORT_BATCH_SUBMITTED = 0x807C;  // posted by the run form
inline constexpr UINT WM_REPORT_START_RUN = 0x807E;        // sent by a view to the main window; StartRun

// WM_REPORT_START_RUN: a view hands both records of a new run to the host's
// main window, which answers 1 when it took them over (and then owns them).
struct StartRun {
  ReportRunContext* context;
  ProgressChannelEntry* entry;
};
inline LRESULT SendStartRun(HWND mainWnd, const StartRun& run) {
  return SendMessageA(mainWnd, WM_REPORT_START_RUN, reinterpret_cast<WPARAM>(run.context),
                      reinterpret_cast<LPARAM>(run.entry));
}
inline StartRun StartRunOf(WPARAM wParam, LPARAM lParam) {
  return {reinterpret_cast<ReportRunContext*>(wParam), reinterpret_cast<ProgressChannelEntry*>(lParam)};
}

// WM_REPORT_SERVER_RESULT: one machine's server has a result; the handler
// fetches it (OpenReport) before it returns. Both stay the report thread's.
struct ServerResult {
  const char* machine;                      // the computer name
  vn::KSServerCommunicationOutputRec* output;  // the server's answer naming the result
};
inline LRESULT SendServerResult(HWND notifyWnd, const ServerResult& result) {
  return SendMessageA(notifyWnd, WM_REPORT_SERVER_RESULT, reinterpret_cast<WPARAM>(result.machine),
                      reinterpret_cast<LPARAM>(result.output));
}
inline ServerResult ServerResultOf(WPARAM wParam, LPARAM lParam) {
  return {reinterpret_cast<const char*>(wParam), reinterpret_cast<vn::KSServerCommunicationOutputRec*>(lParam)};
}

// WM_REPORT_DONE: the report ran on every machine; no record.
inline LRESULT SendReportDone(HWND notifyWnd) { return SendMessageA(notifyWnd, WM_REPORT_DONE, 0, 0); }

// WM_REPORT_CHANNEL_CLOSED: a run's progress channel has ended. `run` is the
// host's number for the run, 0 when the channel thread posts it itself.
inline BOOL PostChannelClosed(HWND notifyWnd, WPARAM run = 0) {
  return PostMessageA(notifyWnd, WM_REPORT_CHANNEL_CLOSED, run, 0);
}
inline WPARAM ChannelClosedRunOf(WPARAM wParam) { return wParam; }
