#pragma once
// What every verb of vnadmin prints the same way: tables with a header line,
// failures with the system's text for their Win32 code, usage complaints, and
// the exit statuses.
//
// Tables: one header line, then one line per row; each column starts where its
// header word starts, and columns are at least two spaces apart, so a reader
// cuts every line at the header's column positions. The last column is not
// padded. Control characters in a cell are shown escaped ("\n", "\t",
// "\x01"), so a row is always one line.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vn::admin {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;      // a call failed; its system text is on stderr
inline constexpr int kExitUsage = 2;        // a bad command line; the usage is on stderr
inline constexpr int kExitNotRunning = 3;   // status: this machine's service does not run

class Table {
 public:
  explicit Table(std::vector<std::string> header);
  // A row of as many cells as the header has (missing cells are empty).
  void Add(std::vector<std::string> row);
  bool Empty() const { return m_rows.empty(); }
  void Print(std::ostream& out) const;

 private:
  std::vector<std::string> m_header;
  std::vector<std::vector<std::string>> m_rows;
};

// The system's text for a Win32 code, without its line end; "Error N." for a
// code the message table has no text for.
std::string SystemText(std::uint32_t code);

// Writes "vnadmin: WHAT: TEXT (error CODE)" to `err` and returns kExitFailure.
[[nodiscard]] int Fail(std::ostream& err, std::string_view what, std::uint32_t code);

// Writes "vnadmin VERB: WHY", then the verb's usage, to `err` and returns
// kExitUsage.
[[nodiscard]] int BadUsage(std::ostream& err, std::string_view verb, std::string_view why);

// A control character as an escape, everything else as it is.
std::string Printable(std::string_view text);

// A machine argument ("\\NAME" or "NAME") is one that starts with two
// backslashes; verbs whose machine is optional take their first argument as
// the machine only then.
bool IsMachineArgument(std::string_view arg);

}  // namespace vn::admin
