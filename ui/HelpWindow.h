#pragma once
// The help window: one top-level window showing help pages (HTML from a
// module's help folder), titled after the page it shows. Links between pages
// are followed inside the window; Back, Forward and Contents move around.
// Links leaving the help (web addresses) open in the desktop's browser.
//
// The application owns the one help window and reuses it: asking for another
// page shows it in the same window and raises it. User-interface thread only.

#include <QUrl>
#include <QWidget>

class QTextBrowser;

class CHelpWindow : public QWidget {
 public:
  CHelpWindow();
  ~CHelpWindow() override;

  // Shows page in the window, then shows, raises and activates the window.
  void ShowPage(const QUrl& page);
  QUrl CurrentPage() const;
  // The page the Contents button goes to (none: the button is disabled).
  void SetContentsPage(const QUrl& page);
  QTextBrowser* Browser() const { return m_pBrowser; }

 private:
  void OnSourceChanged();

  QTextBrowser* m_pBrowser;
  QAction* m_pContentsAction;
  QUrl m_contentsPage;
};
