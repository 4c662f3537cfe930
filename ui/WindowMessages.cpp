#include "ui/WindowMessages.h"

#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

struct WindowEntry {
  QPointer<QObject> window;
  CWindowHandle::Handler handler;
};

// The process's windows by handle number. The lock guards the table only;
// handlers run without it.
class WindowTable {
 public:
  HWND Add(QObject* window, CWindowHandle::Handler handler) {
    const auto number = m_next.fetch_add(1) + 1;
    auto entry = std::make_shared<WindowEntry>(WindowEntry{window, std::move(handler)});
    std::lock_guard lock(m_mutex);
    m_windows.emplace(number, std::move(entry));
    return reinterpret_cast<HWND>(number);
  }

  void Remove(HWND hWnd) {
    std::shared_ptr<WindowEntry> entry;
    {
      std::lock_guard lock(m_mutex);
      const auto found = m_windows.find(reinterpret_cast<std::uintptr_t>(hWnd));
      if (found == m_windows.end()) return;
      entry = std::move(found->second);
      m_windows.erase(found);
    }
    // A call already queued for this window finds its handler gone.
    entry->handler = nullptr;
  }

  std::shared_ptr<WindowEntry> Find(HWND hWnd) {
    std::lock_guard lock(m_mutex);
    const auto found = m_windows.find(reinterpret_cast<std::uintptr_t>(hWnd));
    return found == m_windows.end() ? nullptr : found->second;
  }

 private:
  std::mutex m_mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<WindowEntry>> m_windows;
  std::atomic<std::uintptr_t> m_next{0};
};

WindowTable& Windows() {
  static WindowTable table;
  return table;
}

// Runs on the window's thread: the handler when the window still has one,
// else the built-in meaning of WM_SETTEXT.
LRESULT Deliver(const std::shared_ptr<WindowEntry>& entry, UINT message, WPARAM wParam, LPARAM lParam) {
  QObject* window = entry->window.data();
  if (!window) return 0;
  if (entry->handler) return entry->handler(message, wParam, lParam);
  return 0;
}

void ShowText(QObject* window, const QString& text) {
  if (auto* edit = qobject_cast<QLineEdit*>(window)) {
    edit->setText(text);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(window)) {
    plain->setPlainText(text);
  } else if (auto* rich = qobject_cast<QTextEdit*>(window)) {
    rich->setPlainText(text);
  } else if (auto* label = qobject_cast<QLabel*>(window)) {
    label->setText(text);
  } else if (auto* widget = qobject_cast<QWidget*>(window)) {
    widget->setWindowTitle(text);
  }
}

}  // namespace

CWindowHandle::CWindowHandle(QObject* window, Handler handler) : m_hWnd(Windows().Add(window, std::move(handler))) {}

CWindowHandle::~CWindowHandle() { Windows().Remove(m_hWnd); }

LRESULT SendMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto entry = Windows().Find(hWnd);
  if (!entry) return 0;
  QObject* window = entry->window.data();
  if (!window) return 0;
  if (window->thread() == QThread::currentThread()) return Deliver(entry, message, wParam, lParam);
  LRESULT result = 0;
  // Blocks until the call ran on the window's thread, or until the window
  // was destroyed with the call still queued (Qt then releases the caller).
  QMetaObject::invokeMethod(
      window, [&result, entry, message, wParam, lParam] { result = Deliver(entry, message, wParam, lParam); },
      Qt::BlockingQueuedConnection);
  return result;
}

BOOL PostMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto entry = Windows().Find(hWnd);
  if (!entry || !entry->window) return FALSE;
  QMetaObject::invokeMethod(
      entry->window.data(), [entry, message, wParam, lParam] { Deliver(entry, message, wParam, lParam); },
      Qt::QueuedConnection);
  return TRUE;
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  auto entry = Windows().Find(hWnd);
  if (!entry || !entry->window) return FALSE;
  auto text = std::make_shared<std::string>(lpString ? lpString : "");
  QMetaObject::invokeMethod(
      entry->window.data(),
      [entry, text] {
        QObject* window = entry->window.data();
        if (!window) return;
        if (entry->handler && entry->handler(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text->c_str()))) return;
        ShowText(window, QString::fromUtf8(text->c_str()));
      },
      Qt::QueuedConnection);
  return TRUE;
}

BOOL IsWindow(HWND hWnd) {
  auto entry = Windows().Find(hWnd);
  return entry && entry->window ? TRUE : FALSE;
}
