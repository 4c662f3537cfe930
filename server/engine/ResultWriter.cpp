#include "server/engine/ResultWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace vn::server {

void Text(std::string& out, std::string_view text) {
  out += ",\"";
  const std::size_t start = out.size();
  out.append(text);
  // Almost every text is clean: look once, mend only where needed.
  for (std::size_t i = start; i < out.size(); ++i) {
    const char c = out[i];
    if (c == '"') {
      out[i] = '\'';
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      out[i] = ' ';
    }
  }
  out += '"';
}

std::string Grouped(std::uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

void Number(std::string& out, std::int64_t value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out += ',';
  out.append(buf, end);
}

bool PathTextIsExact(std::string_view path) {
  for (char c : path)
    if (c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

bool NameTextIsExact(std::string_view name) {
  return PathTextIsExact(name) && name.find('\\') == std::string_view::npos;
}

DWORD CodeFromErrno(int err) {
  switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS: return ERROR_WRITE_PROTECT;
    default: return ERROR_WRITE_FAULT;
  }
}

ResultWriter::~ResultWriter() { Discard(); }

DWORD ResultWriter::Create(const std::filesystem::path& path) {
  Discard();
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  if (m_fd < 0) return CodeFromErrno(errno);
  m_path = path;
  m_error = 0;
  m_buffer.reserve(1 << 18);
  return 0;
}

void ResultWriter::Append(std::string_view bytes) {
  if (m_fd < 0 || m_error != 0) return;
  if (m_buffer.size() + bytes.size() > (1 << 18)) Flush();
  if (bytes.size() >= (1 << 18)) {
    m_buffer.append(bytes);
    Flush();
  } else {
    m_buffer.append(bytes);
  }
}

void ResultWriter::Flush() {
  std::size_t done = 0;
  while (done < m_buffer.size() && m_error == 0) {
    ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_error = CodeFromErrno(n < 0 ? errno : ENOSPC);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  m_buffer.clear();
}

void ResultWriter::AppendFile(int fd) {
  if (m_fd < 0 || m_error != 0) return;
  Flush();
  if (::lseek(fd, 0, SEEK_SET) != 0) {
    m_error = CodeFromErrno(errno);
    return;
  }
  // The kernel copies between the two files; plain reads where it cannot.
  for (;;) {
    ssize_t n = ::copy_file_range(fd, nullptr, m_fd, nullptr, 1 << 30, 0);
    if (n > 0) continue;
    if (n == 0) return;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      m_error = CodeFromErrno(errno);
      return;
    }
    break;
  }
  std::string chunk(1 << 18, '\0');
  for (;;) {
    ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      m_error = CodeFromErrno(errno);
      return;
    }
    if (n == 0) return;
    m_buffer.assign(chunk.data(), static_cast<std::size_t>(n));
    Flush();
    if (m_error) return;
  }
}

DWORD ResultWriter::Finish() {
  if (m_fd < 0) return ERROR_INVALID_HANDLE;
  Flush();
  if (::close(m_fd) != 0 && m_error == 0) m_error = CodeFromErrno(errno);
  m_fd = -1;
  DWORD error = m_error;
  if (error != 0) ::unlink(m_path.c_str());
  m_path.clear();
  return error;
}

void ResultWriter::Discard() {
  if (m_fd < 0) return;
  ::close(m_fd);
  ::unlink(m_path.c_str());
  m_fd = -1;
  m_path.clear();
  m_buffer.clear();
}

int CreateSpillFile(const std::filesystem::path& near, DWORD& error) {
  std::filesystem::path dir = near.parent_path();
  if (dir.empty()) dir = ".";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // File systems without unnamed files: a named one, removed at once.
  std::string name = (dir / ".vnrows-XXXXXX").string();
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = CodeFromErrno(errno);
    return -1;
  }
  ::unlink(name.c_str());
  return fd;
}

}  // namespace vn::server
