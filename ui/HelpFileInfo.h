#pragma once
// A help file as a module ships it: a name that the application's help path
// refers to ("VN4.hlp"), a folder of HTML pages (a Qt resource folder such as
// "qrc:/help/VN4/", or a file URL), the contents page, and the table that maps
// help context numbers to pages. Everything is constant data that outlives the
// program (string literals and static tables), so a module can describe its
// help file without running any code.

#include <QUrl>
#include <cstddef>
#include <span>

#include "platform/core/Win32Types.h"

struct HelpTopic {
  DWORD dwContext;
  const char* pszPage;  // relative to the help file's folder
};

struct HelpFileInfo {
  const char* pszName;          // file name, compared without regard to case
  const char* pszFolderUrl;     // ends with "/"
  const char* pszContentsPage;  // relative to the folder
  std::span<const HelpTopic> topics;

  // The page of help context dwContext, or an empty URL when there is none.
  QUrl FindTopic(DWORD dwContext) const;
  QUrl ContentsPage() const;
  // True when path names this help file: its last component (after "/" or
  // "\") is the file name.
  bool Matches(const QString& path) const;
};
