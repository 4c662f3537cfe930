#pragma once
// Window handles and messages across threads.
//
// A window (any QObject living on a thread with an event loop, normally a
// widget on the user-interface thread) takes messages once it holds a
// CWindowHandle: the handle gives it an HWND that other threads may keep and
// pass around, and a handler that runs on the window's own thread.
//
// - SendMessageA runs the handler and returns its result. From the window's
//   thread it is a plain call; from any other thread the caller waits until
//   the handler has run on the window's thread, so whatever the parameters
//   point to stays valid while the handler uses it. A window that is gone (or
//   goes before its turn comes) answers 0.
// - PostMessageA queues the message and returns at once: TRUE when the window
//   exists. Posted messages reach a window in the order they were posted.
// - SetWindowTextA delivers WM_SETTEXT with a copy of the text, queued like a
//   post (so a worker thread never waits for a busy user-interface thread).
//   The window's handler gets it first (lParam: the text); when the handler
//   answers 0, a QLineEdit, QPlainTextEdit, QTextEdit or QLabel shows the
//   text and any other widget takes it as its title.
//
// A null HWND or one never handed out fails (0 / FALSE). Handles are never
// reused within a process.

#include <cstdint>
#include <functional>

#include "ui/UiTypes.h"

class QObject;

// The window handle type: an opaque number, never a pointer to memory.
using HWND = struct HWND__*;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_APP = 0x8000;

class CWindowHandle {
 public:
  // Runs on the thread of `window`; gets message, wParam, lParam.
  using Handler = std::function<LRESULT(UINT, WPARAM, LPARAM)>;

  // `window` must outlive this object or be destroyed with it; the handler
  // is called only while both exist.
  CWindowHandle(QObject* window, Handler handler);
  ~CWindowHandle();
  CWindowHandle(const CWindowHandle&) = delete;
  CWindowHandle& operator=(const CWindowHandle&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  HWND m_hWnd;
};

LRESULT SendMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
// The text a WM_SETTEXT carries, for the handler that gets it.
inline const char* TextOf(LPARAM lParam) { return reinterpret_cast<const char*>(lParam); }
// Whether hWnd names a window that still takes messages.
BOOL IsWindow(HWND hWnd);
