#include "mapi/AddressBook.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <cstdlib>

#include "platform/accounts/Accounts.h"
#include "platform/core/AsciiText.h"
#include "platform/core/WideString.h"
#include "platform/machine/Machine.h"
#include "platform/net/Net.h"

namespace vn::mapi {
namespace {

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The logical lines of a vCard text, folded lines joined.
std::vector<std::string> UnfoldedLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !lines.empty())
      lines.back().append(line.substr(1));
    else
      lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

std::string Unescape(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      out.push_back(next == 'n' || next == 'N' ? '\n' : next);
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

std::string Escape(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\' || c == ',' || c == ';') out.push_back('\\');
    if (c == '\n') {
      out.append("\\n");
      continue;
    }
    out.push_back(c);
  }
  return out;
}

// "NAME;PARAM=...:value" -> upper-case property name (group prefix dropped) and value.
bool SplitProperty(const std::string& line, std::string* name, std::string* value) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  std::string head = line.substr(0, colon);
  if (const std::size_t semi = head.find(';'); semi != std::string::npos) head.resize(semi);
  if (const std::size_t dot = head.find('.'); dot != std::string::npos) head.erase(0, dot + 1);
  *name = vn::ToUpperAscii(head);
  *value = line.substr(colon + 1);
  return true;
}

bool IsAddress(std::string_view word) {
  const std::size_t at = word.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 >= word.size()) return false;
  if (word.find('@', at + 1) != std::string_view::npos) return false;
  return std::none_of(word.begin(), word.end(), [](char c) {
    return c == ' ' || c == '\t' || c == ';' || c == ',' || c == '<' || c == '>' || c == '\r' || c == '\n';
  });
}

bool LessByName(const AddressEntry& a, const AddressEntry& b) {
  const std::string x = vn::ToUpperAscii(a.name), y = vn::ToUpperAscii(b.name);
  return x != y ? x < y : a.fromAccount < b.fromAccount;
}

}  // namespace

std::vector<AddressEntry> ParseVCards(std::string_view text, int* skipped) {
  std::vector<AddressEntry> entries;
  int bad = 0;
  AddressEntry card;
  bool inCard = false;
  bool cardOk = true;
  const auto finish = [&] {
    if (!inCard) return;
    if (cardOk && !card.name.empty() && !card.address.empty())
      entries.push_back(card);
    else
      ++bad;
    inCard = false;
  };
  for (const std::string& raw : UnfoldedLines(text)) {
    const std::string line(TrimRight(raw));
    if (line.empty()) continue;
    std::string name, value;
    if (!SplitProperty(line, &name, &value)) {
      if (inCard) cardOk = false;
      continue;
    }
    if (name == "BEGIN" && vn::EqualsIgnoringCase(value, "VCARD")) {
      if (inCard) {  // the previous card was never closed
        cardOk = false;
        finish();
      }
      card = AddressEntry{};
      inCard = true;
      cardOk = true;
      continue;
    }
    if (!inCard) continue;  // text outside any card
    if (name == "END" && vn::EqualsIgnoringCase(value, "VCARD")) {
      finish();
    } else if (name == "VERSION") {
      if (value != "3.0" && value != "2.1") cardOk = false;
    } else if (name == "FN") {
      card.name = Unescape(value);
    } else if (name == "EMAIL" && card.address.empty()) {
      card.address = Unescape(value);
      if (!IsAddress(card.address)) cardOk = false;
    }
  }
  if (inCard) {  // the text ends inside a card
    cardOk = false;
    finish();
  }
  if (skipped) *skipped = bad;
  return entries;
}

std::string FormatVCard(const AddressEntry& entry) {
  std::string out = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  const auto put = [&out](const std::string& line) {
    // Fold at 75 bytes, never inside a UTF-8 sequence.
    std::size_t start = 0;
    bool first = true;
    while (start < line.size()) {
      std::size_t length = std::min<std::size_t>(first ? 75 : 74, line.size() - start);
      while (start + length < line.size() && length > 1 &&
             (static_cast<unsigned char>(line[start + length]) & 0xC0) == 0x80)
        --length;
      if (!first) out.push_back(' ');
      out.append(line, start, length);
      out.append("\r\n");
      start += length;
      first = false;
    }
  };
  put("FN:" + Escape(entry.name));
  put("N:" + Escape(entry.name) + ";;;;");
  put("EMAIL;TYPE=INTERNET:" + entry.address);
  out.append("END:VCARD\r\n");
  return out;
}

std::string AddressInComment(std::string_view comment) {
  std::size_t start = 0;
  while (start < comment.size()) {
    std::size_t end = comment.find_first_of(" \t,;<>()", start);
    if (end == std::string_view::npos) end = comment.size();
    std::string_view word = comment.substr(start, end - start);
    while (!word.empty() && (word.back() == '.' || word.back() == ':')) word.remove_suffix(1);
    if (IsAddress(word)) return std::string(word);
    start = end + 1;
  }
  return {};
}

std::string AddressBookPath() {
  if (const char* path = std::getenv("VORNAL_ADDRESS_BOOK"); path != nullptr && *path != '\0') return path;
  return (vn::MachineHome() / "addressbook.vcf").string();
}

LONG ReadAddressFile(const std::string& path, std::vector<AddressEntry>* entries, int* skipped) {
  entries->clear();
  if (skipped) *skipped = 0;
  QFile file(QString::fromStdString(path));
  if (!file.exists()) return ERROR_SUCCESS;
  if (!file.open(QIODevice::ReadOnly))
    return file.error() == QFileDevice::PermissionsError ? ERROR_ACCESS_DENIED : ERROR_READ_FAULT;
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return ERROR_READ_FAULT;
  *entries = ParseVCards(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), skipped);
  // Names are unique among the cards: a later card with a name seen before is left out.
  std::vector<AddressEntry> unique;
  for (AddressEntry& entry : *entries) {
    const bool seen = std::any_of(unique.begin(), unique.end(),
                                  [&](const AddressEntry& e) { return vn::EqualsIgnoringCase(e.name, entry.name); });
    if (!seen) unique.push_back(std::move(entry));
  }
  *entries = std::move(unique);
  return ERROR_SUCCESS;
}

std::vector<AddressEntry> AccountEntries() {
  std::vector<AddressEntry> entries;
  for (const DWORD level : {DWORD{1}, DWORD{3}}) {
    DWORD index = 0;
    for (;;) {
      DWORD count = 0;
      void* buffer = nullptr;
      const NET_API_STATUS status = NetQueryDisplayInformation(nullptr, level, index, 100, 65536, &count, &buffer);
      if (status != ERROR_SUCCESS && status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA)) break;
      for (DWORD i = 0; i < count; ++i) {
        std::string name, comment;
        if (level == 1) {
          const auto& user = static_cast<const NET_DISPLAY_USER*>(buffer)[i];
          name = vn::ToUtf8(user.usri1_name);
          comment = vn::ToUtf8(user.usri1_comment);
          index = user.usri1_next_index;
        } else {
          const auto& group = static_cast<const NET_DISPLAY_GROUP*>(buffer)[i];
          name = vn::ToUtf8(group.grpi3_name);
          comment = vn::ToUtf8(group.grpi3_comment);
          index = group.grpi3_next_index;
        }
        if (std::string address = AddressInComment(comment); !address.empty() && name.find(';') == std::string::npos)
          entries.push_back({name, std::move(address), true});
      }
      (void)NetApiBufferFree(buffer);  // frees what the call gave; nothing to do should it fail
      if (status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA) || count == 0) break;
    }
  }
  std::sort(entries.begin(), entries.end(), LessByName);
  return entries;
}

LONG ReadAddressBook(const std::string& path, std::vector<AddressEntry>* entries) {
  std::vector<AddressEntry> cards;
  if (const LONG code = ReadAddressFile(path, &cards); code != ERROR_SUCCESS) return code;
  for (AddressEntry& account : AccountEntries()) {
    const bool hidden = std::any_of(cards.begin(), cards.end(),
                                    [&](const AddressEntry& e) { return vn::EqualsIgnoringCase(e.name, account.name); });
    if (!hidden) cards.push_back(std::move(account));
  }
  std::sort(cards.begin(), cards.end(), LessByName);
  *entries = std::move(cards);
  return ERROR_SUCCESS;
}

LONG CheckNewEntry(const std::vector<AddressEntry>& fileEntries, const AddressEntry& entry, std::string* why) {
  const auto fail = [why](const char* text) {
    if (why) *why = text;
    return ERROR_INVALID_PARAMETER;
  };
  if (entry.name.empty()) return fail("Enter a name.");
  if (entry.name.find_first_of(";\r\n") != std::string::npos) return fail("A name may not contain \";\".");
  if (!IsAddress(entry.address)) return fail("Enter a mail address of the form name@domain.");
  for (const AddressEntry& e : fileEntries)
    if (vn::EqualsIgnoringCase(e.name, entry.name)) return fail("The address book already has an entry of that name.");
  return ERROR_SUCCESS;
}

LONG AppendAddressEntry(const std::string& path, const AddressEntry& entry, std::string* why) {
  std::vector<AddressEntry> cards;
  if (const LONG code = ReadAddressFile(path, &cards); code != ERROR_SUCCESS) return code;
  if (const LONG code = CheckNewEntry(cards, entry, why); code != ERROR_SUCCESS) return code;
  QByteArray bytes;
  QFile old(QString::fromStdString(path));
  if (old.exists()) {
    if (!old.open(QIODevice::ReadOnly)) return ERROR_ACCESS_DENIED;
    bytes = old.readAll();
    old.close();
    if (!bytes.isEmpty() && !bytes.endsWith('\n')) bytes.append("\r\n");
  }
  const std::string card = FormatVCard(entry);
  bytes.append(card.data(), static_cast<qsizetype>(card.size()));
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly))
    return file.error() == QFileDevice::PermissionsError ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
  if (file.write(bytes) != bytes.size() || !file.commit()) return ERROR_WRITE_FAULT;
  return ERROR_SUCCESS;
}

}  // namespace vn::mapi
