#pragma once
// The result file: comma-separated lines ending in CR LF, texts in double
// quotes, numbers unquoted signed 64-bit decimals, the record kind first.
//
// A text is written so that the line still parses: a double quote in it
// becomes a single quote ('), and a carriage return, line feed or any other
// control character becomes a blank. Texts that name files must not be
// changed that way (the console acts on those paths): `PathTextIsExact`
// tells whether a text survives unchanged.
//
// ResultWriter owns the file it creates; the file is removed again unless
// Finish succeeds. Not thread-safe: callers serialise Append.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/core/Win32Types.h"

namespace vn::server {

// Line building: Row(out, "D1") starts a line, Text/Number add fields,
// EndRow ends it.
inline void Row(std::string& out, std::string_view kind) {
  out += '"';
  out += kind;
  out += '"';
}
void Text(std::string& out, std::string_view text);
void Number(std::string& out, std::int64_t value);
inline void EndRow(std::string& out) { out += "\r\n"; }

// A count for heading and progress texts: "1,234,567".
std::string Grouped(std::uint64_t n);

// True when Text would write `text` unchanged, and it holds no backslash
// (a backslash inside one name would read as a directory separator).
bool NameTextIsExact(std::string_view name);
// The same for a whole shown path (backslashes allowed).
bool PathTextIsExact(std::string_view path);

class ResultWriter {
 public:
  ResultWriter() = default;
  ResultWriter(const ResultWriter&) = delete;
  ResultWriter& operator=(const ResultWriter&) = delete;
  ~ResultWriter();

  // Creates the file new. 0, ERROR_FILE_EXISTS when it exists, else the failure's code.
  [[nodiscard]] DWORD Create(const std::filesystem::path& path);
  // Buffers and writes; a failed write is remembered and returned by Finish.
  void Append(std::string_view bytes);
  // Appends the whole content of an open descriptor (from its start).
  void AppendFile(int fd);
  // Flushes and closes: 0 and the file stays, or a code and it is gone.
  // (Whether to sync it to the disk before it is offered is the host's
  // choice: a result is cheap to make again.)
  [[nodiscard]] DWORD Finish();
  // Closes and removes the file.
  void Discard();

 private:
  void Flush();

  int m_fd = -1;
  std::filesystem::path m_path;
  std::string m_buffer;
  DWORD m_error = 0;
};

// An unnamed temporary file beside `near` (removed by the system when
// closed), for rows that are written before the heading is known. -1 on
// failure, with the code in `error`.
int CreateSpillFile(const std::filesystem::path& near, DWORD& error);

// The Win32 code for an errno of a file operation.
DWORD CodeFromErrno(int err);

}  // namespace vn::server
