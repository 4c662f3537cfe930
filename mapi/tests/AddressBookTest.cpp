#include "mapi/AddressBook.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "testing/TempMachineHome.h"

namespace vn::mapi {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(VCardTest, ParsesGoodCardsAndSkipsMalformedOnesAroundThem) {
  const std::string text =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Alice Liddell\r\nEMAIL;TYPE=INTERNET:alice@example.org\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:No Mail\r\nEND:VCARD\r\n"                                   // no EMAIL
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Too New\r\nEMAIL:new@example.org\r\nEND:VCARD\r\n"           // version
      "BEGIN:VCARD\r\nFN:Bad Mail\r\nEMAIL:not-an-address\r\nEND:VCARD\r\n"                          // address
      "BEGIN:VCARD\r\nFN:Unclosed\r\nEMAIL:open@example.org\r\n"                                     // no END
      "BEGIN:VCARD\nVERSION:2.1\nitem1.FN:Bob\\, the\n  Builder\nEMAIL:bob@example.org\n"          // folded, LF
      "EMAIL:second@example.org\nEND:VCARD\n"
      "garbage between cards\r\n"
      "BEGIN:VCARD\r\nFN:Carol\r\nEMAIL:carol@example.org\r\nEND:VCARD";                             // no VERSION
  int skipped = -1;
  const std::vector<AddressEntry> entries = ParseVCards(text, &skipped);
  EXPECT_EQ(skipped, 4);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (AddressEntry{"Alice Liddell", "alice@example.org", false}));
  EXPECT_EQ(entries[1], (AddressEntry{"Bob, the Builder", "bob@example.org", false}));
  EXPECT_EQ(entries[2], (AddressEntry{"Carol", "carol@example.org", false}));

  // A text that ends inside a card loses that card only.
  EXPECT_TRUE(ParseVCards("BEGIN:VCARD\r\nFN:X\r\n", &skipped).empty());
  EXPECT_EQ(skipped, 1);
  EXPECT_TRUE(ParseVCards("", &skipped).empty());
  EXPECT_EQ(skipped, 0);
}

TEST(VCardTest, WrittenCardsReadBackWithEscapesAndLongNames) {
  std::string longName(71, 'x');
  longName.append("\xc3\xa9").append(40, 'y');  // a two-byte letter where the first fold falls
  const std::vector<AddressEntry> entries = {
      {"Dept, Sales\\North", "sales@example.org", false},
      {longName, "long@example.org", false},
  };
  std::string text;
  for (const AddressEntry& e : entries) text += FormatVCard(e);
  for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    EXPECT_LE(end - start, 75u) << "unfolded line at " << start;
  int skipped = -1;
  EXPECT_EQ(ParseVCards(text, &skipped), entries);
  EXPECT_EQ(skipped, 0);
}

TEST(VCardTest, AddressInComment) {
  const std::pair<const char*, const char*> cases[] = {
      {"Reviews reports, alice@example.org", "alice@example.org"},
      {"mail <bob@example.org>.", "bob@example.org"},
      {"first@a.org second@b.org", "first@a.org"},
      {"no address here", ""},
      {"@example.org and x@ and a@@b", ""},
      {"", ""},
  };
  for (const auto& [comment, address] : cases) EXPECT_EQ(AddressInComment(comment), address) << comment;
}

TEST(AddressFileTest, AppendKeepsEverythingAndRefusesBadEntries) {
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("book.vcf")).toStdString();
  std::vector<AddressEntry> entries;
  ASSERT_EQ(ReadAddressFile(path, &entries), ERROR_SUCCESS);  // missing file: an empty book
  EXPECT_TRUE(entries.empty());

  const std::string malformed = "BEGIN:VCARD\r\nFN:Broken\r\nEND:VCARD";  // kept as it is, no line end
  std::ofstream(path, std::ios::binary) << malformed;
  std::string why;
  ASSERT_EQ(AppendAddressEntry(path, {"Dave", "dave@example.org", false}, &why), ERROR_SUCCESS) << why;
  ASSERT_EQ(AppendAddressEntry(path, {"Erin", "erin@example.org", false}, &why), ERROR_SUCCESS) << why;
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.rfind(malformed + "\r\n", 0), 0u);
  int skipped = 0;
  ASSERT_EQ(ReadAddressFile(path, &entries, &skipped), ERROR_SUCCESS);
  EXPECT_EQ(skipped, 1);
  EXPECT_EQ(entries, (std::vector<AddressEntry>{{"Dave", "dave@example.org", false}, {"Erin", "erin@example.org", false}}));

  const std::pair<AddressEntry, const char*> refused[] = {
      {{"", "x@example.org", false}, "Enter a name."},
      {{"A;B", "x@example.org", false}, "A name may not contain \";\"."},
      {{"Frank", "frank", false}, "Enter a mail address of the form name@domain."},
      {{"dave", "other@example.org", false}, "The address book already has an entry of that name."},
  };
  for (const auto& [entry, text2] : refused) {
    why.clear();
    EXPECT_EQ(AppendAddressEntry(path, entry, &why), ERROR_INVALID_PARAMETER) << entry.name;
    EXPECT_EQ(why, text2);
  }
  EXPECT_EQ(ReadAll(path), text);  // nothing written by a refused entry

  // A book that is no file (here a directory) cannot be read, and nothing is made of it.
  const std::string notAFile = dir.filePath(QStringLiteral("folder.vcf")).toStdString();
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(notAFile)));
  EXPECT_NE(ReadAddressFile(notAFile, &entries), ERROR_SUCCESS);
  EXPECT_NE(AppendAddressEntry(notAFile, {"Gina", "gina@example.org", false}, &why), ERROR_SUCCESS);
  EXPECT_TRUE(QFileInfo(QString::fromStdString(notAFile)).isDir());
}

TEST(AddressBookTest, AccountsWithAddressesJoinTheFileEntries) {
  testing::TempMachineHome home("BOOKPC");
  std::ofstream(home.path() / "machine.ini")
      << "[Machine]\nName = BOOKPC\nDomain = SALES\nHostResolver = no\n"
      << "[Accounts]\n"
      << "alice = user, Alice Liddell, Reviews reports alice@sales.example.org\n"
      << "bob = user, Bob, no address\n"
      << "Report Readers = group, readers@sales.example.org\n"
      << "carol = user, Carol, carol@sales.example.org\n";
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("book.vcf")).toStdString();
  std::string why;
  ASSERT_EQ(AppendAddressEntry(path, {"Carol", "carol@home.example.org", false}, &why), ERROR_SUCCESS);
  ASSERT_EQ(AppendAddressEntry(path, {"Zoe", "zoe@example.org", false}, &why), ERROR_SUCCESS);

  std::vector<AddressEntry> entries;
  ASSERT_EQ(ReadAddressBook(path, &entries), ERROR_SUCCESS);
  EXPECT_EQ(entries, (std::vector<AddressEntry>{
                         {"alice", "alice@sales.example.org", true},
                         {"Carol", "carol@home.example.org", false},  // the card hides the account
                         {"Report Readers", "readers@sales.example.org", true},
                         {"Zoe", "zoe@example.org", false},
                     }));
}

TEST(AddressBookTest, PathComesFromTheEnvironmentOrTheMachineHome) {
  testing::TempMachineHome home("BOOKPC");
  const char* before = std::getenv("VORNAL_ADDRESS_BOOK");
  const std::string saved = before ? before : "";
  unsetenv("VORNAL_ADDRESS_BOOK");
  EXPECT_EQ(AddressBookPath(), (home.path() / "addressbook.vcf").string());
  setenv("VORNAL_ADDRESS_BOOK", "/tmp/elsewhere.vcf", 1);
  EXPECT_EQ(AddressBookPath(), "/tmp/elsewhere.vcf");
  if (before) setenv("VORNAL_ADDRESS_BOOK", saved.c_str(), 1); else unsetenv("VORNAL_ADDRESS_BOOK");
}

}  // namespace
}  // namespace vn::mapi
