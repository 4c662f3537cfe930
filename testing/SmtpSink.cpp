#include "testing/SmtpSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace vn::testing {
namespace {

constexpr std::size_t kMaxLine = 64 * 1024;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool StartsWithWord(std::string_view line, std::string_view word) {
  return line.size() >= word.size() && Lower(line.substr(0, word.size())) == Lower(word);
}

// The address between the angle brackets after "MAIL FROM:" or "RCPT TO:".
std::string EnvelopeAddress(std::string_view line) {
  const auto open = line.find('<');
  const auto close = line.find('>', open == std::string_view::npos ? 0 : open);
  if (open == std::string_view::npos || close == std::string_view::npos) return {};
  return std::string(line.substr(open + 1, close - open - 1));
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string data;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      data.push_back(text[i]);
      continue;
    }
    if (text.substr(i + 1, 2) == "\r\n") {
      i += 2;
    } else if (i + 2 < text.size()) {
      data.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    }
  }
  return data;
}

// A connection's lines, read through a buffer; empty optional-like false at
// the end, on a line too long, or when the sink stops.
class LineReader {
 public:
  LineReader(int fd, int wake) : m_fd(fd), m_wake(wake) {}
  bool Next(std::string* line) {
    for (;;) {
      const auto end = m_buffer.find("\r\n");
      if (end != std::string::npos) {
        *line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 2);
        return true;
      }
      if (m_buffer.size() > kMaxLine) return false;
      pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (fds[1].revents) return false;
      char chunk[16384];
      const ssize_t got = recv(m_fd, chunk, sizeof chunk, 0);
      if (got <= 0) return false;
      m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
  }

 private:
  int m_fd;
  int m_wake;
  std::string m_buffer;
};

void Send(int fd, const std::string& reply) {
  std::string_view rest = reply;
  while (!rest.empty()) {
    const ssize_t sent = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    if (sent <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(sent));
  }
}

}  // namespace

std::string DecodeBase64(std::string_view text) {
  std::string data;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int value = -1;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    if (c >= '0' && c <= '9') value = c - '0' + 52;
    if (c == '+') value = 62;
    if (c == '/') value = 63;
    if (value < 0) continue;  // line breaks, padding
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      data.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return data;
}

SmtpSink::SmtpSink(SmtpSinkOptions options) : m_options(std::move(options)) {
  m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  m_wake = eventfd(0, EFD_CLOEXEC);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (m_listen < 0 || m_wake < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(m_listen, 8) != 0 || getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "the SMTP sink cannot listen: " << std::strerror(errno);
    return;
  }
  m_port = ntohs(address.sin_port);
  m_thread = std::thread([this] { Serve(); });
}

SmtpSink::~SmtpSink() { Stop(); }

void SmtpSink::Stop() {
  if (m_wake >= 0) {
    const std::uint64_t one = 1;
    (void)!write(m_wake, &one, sizeof one);
  }
  if (m_thread.joinable()) m_thread.join();
  if (m_listen >= 0) close(m_listen);
  if (m_wake >= 0) close(m_wake);
  m_listen = m_wake = -1;
}

std::vector<SinkMessage> SmtpSink::Messages() const {
  std::lock_guard lock(m_mutex);
  return m_messages;
}

void SmtpSink::Serve() {
  for (;;) {
    pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++m_connections;
    Converse(fd);
    close(fd);
  }
}

void SmtpSink::Converse(int fd) {
  LineReader reader(fd, m_wake);
  const bool needLogin = !m_options.user.empty();
  bool loggedIn = false;
  SinkMessage envelope;
  bool inMail = false;
  Send(fd, "220 sink.test ESMTP ready\r\n");
  std::string line;
  const auto checkLogin = [&](const std::string& user, const std::string& password) {
    loggedIn = user == m_options.user && password == m_options.password;
    if (loggedIn) {
      envelope.user = user;
      envelope.password = password;
    }
    Send(fd, loggedIn ? "235 2.7.0 Authentication successful\r\n" : "535 5.7.8 Authentication failed\r\n");
  };
  while (reader.Next(&line)) {
    if (StartsWithWord(line, "EHLO")) {
      Send(fd, needLogin ? "250-sink.test\r\n250-AUTH PLAIN\r\n250 8BITMIME\r\n" : "250-sink.test\r\n250 8BITMIME\r\n");
    } else if (StartsWithWord(line, "HELO")) {
      Send(fd, "250 sink.test\r\n");
    } else if (StartsWithWord(line, "AUTH PLAIN")) {
      std::string encoded = line.size() > 11 ? line.substr(11) : std::string();
      if (encoded.empty()) {
        Send(fd, "334 \r\n");
        if (!reader.Next(&encoded)) return;
      }
      const std::string plain = DecodeBase64(encoded);  // authzid NUL user NUL password
      const auto first = plain.find('\0');
      const auto second = first == std::string::npos ? first : plain.find('\0', first + 1);
      if (second == std::string::npos) {
        Send(fd, "501 5.5.2 bad PLAIN answer\r\n");
        continue;
      }
      checkLogin(plain.substr(first + 1, second - first - 1), plain.substr(second + 1));
    } else if (StartsWithWord(line, "MAIL FROM:")) {
      if (needLogin && !loggedIn) {
        Send(fd, "530 5.7.0 Authentication required\r\n");
        continue;
      }
      envelope.from = EnvelopeAddress(line);
      envelope.to.clear();
      inMail = true;
      Send(fd, "250 2.1.0 OK\r\n");
    } else if (StartsWithWord(line, "RCPT TO:")) {
      const std::string address = EnvelopeAddress(line);
      if (!inMail) {
        Send(fd, "503 5.5.1 MAIL first\r\n");
      } else if (m_options.refusedRecipients.contains(address)) {
        Send(fd, "550 5.1.1 <" + address + "> no such user here\r\n");
      } else {
        envelope.to.push_back(address);
        Send(fd, "250 2.1.5 OK\r\n");
      }
    } else if (StartsWithWord(line, "DATA")) {
      if (!inMail || envelope.to.empty()) {
        Send(fd, "503 5.5.1 RCPT first\r\n");
        continue;
      }
      Send(fd, "354 End data with <CR><LF>.<CR><LF>\r\n");
      std::string data;
      bool tooLarge = false;
      for (;;) {
        if (!reader.Next(&line)) return;
        if (line == ".") break;
        if (line.starts_with('.')) line.erase(0, 1);
        if (data.size() + line.size() + 2 > m_options.maxMessageBytes) tooLarge = true;
        if (!tooLarge) data += line + "\r\n";
      }
      inMail = false;
      std::lock_guard lock(m_mutex);
      if (tooLarge) {
        Send(fd, "552 5.3.4 Message too big\r\n");
      } else if (m_options.refuseMessages) {
        Send(fd, "554 5.6.0 Message refused by the sink\r\n");
      } else if (m_messages.size() >= m_options.maxMessages) {
        Send(fd, "452 4.3.1 Too many messages kept\r\n");
      } else {
        envelope.data = std::move(data);
        m_messages.push_back(envelope);
        Send(fd, "250 2.0.0 OK queued\r\n");
      }
    } else if (StartsWithWord(line, "RSET")) {
      inMail = false;
      envelope.to.clear();
      Send(fd, "250 2.0.0 OK\r\n");
    } else if (StartsWithWord(line, "NOOP")) {
      Send(fd, "250 2.0.0 OK\r\n");
    } else if (StartsWithWord(line, "QUIT")) {
      Send(fd, "221 2.0.0 Bye\r\n");
      return;
    } else {
      Send(fd, "502 5.5.2 Command not recognised\r\n");
    }
  }
}

std::string MailHeader(std::string_view message, std::string_view name) {
  const auto headEnd = message.find("\r\n\r\n");
  const std::string_view head = message.substr(0, headEnd);
  const std::string wanted = Lower(name) + ":";
  std::size_t start = 0;
  while (start < head.size()) {
    auto end = head.find("\r\n", start);
    if (end == std::string_view::npos) end = head.size();
    if (Lower(head.substr(start, wanted.size())) == wanted) {
      std::string value(head.substr(start + wanted.size(), end - start - wanted.size()));
      // Folded lines start with a blank.
      while (end + 2 < head.size() && (head[end + 2] == ' ' || head[end + 2] == '\t')) {
        const auto next = std::min(head.find("\r\n", end + 2), head.size());
        value += head.substr(end + 2, next - end - 2);
        end = next;
      }
      const auto first = value.find_first_not_of(" \t");
      return first == std::string::npos ? std::string() : value.substr(first);
    }
    start = end + 2;
  }
  return {};
}

std::vector<MailPart> MailParts(std::string_view message) {
  const auto decoded = [](std::string_view head, std::string_view body) {
    MailPart part;
    part.contentType = MailHeader(head, "Content-Type");
    const std::string disposition = MailHeader(head, "Content-Disposition");
    if (const auto at = disposition.find("filename=\""); at != std::string::npos) {
      const auto end = disposition.find('"', at + 10);
      part.fileName = disposition.substr(at + 10, end - at - 10);
    }
    const std::string encoding = Lower(MailHeader(head, "Content-Transfer-Encoding"));
    part.body = encoding == "base64"             ? DecodeBase64(body)
                : encoding == "quoted-printable" ? DecodeQuotedPrintable(body)
                                                 : std::string(body);
    return part;
  };
  const auto headEnd = message.find("\r\n\r\n");
  if (headEnd == std::string_view::npos) return {};
  const std::string type = MailHeader(message, "Content-Type");
  const auto at = type.find("boundary=");
  if (at == std::string::npos) return {decoded(message.substr(0, headEnd + 2), message.substr(headEnd + 4))};
  std::string boundary = type.substr(at + 9);
  if (boundary.starts_with('"')) boundary = boundary.substr(1, boundary.find('"', 1) - 1);
  boundary = boundary.substr(0, boundary.find(';'));
  const std::string delimiter = "\r\n--" + boundary;
  std::vector<MailPart> parts;
  std::size_t start = message.find(delimiter, headEnd);
  while (start != std::string_view::npos) {
    start += delimiter.size();
    if (message.substr(start, 2) == "--") break;  // the closing delimiter
    start = message.find("\r\n", start) + 2;
    const auto end = message.find(delimiter, start);
    if (end == std::string_view::npos) break;
    const std::string_view part = message.substr(start, end - start);
    const auto partHead = part.find("\r\n\r\n");
    if (partHead != std::string_view::npos)
      parts.push_back(decoded(part.substr(0, partHead + 2), part.substr(partHead + 4)));
    start = end;
  }
  return parts;
}

}  // namespace vn::testing
