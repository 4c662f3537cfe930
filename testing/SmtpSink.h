#pragma once
// A mail server for tests: listens on 127.0.0.1 on a free port and speaks
// enough ESMTP for a client to deliver (EHLO/HELO, AUTH PLAIN when it is
// given a login, MAIL FROM, RCPT TO, DATA, RSET, NOOP, QUIT; no
// STARTTLS). It records each message it accepts — envelope, login and the
// data as sent, dots unstuffed — and can be told to refuse recipients or
// every message. Bounded: a message over maxMessageBytes is refused (552),
// at most maxMessages are kept, a line over 64 KiB ends the connection.
//
// One thread serves one connection at a time; the constructor starts it and
// Stop (or the destructor) ends it and closes the port. The recorded
// messages are read from the test's thread at any time.
//
// Also here: the small MIME reading tests need (headers, parts, base64 and
// quoted-printable decoded).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vn::testing {

struct SinkMessage {
  std::string from;             // MAIL FROM, without the angle brackets
  std::vector<std::string> to;  // every accepted RCPT TO, in order
  std::string user;             // the login it came with (empty: none)
  std::string password;
  std::string data;             // the message, CR LF lines, without the final "."
};

struct SmtpSinkOptions {
  std::set<std::string> refusedRecipients;  // answered 550
  bool refuseMessages = false;              // every DATA answered 554 at its end
  std::string user;                         // non-empty: AUTH is offered and required
  std::string password;
  std::size_t maxMessageBytes = 8u << 20;
  std::size_t maxMessages = 64;
};

class SmtpSink {
 public:
  explicit SmtpSink(SmtpSinkOptions options = {});
  ~SmtpSink();
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  // 0 when the sink could not listen (a test failure is added).
  std::uint16_t Port() const { return m_port; }
  std::vector<SinkMessage> Messages() const;
  // Connections accepted so far.
  int Connections() const { return m_connections.load(); }
  void Stop();

 private:
  void Serve();
  void Converse(int fd);

  SmtpSinkOptions m_options;
  int m_listen = -1;
  int m_wake = -1;  // an eventfd: Stop wakes the thread with it
  std::uint16_t m_port = 0;
  std::atomic<int> m_connections{0};
  mutable std::mutex m_mutex;
  std::vector<SinkMessage> m_messages;
  std::thread m_thread;
};

// The value of the first header `name` (any letter case) of a message's
// head, folded lines joined; empty when there is none.
std::string MailHeader(std::string_view message, std::string_view name);

struct MailPart {
  std::string contentType;
  std::string fileName;  // from Content-Disposition; empty for the text
  std::string body;      // decoded
};
// The parts of a multipart message (the whole body as one part otherwise).
std::vector<MailPart> MailParts(std::string_view message);

std::string DecodeBase64(std::string_view text);

}  // namespace vn::testing
