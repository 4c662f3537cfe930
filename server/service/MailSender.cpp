#include "server/service/MailSender.h"

#include <curl/curl.h>

#include <charconv>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>

#include "platform/registry/Registry.h"

namespace vn::vnsrv {
namespace {

constexpr const char* kMailKey = "Software\\Halvard\\Mail";
constexpr const char* kProductKey = "Software\\Halvard\\Vornal\\4.0";

// A value's text: its bytes up to the first zero (a binary block of text and
// zeros, or a string). Empty when missing.
std::string ReadValueText(HKEY root, const char* key, const char* name, DWORD size) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return {};
  std::string data(size, '\0');
  DWORD length = size;
  DWORD type = 0;
  const LONG error =
      RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &length);
  RegCloseKey(opened);
  if (error != ERROR_SUCCESS) return {};
  data.resize(std::min<std::size_t>(length, data.size()));
  if (const auto zero = data.find('\0'); zero != std::string::npos) data.resize(zero);
  return data;
}

std::string Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

bool IsAtext(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr && c != '\0';
}

bool IsLabelChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

std::string Base64(std::string_view data) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    std::uint32_t group = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) group |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) group |= static_cast<unsigned char>(data[i + 2]);
    text.push_back(kDigits[(group >> 18) & 63]);
    text.push_back(kDigits[(group >> 12) & 63]);
    text.push_back(i + 1 < data.size() ? kDigits[(group >> 6) & 63] : '=');
    text.push_back(i + 2 < data.size() ? kDigits[group & 63] : '=');
  }
  return text;
}

// A header's text on one line of ASCII: controls become blanks; text beyond
// ASCII goes as RFC 2047 encoded words of at most 45 bytes each (75
// characters encoded), never cut inside a UTF-8 sequence.
std::string HeaderText(std::string_view text) {
  std::string line;
  bool plain = true;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) plain = false;
    line.push_back(u < 0x20 || u == 0x7F ? ' ' : c);
  }
  if (plain) return line;
  std::string encoded;
  for (std::size_t start = 0; start < line.size();) {
    std::size_t end = std::min(start + 45, line.size());
    while (end < line.size() && end > start + 1 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
    encoded += (encoded.empty() ? "" : " ") + std::string("=?UTF-8?B?") +
               Base64(std::string_view(line).substr(start, end - start)) + "?=";
    start = end;
  }
  return encoded;
}

// "Mon, 07 Dec 2026 13:22:02 +0000", whatever the process's locale.
std::string MailDate() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[utc.tm_wday % 7], utc.tm_mday,
                kMonths[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::string Joined(const std::vector<std::string>& addresses) {
  std::string joined;
  for (const auto& address : addresses) joined += (joined.empty() ? "" : ", ") + address;
  return joined;
}

// What a transfer keeps for its callbacks.
struct Transfer {
  const std::atomic<bool>* stop = nullptr;
  std::string lastReply;  // the server's last refusal (a 4xx or 5xx line)
};

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string line(data, std::min<std::size_t>(size, 200));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // Refusals only: the QUIT that follows one is answered too.
  if (!line.empty() && (line[0] == '4' || line[0] == '5')) static_cast<Transfer*>(user)->lastReply = line;
  return 0;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* transfer = static_cast<Transfer*>(user);
  return transfer->stop && transfer->stop->load() ? 1 : 0;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MimeDeleter {
  void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

[[nodiscard]] bool Append(std::unique_ptr<curl_slist, ListDeleter>& list, const std::string& line) {
  curl_slist* longer = curl_slist_append(list.get(), line.c_str());
  if (!longer) return false;
  (void)list.release();  // now part of `longer`
  list.reset(longer);
  return true;
}

}  // namespace

MailServerSettings ReadMailServerSettings(std::string* problem) {
  MailServerSettings settings;
  const std::string server = ReadValueText(HKEY_LOCAL_MACHINE, kMailKey, "SMTP Server", 260);
  if (!server.empty() && !ParseSmtpServer(server, &settings.host, &settings.port)) {
    settings.host.clear();
    if (problem) *problem = "the SMTP server \"" + server + "\" is not a host or host:port";
  }
  settings.sender = Trimmed(ReadValueText(HKEY_LOCAL_MACHINE, kMailKey, "Sender", 260));
  settings.user = ReadValueText(HKEY_LOCAL_MACHINE, kProductKey, "MailProfile", 81);
  if (!settings.user.empty()) settings.password = ReadValueText(HKEY_LOCAL_MACHINE, kProductKey, "MailInfo", 81);
  return settings;
}

bool ParseSmtpServer(std::string_view text, std::string* host, std::uint16_t* port) {
  const std::string trimmed = Trimmed(text);
  std::string_view rest = trimmed;
  std::string name;
  if (rest.starts_with('[')) {
    const auto close = rest.find(']');
    if (close == std::string_view::npos) return false;
    name = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return false;
  } else {
    const auto colon = rest.find(':');
    name = std::string(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon);
  }
  if (name.empty()) return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '/' || c == '@' || c == '[' || c == ']') return false;
  }
  std::uint16_t number = 25;
  if (!rest.empty()) {
    rest.remove_prefix(1);  // the ':'
    unsigned parsed = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), parsed);
    if (error != std::errc() || end != rest.data() + rest.size() || parsed == 0 || parsed > 65535) return false;
    number = static_cast<std::uint16_t>(parsed);
  }
  *host = name;
  *port = number;
  return true;
}

bool IsMailAddress(std::string_view address) {
  if (address.empty() || address.size() > 254) return false;
  const auto at = address.find('@');
  if (at == std::string_view::npos || at == 0 || address.find('@', at + 1) != std::string_view::npos) return false;
  const std::string_view local = address.substr(0, at);
  const std::string_view domain = address.substr(at + 1);
  if (local.size() > 64 || local.front() == '.' || local.back() == '.' || local.find("..") != std::string_view::npos)
    return false;
  for (const char c : local) {
    if (c != '.' && !IsAtext(static_cast<unsigned char>(c))) return false;
  }
  if (domain.empty()) return false;
  std::size_t start = 0;
  for (;;) {
    const auto dot = domain.find('.', start);
    const std::string_view label = domain.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (const char c : label) {
      if (!IsLabelChar(static_cast<unsigned char>(c))) return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

std::vector<std::string> SplitAddressList(std::string_view list) {
  std::vector<std::string> addresses;
  std::size_t start = 0;
  while (start <= list.size()) {
    const auto end = list.find_first_of(";,", start);
    const std::string address =
        Trimmed(list.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (!address.empty()) addresses.push_back(address);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return addresses;
}

std::string SendMail(const MailServerSettings& server, const MailMessage& message, const MailLimits& limits,
                     const std::atomic<bool>* stop) {
  // Every address first: nothing goes out when one is wrong.
  if (server.host.empty()) return "no SMTP server is set (\"SMTP Server\" under Software\\Halvard\\Mail)";
  if (server.sender.empty()) return "no sender is set (\"Sender\" under Software\\Halvard\\Mail)";
  if (!IsMailAddress(server.sender)) return "the sender \"" + HeaderText(server.sender) + "\" is not a mail address";
  if (message.to.empty() && message.cc.empty()) return "it names no recipient";
  for (const auto* list : {&message.to, &message.cc}) {
    for (const auto& address : *list) {
      if (!IsMailAddress(address)) return "\"" + HeaderText(address) + "\" is not a mail address";
    }
  }
  std::uint64_t total = 0;
  for (const auto& attachment : message.attachments) {
    std::error_code error;
    const auto size = std::filesystem::file_size(attachment.file, error);
    if (error) return "its attachment " + attachment.name + " cannot be read";
    total += size;
  }
  if (total > limits.maxAttachmentBytes)
    return "its attachments (" + std::to_string(total) + " bytes) exceed the limit of " +
           std::to_string(limits.maxAttachmentBytes) + " bytes";

  static std::once_flag initialised;
  std::call_once(initialised, [] { (void)curl_global_init(CURL_GLOBAL_DEFAULT); });  // a failure shows in easy_init
  const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return "the mail library could not be started";
  CURL* const curl = easy.get();
  Transfer transfer{stop, {}};
  char errorText[CURL_ERROR_SIZE] = {};
  const bool v6 = server.host.find(':') != std::string::npos;
  const std::string url =
      "smtp://" + (v6 ? "[" + server.host + "]" : server.host) + ":" + std::to_string(server.port) + "/";
  const std::string from = "<" + server.sender + ">";

  std::unique_ptr<curl_slist, ListDeleter> recipients;
  std::unique_ptr<curl_slist, ListDeleter> headers;
  bool built = true;
  for (const auto* list : {&message.to, &message.cc}) {
    for (const auto& address : *list) built = built && Append(recipients, "<" + address + ">");
  }
  built = built && Append(headers, "Date: " + MailDate()) && Append(headers, "From: " + server.sender);
  if (!message.to.empty()) built = built && Append(headers, "To: " + Joined(message.to));
  if (!message.cc.empty()) built = built && Append(headers, "Cc: " + Joined(message.cc));
  built = built && Append(headers, "Subject: " + HeaderText(message.subject));
  {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const auto at = server.sender.find('@');
    char id[40];
    std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(random()));
    built = built && Append(headers, "Message-ID: <" + std::string(id) + server.sender.substr(at) + ">");
  }

  const std::unique_ptr<curl_mime, MimeDeleter> mime(curl_mime_init(curl));
  built = built && mime != nullptr;
  if (built) {
    curl_mimepart* text = curl_mime_addpart(mime.get());
    built = text && curl_mime_data(text, message.text.c_str(), CURL_ZERO_TERMINATED) == CURLE_OK &&
            curl_mime_type(text, "text/plain; charset=utf-8") == CURLE_OK &&
            curl_mime_encoder(text, "quoted-printable") == CURLE_OK;
    for (const auto& attachment : message.attachments) {
      curl_mimepart* part = built ? curl_mime_addpart(mime.get()) : nullptr;
      built = part && curl_mime_filedata(part, attachment.file.c_str()) == CURLE_OK &&
              curl_mime_filename(part, HeaderText(attachment.name).c_str()) == CURLE_OK &&
              curl_mime_type(part, attachment.type.c_str()) == CURLE_OK &&
              curl_mime_encoder(part, "base64") == CURLE_OK;
    }
  }
  if (!built) return "the message could not be put together (out of memory)";

  const long connectSeconds = static_cast<long>(limits.connectTimeout.count());
  const long seconds = static_cast<long>(limits.timeout.count());
  bool set = curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp") == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectSeconds) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_TIMEOUT, seconds) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY)) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str()) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients.get()) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime.get()) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, OnDebug) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &transfer) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK;
  if (set && !server.user.empty()) {
    set = curl_easy_setopt(curl, CURLOPT_USERNAME, server.user.c_str()) == CURLE_OK &&
          curl_easy_setopt(curl, CURLOPT_PASSWORD, server.password.c_str()) == CURLE_OK;
  }
  if (!set) return "the mail library refused its settings";

  const CURLcode result = curl_easy_perform(curl);
  if (result == CURLE_OK) return {};
  const std::string place = " (" + server.host + ":" + std::to_string(server.port) + ")";
  switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "the SMTP server " + server.host + " is not known";
    case CURLE_COULDNT_CONNECT:
      return "the SMTP server" + place + " cannot be reached";
    case CURLE_OPERATION_TIMEDOUT:
      return "the SMTP server" + place + " did not answer in time";
    case CURLE_ABORTED_BY_CALLBACK:
      return "the server is stopping";
    case CURLE_LOGIN_DENIED:
      return "the SMTP server refused the login of " + server.user +
             (transfer.lastReply.empty() ? "" : ": " + transfer.lastReply);
    default:
      break;
  }
  std::string why = std::strncmp(errorText, "RCPT failed", 11) == 0 ? "the mail server refused a recipient"
                    : std::strncmp(errorText, "MAIL failed", 11) == 0 ? "the mail server refused the sender"
                    : transfer.lastReply.empty() ? std::string(errorText[0] ? errorText : curl_easy_strerror(result))
                                                 : "the mail server refused the message";
  if (!transfer.lastReply.empty()) why += ": " + transfer.lastReply;
  return why;
}

}  // namespace vn::vnsrv
