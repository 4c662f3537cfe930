#pragma once
// The rules of a report's mail settings (MailSettings, the mail block of a
// report record) that the "Mail Report To:" dialog applies, without windows.
//
// - Profile and password are kept scrambled in their 81-byte blocks, always
//   written and read whole: storing rotates every byte right by 5 bits,
//   reading rotates right by 3, which restores it. The texts hold at most 80
//   characters; the rest of the block is zeros (scrambled zeros are zeros).
// - A recipient list is names joined by ";". Its count: trailing ";" and
//   blanks removed, an empty list counts 0, otherwise the number of ";" plus
//   one.
// - The address book's answer replaces both lists: every chosen name goes to
//   To (class MAPI_TO) or Cc (class MAPI_CC) in the order chosen, each followed
//   by ";" unless it is the last recipient of the whole answer; trailing ";"
//   are then removed from both lists and the counts set. A list's block
//   holds 256 characters and its field in the dialog 255, so a list holds at
//   most 255: an answer whose To or Cc would be longer is refused whole (ApplyAddressBookResult answers false and the block keeps its
//   lists), since a cut list would drop recipients the user chose without
//   telling. The dialog then says kRecipientsTooLongText.
// - The result codes of the mail library have fixed texts (MapiErrorText).
//
// Plain functions over values; any thread.

#include <string>
#include <string_view>
#include <vector>

#include "servercomm/KSServerCommunication.h"

namespace vn::console {

inline constexpr std::size_t kMailLoginBlock = 81;
inline constexpr std::size_t kMailLoginMax = 80;
inline constexpr std::size_t kMailListMax = 255;

// Byte by byte: right by 5 (writing) and right by 3 (reading).
BYTE ScrambleMailByte(BYTE b);
BYTE UnscrambleMailByte(BYTE b);

// Stores `text` (cut at 80 characters) scrambled into the block.
void StoreMailLogin(BYTE (&block)[kMailLoginBlock], std::string_view text);
// The text a block holds (up to its first zero, at most 80 characters).
std::string ReadMailLogin(const BYTE (&block)[kMailLoginBlock]);

int CountMailNames(std::string_view list);

// The names of a list, split at ";", blanks around each removed, empty pieces
// left out.
std::vector<std::string> SplitMailNames(std::string_view list);

struct MailRecipient {
  ULONG recipClass = 0;  // MAPI_TO or MAPI_CC; others are left out
  std::string name;
};

// The two lists an address book answer gives, by the rule above. False when
// either would be longer than kMailListMax characters.
[[nodiscard]] bool JoinAddressBookResult(const std::vector<MailRecipient>& chosen, std::string* to, std::string* cc);
// Puts them into the block with their counts; false (block unchanged) when
// they do not fit.
[[nodiscard]] bool ApplyAddressBookResult(const std::vector<MailRecipient>& chosen, MailSettings* mail);

// The text of a mail library result code; empty for 1 (the user cancelled),
// which shows nothing.
std::string_view MapiErrorText(ULONG code);

inline constexpr std::string_view kLoadingMapiText = "Loading MAPI DLL";
inline constexpr std::string_view kRecipientsTooLongText =
    "The chosen names do not fit in the Mail To: or Mail Cc: list (at most 255 characters). "
    "Choose fewer recipients.";

}  // namespace vn::console
