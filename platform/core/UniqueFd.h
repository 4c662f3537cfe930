#pragma once
// One owned file descriptor: closed when the owner goes, handed on by move.
// -1 means "none". Release gives the descriptor up without closing it;
// Reset closes the one held and takes another.
//
// Close errors are ignored by the destructor; a writer that must know whether
// its data reached the file (a close can report a late write error) calls
// Close and checks its result.
//
// Threads: as for any value; one owner at a time.

#include <string>
#include <utility>

namespace vn {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  explicit operator bool() const { return Valid(); }

  // The descriptor, no longer owned.
  int Release() { return std::exchange(m_fd, -1); }
  // Closes the descriptor held (if any) and owns `fd` instead.
  void Reset(int fd = -1);
  // Closes the descriptor held: 0, or the errno of close (EINTR counts as
  // closed on Linux and is not reported). Nothing held: 0.
  [[nodiscard]] int Close();

 private:
  int m_fd = -1;
};

// A pipe whose two ends are close-on-exec: {read end, write end}. Both are
// invalid and *error holds the errno when it cannot be made.
struct PipeEnds {
  UniqueFd read;
  UniqueFd write;
};
PipeEnds MakePipe(int* error = nullptr);

// Everything `fd` yields until end of file (or a read error), e.g. what a
// child writes into a pipe until it closes its end. Blocks.
std::string ReadToEnd(const UniqueFd& fd);

}  // namespace vn
