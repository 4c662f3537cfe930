#include "ui/HelpWindow.h"

#include <QAction>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

CHelpWindow::CHelpWindow() : m_pBrowser(new QTextBrowser(this)) {
  auto* pToolBar = new QToolBar(this);
  QAction* pBack = pToolBar->addAction(QStringLiteral("Back"), m_pBrowser, &QTextBrowser::backward);
  QAction* pForward = pToolBar->addAction(QStringLiteral("Forward"), m_pBrowser, &QTextBrowser::forward);
  m_pContentsAction = pToolBar->addAction(QStringLiteral("Contents"), this, [this] { ShowPage(m_contentsPage); });
  pBack->setShortcut(QKeySequence::Back);
  pForward->setShortcut(QKeySequence::Forward);
  pBack->setEnabled(false);
  pForward->setEnabled(false);
  m_pContentsAction->setEnabled(false);
  connect(m_pBrowser, &QTextBrowser::backwardAvailable, pBack, &QAction::setEnabled);
  connect(m_pBrowser, &QTextBrowser::forwardAvailable, pForward, &QAction::setEnabled);
  connect(m_pBrowser, &QTextBrowser::sourceChanged, this, &CHelpWindow::OnSourceChanged);
  m_pBrowser->setOpenExternalLinks(true);

  auto* pLayout = new QVBoxLayout(this);
  pLayout->setContentsMargins(0, 0, 0, 0);
  pLayout->setSpacing(0);
  pLayout->addWidget(pToolBar);
  pLayout->addWidget(m_pBrowser);
  resize(640, 560);
  setWindowTitle(QStringLiteral("Help"));
}

CHelpWindow::~CHelpWindow() = default;

void CHelpWindow::ShowPage(const QUrl& page) {
  if (page.isEmpty()) return;
  if (page != m_pBrowser->source()) m_pBrowser->setSource(page);
  show();
  raise();
  activateWindow();
}

QUrl CHelpWindow::CurrentPage() const { return m_pBrowser->source(); }

void CHelpWindow::SetContentsPage(const QUrl& page) {
  m_contentsPage = page;
  m_pContentsAction->setEnabled(!page.isEmpty());
}

void CHelpWindow::OnSourceChanged() {
  const QString title = m_pBrowser->documentTitle();
  setWindowTitle(title.isEmpty() ? QStringLiteral("Help") : title);
}
