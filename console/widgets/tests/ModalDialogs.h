#pragma once
// Answering the modal dialogs a window opens, in widget tests.

#include <QApplication>
#include <QObject>
#include <QTimer>
#include <functional>

namespace vn::console::testing {

// Runs `action`; the first modal dialog of type D that opens meanwhile is
// handed to `answer`, which must close it. True when one opened.
template <class D>
bool WithDialog(const std::function<void()>& action, const std::function<void(D*)>& answer) {
  QObject guard;  // takes the pending look with it when the action is over
  bool seen = false;
  std::function<void()> look = [&] {
    if (auto* dialog = dynamic_cast<D*>(QApplication::activeModalWidget())) {
      seen = true;
      answer(dialog);
      return;
    }
    QTimer::singleShot(5, &guard, look);
  };
  QTimer::singleShot(0, &guard, look);
  action();
  return seen;
}

}  // namespace vn::console::testing
