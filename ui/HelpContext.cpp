#include "ui/HelpContext.h"

#include <QApplication>
#include <QKeyEvent>
#include <QVariant>
#include <QWidget>
#include <memory>

#include "ui/WinApp.h"

namespace {

constexpr char kHelpContextProperty[] = "vnHelpContext";

bool IsHelpKey(const QEvent* event) {
  const auto* key = static_cast<const QKeyEvent*>(event);
  return key->key() == Qt::Key_F1 && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// F1 anywhere: the topic of the window the keyboard is in. It is claimed
// before shortcuts see it (ShortcutOverride), so a menu's F1 does not take it.
class CHelpKeyFilter : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ShortcutOverride && IsHelpKey(event)) {
      event->accept();
      return true;
    }
    if (event->type() != QEvent::KeyPress || !IsHelpKey(event) || !watched->isWidgetType()) return false;
    AfxShowContextHelp(static_cast<QWidget*>(watched));
    return true;
  }
};

std::unique_ptr<CHelpKeyFilter> g_pHelpKey;

}  // namespace

void AfxInstallHelpKey() {
  if (g_pHelpKey || !qApp) return;
  g_pHelpKey = std::make_unique<CHelpKeyFilter>();
  qApp->installEventFilter(g_pHelpKey.get());
}

void AfxRemoveHelpKey() { g_pHelpKey.reset(); }

void AfxSetHelpContext(QWidget* pWnd, DWORD dwContext) {
  if (!pWnd) return;
  pWnd->setProperty(kHelpContextProperty, dwContext ? QVariant::fromValue(dwContext) : QVariant());
}

DWORD AfxGetHelpContext(const QWidget* pWnd) {
  for (const QWidget* widget = pWnd; widget; widget = widget->parentWidget()) {
    const QVariant context = widget->property(kHelpContextProperty);
    if (context.isValid()) return context.value<DWORD>();
  }
  return 0;
}

void AfxShowContextHelp(const QWidget* pWnd) {
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return;
  if (const DWORD context = AfxGetHelpContext(pWnd))
    pApp->WinHelp(context, HELP_CONTEXT);
  else
    pApp->WinHelp(0, HELP_FINDER);
}
