#pragma once
// The mail library's address book: the names a report's mail can go to.
//
// Entries come from two places:
// - the local machine's accounts (users and global groups of its domain, as
//   NetQueryDisplayInformation lists them) whose comment holds a mail
//   address, a word of the form "name@domain" (the first such word counts);
//   a machine's configured accounts carry comments ([Accounts],
//   docs/machine-configuration.md). They cannot be changed from here.
// - the address book file, a vCard 3.0 file ("addressbook.vcf" in the local
//   machine's home, or the file $VORNAL_ADDRESS_BOOK names): one card per
//   entry, its FN the name shown and its first EMAIL the address. "New
//   entry..." of the address book dialog appends a card to it.
//
// Reading a file: cards are BEGIN:VCARD ... END:VCARD with folded lines
// (a line starting with a blank continues the one before) and the escapes
// \\ \, \; \n in values. A card without FN or EMAIL, with an empty one, with a
// VERSION other than 2.1 or 3.0, or not closed before the next BEGIN or the
// end of the file is skipped and counted; the cards around it are kept. A
// missing file is an empty book. Appending keeps every byte of the file as it
// was (skipped cards included) and writes the whole new file in one step, so
// a failed write leaves the old one.
//
// Names are unique without letter case among the file's cards; an account
// whose name a card also has is hidden by the card. Names may not hold ";"
// (the console joins recipient lists with it).
//
// Plain functions over values; no state. Any thread.

#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn::mapi {

struct AddressEntry {
  std::string name;
  std::string address;  // "name@domain"
  bool fromAccount = false;
  bool operator==(const AddressEntry&) const = default;
};

// The cards of a vCard text; *skipped (may be null) counts the malformed ones.
std::vector<AddressEntry> ParseVCards(std::string_view text, int* skipped = nullptr);
// One vCard 3.0 card (CRLF line ends, long lines folded at 75 bytes).
std::string FormatVCard(const AddressEntry& entry);

// The mail address inside an account's comment, empty when there is none.
std::string AddressInComment(std::string_view comment);

// Where the book is: $VORNAL_ADDRESS_BOOK, else <machine home>/addressbook.vcf.
std::string AddressBookPath();

// The file's entries. ERROR_SUCCESS (also for a missing file), or
// ERROR_ACCESS_DENIED / ERROR_READ_FAULT when it cannot be read.
[[nodiscard]] LONG ReadAddressFile(const std::string& path, std::vector<AddressEntry>* entries, int* skipped = nullptr);

// The local machine's accounts that have an address, by name.
std::vector<AddressEntry> AccountEntries();

// The whole book: the file's entries and the accounts', sorted by name
// without letter case.
[[nodiscard]] LONG ReadAddressBook(const std::string& path, std::vector<AddressEntry>* entries);

// Checks a new entry: ERROR_SUCCESS, or ERROR_INVALID_PARAMETER with *why
// saying what is wrong (empty name or one with ";" or a line break, an
// address that is not "name@domain", a name the file already has).
[[nodiscard]] LONG CheckNewEntry(const std::vector<AddressEntry>& fileEntries, const AddressEntry& entry,
                                 std::string* why);

// Appends the card of a checked entry to the file (made when missing).
// ERROR_SUCCESS, ERROR_INVALID_PARAMETER (see CheckNewEntry), or the write's
// failure (ERROR_WRITE_FAULT, ERROR_ACCESS_DENIED); the file is then unchanged.
[[nodiscard]] LONG AppendAddressEntry(const std::string& path, const AddressEntry& entry, std::string* why);

}  // namespace vn::mapi
