#pragma once
// The conversion library: turns a result file (the comma-delimited record file
// a report run writes, docs/reports.md) into a file another program reads:
// plain text with aligned columns, an HTML page with one table, or a dBASE
// table. The result window's Save As uses it for every type but
// comma-delimited, which is a plain copy.
//
// What every format holds: the report heading (the texts of the "B1" records),
// the column titles (the fields after the record kind of the first line that
// is not a header record), one row per line after that, and the totals line
// ("TF", when the file ends with one). The record kind column is left out of
// text and HTML and kept in dBASE as the field KIND, so that detail and summary
// rows stay apart there.
//
// The source is read as a stream, twice (once to measure the columns, once to
// write), never loaded whole; lines longer than kMaxLineLength are refused.
// The destination is written under a temporary name beside it and renamed
// into place only when complete, so a failure leaves no file behind and an
// existing destination is replaced only by a complete one.
//
// Paths are host paths. Stateless; safe from any thread.

#include <cstddef>
#include <cstdint>
#include <string>

class ConvertCSV {
 public:
  // The output format bits of a report's options word.
  static constexpr std::uint32_t kCommaDelimited = 0x08;
  static constexpr std::uint32_t kHtml = 0x10;
  static constexpr std::uint32_t kDBase = 0x20;
  static constexpr std::uint32_t kText = 0x40;
  static constexpr std::size_t kMaxLineLength = 1 << 20;

  // Writes `source` converted to the format of the first format bit set in
  // `options` (text, HTML, dBASE, comma-delimited in that order of preference)
  // to `destination`, replacing it. Returns the empty text on success, else a
  // sentence for a message box saying what failed.
  [[nodiscard]] std::string ReformatFile(const std::string& destination, const std::string& source,
                                         std::uint32_t options);
};
