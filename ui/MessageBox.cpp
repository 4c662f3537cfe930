#include "ui/MessageBox.h"

#include <utility>
#include <vector>

#include <QMessageBox>
#include <QPushButton>

#include "ui/DynLinkLibrary.h"
#include "ui/WinApp.h"

namespace {

MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}

struct Button {
  QMessageBox::StandardButton standard;
  int result;
};

std::vector<Button> ButtonsOf(UINT nType) {
  switch (nType & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
      return {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
    case MB_YESNOCANCEL:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_YESNO:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    case MB_RETRYCANCEL:
      return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
    default:
      return {{QMessageBox::Ok, IDOK}};
  }
}

QMessageBox::Icon IconOf(UINT nType) {
  switch (nType & MB_ICONMASK) {
    case MB_ICONHAND:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONASTERISK:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

MessageBoxHook AfxSetMessageBoxHook(MessageBoxHook hook) { return std::exchange(Hook(), std::move(hook)); }

int AfxMessageBox(const QString& text, UINT nType, UINT) {
  if (const MessageBoxHook& hook = Hook()) return hook(text, nType);

  const CWinApp* pApp = AfxGetApp();
  QMessageBox box(IconOf(nType), pApp ? pApp->m_strAppName : QString(), text, QMessageBox::NoButton,
                  AfxGetMainWnd());
  box.setTextFormat(Qt::PlainText);
  const std::vector<Button> buttons = ButtonsOf(nType);
  for (const Button& b : buttons) box.addButton(b.standard);
  const std::size_t defaultIndex = (nType & MB_DEFMASK) >> 8;
  if (defaultIndex < buttons.size()) box.setDefaultButton(buttons[defaultIndex].standard);

  box.exec();
  const auto chosen = box.standardButton(box.clickedButton());
  for (const Button& b : buttons)
    if (b.standard == chosen) return b.result;
  // Closed without a choice: Cancel when there is one, else the first button.
  for (const Button& b : buttons)
    if (b.result == IDCANCEL) return IDCANCEL;
  return buttons.front().result;
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
  QString text;
  AfxLoadString(nIDPrompt, text);
  return AfxMessageBox(text, nType, nIDHelp);
}
