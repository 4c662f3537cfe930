#include "console/core/run/MailRules.h"

#include <algorithm>
#include <cstring>

#include "mapi/SimpleMapi.h"

namespace vn::console {
namespace {

constexpr BYTE RotateRight(BYTE b, int bits) {
  return static_cast<BYTE>(static_cast<BYTE>(b >> bits) | static_cast<BYTE>(b << (8 - bits)));
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void RemoveTrailingSemicolons(std::string* s) {
  while (!s->empty() && s->back() == ';') s->pop_back();
}

template <std::size_t N>
void SetField(char (&field)[N], const std::string& text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), length);
}

struct ErrorText {
  ULONG code;
  std::string_view text;
};

constexpr ErrorText kErrorTexts[] = {
    {1, ""},
    {2, "Unspecified error(s) occurred while addressing the mail."},
    {3, "There was no default sign-in."},
    {4, "The disk is full."},
    {5, "There was insufficient memory to proceed. "},
    {8, "The user had too many sessions open at once."},
    {9, "There were too many file attachments. No mail was sent."},
    {10, "There were too many message recipients specified. No mail was sent."},
    {11, "The specified attachment was not found. No mail was sent."},
    {14, "The recipient did not appear in the address list. No mail was sent."},
    {15, "The type of a recipient was not MAPI_TO, MAPI_CC, or MAPI_BCC. "},
    {17, "An invalid message ID was used for the lpszMessageID parameter. No list of entries was returned."},
    {18, "The text in the message was too large to be sent. No mail was sent."},
    {19, "An invalid session handle was used for the lhSession parameter."},
    {21, "A recipient matched more than one of the recipient descriptor structures, and MAPI_DIALOG was not set."},
    {24, "The value of nEditFields is outside the range of 0 to 4. No list of entries was returned."},
    {25, "One or more of the recipients in the address list is not valid. No list of entries was returned."},
    {26, "The operation was unsupported by the underlying mail system."},
};

}  // namespace

BYTE ScrambleMailByte(BYTE b) { return RotateRight(b, 5); }
BYTE UnscrambleMailByte(BYTE b) { return RotateRight(b, 3); }

void StoreMailLogin(BYTE (&block)[kMailLoginBlock], std::string_view text) {
  std::memset(block, 0, kMailLoginBlock);
  const std::size_t length = std::min(text.size(), kMailLoginMax);
  for (std::size_t i = 0; i < length; ++i) block[i] = static_cast<BYTE>(text[i]);
  for (BYTE& b : block) b = ScrambleMailByte(b);
}

std::string ReadMailLogin(const BYTE (&block)[kMailLoginBlock]) {
  std::string text;
  for (std::size_t i = 0; i < kMailLoginMax; ++i) {
    const BYTE b = UnscrambleMailByte(block[i]);
    if (b == 0) break;
    text.push_back(static_cast<char>(b));
  }
  return text;
}

int CountMailNames(std::string_view list) {
  while (!list.empty() && (list.back() == ';' || list.back() == ' ' || list.back() == '\t')) list.remove_suffix(1);
  if (list.empty()) return 0;
  return static_cast<int>(std::count(list.begin(), list.end(), ';')) + 1;
}

std::vector<std::string> SplitMailNames(std::string_view list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    if (const std::string_view name = TrimBlanks(list.substr(start, end - start)); !name.empty())
      names.emplace_back(name);
    start = end + 1;
  }
  return names;
}

bool JoinAddressBookResult(const std::vector<MailRecipient>& chosen, std::string* to, std::string* cc) {
  std::string newTo, newCc;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    std::string* list = chosen[i].recipClass == MAPI_TO ? &newTo : chosen[i].recipClass == MAPI_CC ? &newCc : nullptr;
    if (list == nullptr) continue;
    list->append(chosen[i].name);
    if (i + 1 < chosen.size()) list->push_back(';');
  }
  RemoveTrailingSemicolons(&newTo);
  RemoveTrailingSemicolons(&newCc);
  if (newTo.size() > kMailListMax || newCc.size() > kMailListMax) return false;
  *to = std::move(newTo);
  *cc = std::move(newCc);
  return true;
}

bool ApplyAddressBookResult(const std::vector<MailRecipient>& chosen, MailSettings* mail) {
  std::string to, cc;
  if (!JoinAddressBookResult(chosen, &to, &cc)) return false;
  SetField(mail->MailTo, to);
  SetField(mail->MailCC, cc);
  mail->MailToCount = CountMailNames(to);
  mail->MailCCCount = CountMailNames(cc);
  return true;
}

std::string_view MapiErrorText(ULONG code) {
  for (const ErrorText& e : kErrorTexts)
    if (e.code == code) return e.text;
  return "Unable to get address list or send mail";
}

}  // namespace vn::console
