#include "ui/HelpFileInfo.h"

#include <algorithm>

#include <QString>

namespace {

QUrl PageUrl(const char* pszFolderUrl, const char* pszPage) {
  return QUrl(QString::fromUtf8(pszFolderUrl)).resolved(QUrl(QString::fromUtf8(pszPage)));
}

}  // namespace

QUrl HelpFileInfo::FindTopic(DWORD dwContext) const {
  for (const HelpTopic& topic : topics)
    if (topic.dwContext == dwContext) return PageUrl(pszFolderUrl, topic.pszPage);
  return {};
}

QUrl HelpFileInfo::ContentsPage() const {
  return pszContentsPage ? PageUrl(pszFolderUrl, pszContentsPage) : QUrl();
}

bool HelpFileInfo::Matches(const QString& path) const {
  const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  return path.mid(slash + 1).compare(QString::fromUtf8(pszName), Qt::CaseInsensitive) == 0;
}
