#pragma once
// Mail from the reporting server: the SMTP settings of the server's machine,
// the check of every address, and one message with files attached, sent
// through libcurl's SMTP.
//
// The machine's settings are what its "Mail" property page writes:
// "SMTP Server" (host, or host:port; port 25 by default) and "Sender" (the
// From address) under HKEY_LOCAL_MACHINE\Software\Halvard\Mail, and, for SMTP
// authentication, "MailProfile" (the user) and "MailInfo" (81 bytes: the
// password, then zeros) under Software\Halvard\Vornal\4.0. They are read for
// every mail, so a change takes effect with the next run.
//
// SendMail checks every address (sender, To, Cc) before it connects: one that
// is not an address refuses the whole mail and nothing is sent. It then
// offers STARTTLS when the server has it (plain SMTP otherwise), logs in when
// a user is set and the server offers authentication, and sends one MIME
// message: a short text and the attachments in base64, streamed from their
// files. A recipient the server refuses fails the mail (nobody gets it).
// Every wait is bounded (MailLimits); `stop`, when it becomes true, ends the
// transfer.
//
// Threads: any; each call has its own connection.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vn::vnsrv {

struct MailServerSettings {
  std::string host;        // empty: no SMTP server is set
  std::uint16_t port = 25;
  std::string sender;      // the From address
  std::string user;        // empty: no authentication
  std::string password;
};

// The settings of this process's machine (its HKEY_LOCAL_MACHINE). Values
// that are missing stay empty; an "SMTP Server" that does not parse leaves
// the host empty and says why in *problem.
MailServerSettings ReadMailServerSettings(std::string* problem);

// "host", "host:port" or "[v6 address]:port", blanks around ignored. False
// for an empty host or a port that is not 1-65535.
[[nodiscard]] bool ParseSmtpServer(std::string_view text, std::string* host, std::uint16_t* port);

// local@domain: one "@", a local part of letters, digits and
// !#$%&'*+-/=?^_`{|}~. (no dot first, last or doubled), a domain of labels of
// letters, digits and "-" joined by dots; at most 254 characters. No blanks,
// control characters, quotes, angle brackets, commas or semicolons.
bool IsMailAddress(std::string_view address);

// The addresses of a ";"-separated list, blanks around each and empty ones
// left out (commas separate too).
std::vector<std::string> SplitAddressList(std::string_view list);

struct MailAttachment {
  std::filesystem::path file;  // read when the mail is sent
  std::string name;            // the file name the recipient sees
  std::string type;            // MIME type
};

struct MailMessage {
  std::vector<std::string> to;
  std::vector<std::string> cc;
  std::string subject;
  std::string text;
  std::vector<MailAttachment> attachments;
};

struct MailLimits {
  std::chrono::seconds connectTimeout{20};
  std::chrono::seconds timeout{120};             // the whole exchange
  std::uint64_t maxAttachmentBytes = 25u << 20;  // all attachments together
};

// Sends `message`. The empty text when the server accepted it, else a clause
// saying why not, to follow "was not sent: " ("\"bob@\" is not a mail
// address", "the mail server refused a recipient: 550 no such user").
[[nodiscard]] std::string SendMail(const MailServerSettings& server, const MailMessage& message,
                                   const MailLimits& limits, const std::atomic<bool>* stop = nullptr);

}  // namespace vn::vnsrv
