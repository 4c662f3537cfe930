#include "console/core/run/MapiLibrary.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "platform/core/AsciiText.h"
#include "testing/TempMachineHome.h"

namespace vn::console {
namespace {

void ExpectCleared(const CMapiLibrary& mapi) {
  EXPECT_FALSE(mapi.IsLoaded());
  EXPECT_EQ(mapi.m_pfnLogon, nullptr);
  EXPECT_EQ(mapi.m_pfnLogoff, nullptr);
  EXPECT_EQ(mapi.m_pfnSendMail, nullptr);
  EXPECT_EQ(mapi.m_pfnResolveName, nullptr);
  EXPECT_EQ(mapi.m_pfnAddress, nullptr);
  EXPECT_EQ(mapi.m_pfnFreeBuffer, nullptr);
}

TEST(MapiLibraryTest, AnswersByWhatItFinds) {
  CMapiLibrary real;
  EXPECT_EQ(real.ModuleName(), "MAPI32.DLL");
  ASSERT_EQ(real.Load(), CMapiLibrary::kLoaded);
  EXPECT_TRUE(real.IsLoaded());
  EXPECT_NE(real.m_pfnLogon, nullptr);
  EXPECT_NE(real.m_pfnLogoff, nullptr);
  EXPECT_NE(real.m_pfnSendMail, nullptr);
  EXPECT_NE(real.m_pfnResolveName, nullptr);
  EXPECT_NE(real.m_pfnAddress, nullptr);
  EXPECT_NE(real.m_pfnFreeBuffer, nullptr);
  real.Unload();
  ExpectCleared(real);

  CMapiLibrary partial("MAPI32Partial.DLL");  // lacks MAPIResolveName
  EXPECT_EQ(partial.Load(), CMapiLibrary::kEntryMissing);
  ExpectCleared(partial);

  CMapiLibrary missing("NoSuchMail.DLL");
  EXPECT_EQ(missing.Load(), CMapiLibrary::kCannotLoad);
  ExpectCleared(missing);

  QTemporaryDir dir;  // a file that is no library
  const std::string junk = dir.filePath(QStringLiteral("libJunk.so")).toStdString();
  std::ofstream(junk) << "not a library";
  CMapiLibrary notLibrary(junk);
  EXPECT_EQ(notLibrary.Load(), CMapiLibrary::kCannotLoad);
  ExpectCleared(notLibrary);
}

TEST(MapiLibraryTest, TheEnvironmentNamesAnotherLibrary) {
  setenv("VORNAL_MAPI_LIBRARY", "MAPI32Partial.DLL", 1);
  CMapiLibrary mapi;
  unsetenv("VORNAL_MAPI_LIBRARY");
  EXPECT_EQ(mapi.ModuleName(), "MAPI32Partial.DLL");
  EXPECT_EQ(mapi.Load(), CMapiLibrary::kEntryMissing);
}

// The library's calls that need no window: sessions, names, sending.
TEST(MapiLibraryTest, SessionsResolveNamesAndSendNothing) {
  testing::TempMachineHome home("MAILPC");
  std::ofstream(home.path() / "machine.ini") << "[Machine]\nName = MAILPC\nDomain = SALES\nHostResolver = no\n"
                                             << "[Accounts]\nalice = user, Alice, alice@sales.example.org\n";
  QTemporaryDir dir;
  const std::string book = dir.filePath(QStringLiteral("book.vcf")).toStdString();
  std::ofstream(book) << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob\r\nEMAIL:bob@example.org\r\nEND:VCARD\r\n"
                      << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bobby\r\nEMAIL:bob@example.org\r\nEND:VCARD\r\n";
  setenv("VORNAL_ADDRESS_BOOK", book.c_str(), 1);

  CMapiLibrary mapi;
  ASSERT_EQ(mapi.Load(), CMapiLibrary::kLoaded);
  char profile[] = "any profile";
  char password[] = "";
  LHANDLE session = 0;
  ASSERT_EQ(mapi.m_pfnLogon(0, profile, password, MAPI_LOGON_UI | MAPI_NEW_SESSION, 0, &session), SUCCESS_SUCCESS);
  EXPECT_NE(session, 0u);

  const std::pair<const char*, ULONG> names[] = {
      {"ALICE", SUCCESS_SUCCESS}, {"Bobby", SUCCESS_SUCCESS},
      {"bob@example.org", MAPI_E_AMBIGUOUS_RECIPIENT}, {"nobody", MAPI_E_UNKNOWN_RECIPIENT}, {"", MAPI_E_UNKNOWN_RECIPIENT}};
  for (const auto& [name, code] : names) {
    MapiRecipDesc* found = nullptr;
    std::string text(name);
    EXPECT_EQ(mapi.m_pfnResolveName(session, 0, text.data(), 0, 0, &found), code) << name;
    if (code == SUCCESS_SUCCESS) {
      ASSERT_NE(found, nullptr);
      EXPECT_TRUE(vn::EqualsIgnoringCase(found->lpszName, name));
      EXPECT_EQ(mapi.m_pfnFreeBuffer(found), SUCCESS_SUCCESS);
    } else {
      EXPECT_EQ(found, nullptr);
    }
  }
  MapiRecipDesc* found = nullptr;
  char alice[] = "alice";
  ASSERT_EQ(mapi.m_pfnResolveName(session, 0, alice, 0, 0, &found), SUCCESS_SUCCESS);
  EXPECT_STREQ(found->lpszAddress, "SMTP:alice@sales.example.org");
  EXPECT_EQ(found->ulRecipClass, MAPI_TO);
  (void)mapi.m_pfnFreeBuffer(found);

  MapiMessage message{};
  EXPECT_EQ(mapi.m_pfnSendMail(session, 0, &message, 0, 0), MAPI_E_NOT_SUPPORTED);
  // Not on this thread's application: the address book window cannot be shown.
  ULONG count = 9;
  MapiRecipDesc* chosen = nullptr;
  EXPECT_EQ(mapi.m_pfnAddress(session, 0, nullptr, 2, nullptr, 0, nullptr, 0, 0, &count, &chosen), MAPI_E_FAILURE);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(mapi.m_pfnAddress(session, 0, nullptr, 5, nullptr, 0, nullptr, 0, 0, &count, &chosen),
            MAPI_E_INVALID_EDITFIELDS);
  MapiRecipDesc bad{0, 7, alice, nullptr, 0, nullptr};
  EXPECT_EQ(mapi.m_pfnAddress(session, 0, nullptr, 2, nullptr, 1, &bad, 0, 0, &count, &chosen), MAPI_E_BAD_RECIPTYPE);

  EXPECT_EQ(mapi.m_pfnLogoff(session, 0, 0, 0), SUCCESS_SUCCESS);
  EXPECT_EQ(mapi.m_pfnLogoff(session, 0, 0, 0), MAPI_E_INVALID_SESSION);
  EXPECT_EQ(mapi.m_pfnSendMail(session, 0, &message, 0, 0), MAPI_E_INVALID_SESSION);

  // A book that cannot be read: no logon.
  std::filesystem::create_directory(dir.filePath(QStringLiteral("dir.vcf")).toStdString());
  setenv("VORNAL_ADDRESS_BOOK", dir.filePath(QStringLiteral("dir.vcf")).toStdString().c_str(), 1);
  EXPECT_EQ(mapi.m_pfnLogon(0, profile, password, MAPI_LOGON_UI | MAPI_NEW_SESSION, 0, &session), MAPI_E_LOGIN_FAILURE);
  unsetenv("VORNAL_ADDRESS_BOOK");
}

}  // namespace
}  // namespace vn::console
