#include "convert/ConvertCSV.h"

#include <shapefil.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One field of a line as the file holds it.
struct Field {
  std::string text;     // without quotes
  bool quoted = false;
};

// Splits a line as the result view does: a quoted field runs to the next
// quote (a comma inside belongs to it; a missing closing quote ends the line),
// any other field to the next comma. Spaces around fields do not count.
std::vector<Field> SplitLine(std::string_view line) {
  std::vector<Field> fields;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    Field field;
    if (pos < line.size() && line[pos] == '"') {
      const std::size_t close = line.find('"', pos + 1);
      if (close == std::string_view::npos) break;
      field.text.assign(line.substr(pos + 1, close - pos - 1));
      field.quoted = true;
      pos = close + 1;
      const std::size_t comma = line.find(',', pos);
      pos = comma == std::string_view::npos ? line.size() : comma + 1;
    } else {
      const std::size_t comma = line.find(',', pos);
      std::string_view text = line.substr(pos, comma == std::string_view::npos ? line.npos : comma - pos);
      while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
      field.text.assign(text);
      pos = comma == std::string_view::npos ? line.size() : comma + 1;
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

std::optional<long long> ParseNumber(std::string_view text) {
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "1234567" -> "1,234,567", "-1234" -> "- 1,234" (as the result window shows
// numbers); a text that is not a number stays as it is.
std::string FormatNumber(std::string_view text) {
  const auto value = ParseNumber(text);
  if (!value) return std::string(text);
  std::string digits = std::to_string(*value < 0 ? -static_cast<unsigned long long>(*value)
                                                 : static_cast<unsigned long long>(*value));
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return *value < 0 ? "- " + grouped : grouped;
}

// Reads a result file line by line (lines end with CR LF or LF).
class LineReader {
 public:
  explicit LineReader(const std::string& path) : m_in(path, std::ios::binary) {}
  bool IsOpen() const { return m_in.is_open(); }
  // False at the end of the file; *tooLong when a line exceeds the bound.
  bool Next(std::string* line, bool* tooLong) {
    *tooLong = false;
    line->clear();
    int c;
    bool any = false;
    while ((c = m_in.get()) != EOF) {
      any = true;
      if (c == '\n') break;
      if (line->size() >= ConvertCSV::kMaxLineLength) {
        *tooLong = true;
        return false;
      }
      line->push_back(static_cast<char>(c));
    }
    if (!any) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    ++m_lineNumber;
    return true;
  }
  bool Failed() const { return m_in.bad(); }
  long LineNumber() const { return m_lineNumber; }

 private:
  std::ifstream m_in;
  long m_lineNumber = 0;
};

enum class LineKind { Attributes, Heading, Titles, Row, Totals };

// What the first reading learns about the file.
struct Layout {
  std::vector<std::string> heading;       // one text per "B1" line
  std::vector<std::string> titles;        // column titles, without the record kind
  std::vector<std::size_t> widths;        // longest displayed value per column (titles included)
  std::vector<std::size_t> rawWidths;     // longest stored value per column
  std::vector<bool> numeric;              // every non-empty value of the column is a number
  std::size_t kindWidth = 4;
  std::string totals;                     // the totals line as the result window shows it
  bool hasTitles = false;
};

// Walks the file once, calling `row` for every row (fields after the record
// kind and the kind itself). The totals line is the last line when it is a
// "TF" record; a "TF" line elsewhere is an ordinary row. Returns an error text.
std::string Walk(const std::string& source, Layout* layout,
                 const std::function<void(const std::string& kind, const std::vector<Field>&)>& row) {
  LineReader reader(source);
  if (!reader.IsOpen()) return "Cannot open " + source + ".";
  std::string line;
  bool tooLong = false;
  bool inHeader = true;
  std::optional<std::vector<Field>> pending;  // held back one line: it may be the totals
  auto flush = [&] {
    if (!pending) return;
    const std::string kind = pending->empty() ? std::string() : (*pending)[0].text;
    std::vector<Field> values(pending->size() > 1 ? pending->begin() + 1 : pending->end(), pending->end());
    row(kind, values);
    pending.reset();
  };
  while (reader.Next(&line, &tooLong)) {
    std::vector<Field> fields = SplitLine(line);
    const std::string kind = fields.empty() ? std::string() : fields[0].text;
    if (inHeader && (kind == "A1" || kind == "B1")) {
      if (kind == "B1" && layout) {
        std::string text;
        for (std::size_t i = 1; i < fields.size(); ++i) {
          if (i > 1) text += ' ';
          text += fields[i].text;
        }
        layout->heading.push_back(std::move(text));
      }
      continue;
    }
    if (inHeader) {
      inHeader = false;
      if (layout) {
        layout->hasTitles = true;
        for (std::size_t i = 1; i < fields.size(); ++i) layout->titles.push_back(fields[i].text);
      }
      continue;
    }
    flush();
    pending = std::move(fields);
  }
  if (tooLong)
    return "Line " + std::to_string(reader.LineNumber() + 1) + " of " + source + " is longer than " +
           std::to_string(ConvertCSV::kMaxLineLength) + " characters.";
  if (reader.Failed()) return "Cannot read " + source + ".";
  if (pending && !pending->empty() && (*pending)[0].quoted && (*pending)[0].text == "TF") {
    if (layout) {
      std::string totals;
      for (std::size_t i = 1; i < pending->size(); ++i) {
        const Field& f = (*pending)[i];
        totals += f.quoted ? f.text : FormatNumber(f.text);
        totals += (i % 2) ? "   " : " ";
      }
      while (!totals.empty() && totals.back() == ' ') totals.pop_back();
      layout->totals = std::move(totals);
    }
    pending.reset();
  }
  flush();
  return {};
}

std::string Measure(const std::string& source, Layout* layout) {
  std::vector<bool> seenValue;
  std::string error = Walk(source, layout, [&](const std::string& kind, const std::vector<Field>& values) {
    const std::size_t n = std::max(values.size(), layout->titles.size());
    if (layout->widths.size() < n) {
      layout->widths.resize(n, 0);
      layout->rawWidths.resize(n, 0);
      layout->numeric.resize(n, true);
      seenValue.resize(n, false);
    }
    layout->kindWidth = std::max(layout->kindWidth, kind.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      const Field& f = values[i];
      if (f.text.empty()) continue;
      seenValue[i] = true;
      if (f.quoted || !ParseNumber(f.text)) layout->numeric[i] = false;
      layout->widths[i] = std::max(layout->widths[i], f.quoted ? f.text.size() : FormatNumber(f.text).size());
      layout->rawWidths[i] = std::max(layout->rawWidths[i], f.text.size());
    }
  });
  if (!error.empty()) return error;
  if (!layout->hasTitles) return source + " is not a report result: it has no column header line.";
  const std::size_t n = std::max(layout->widths.size(), layout->titles.size());
  layout->widths.resize(n, 0);
  layout->rawWidths.resize(n, 0);
  layout->numeric.resize(n, true);
  seenValue.resize(n, false);
  layout->titles.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (!seenValue[i]) layout->numeric[i] = false;  // a column without values is text
    layout->widths[i] = std::max(layout->widths[i], layout->titles[i].size());
  }
  return {};
}

const std::string& Value(const std::vector<Field>& values, std::size_t i) {
  static const std::string empty;
  return i < values.size() ? values[i].text : empty;
}

std::string Displayed(const std::vector<Field>& values, std::size_t i) {
  if (i >= values.size()) return {};
  return values[i].quoted ? values[i].text : FormatNumber(values[i].text);
}

// A file written under a temporary name and put in place by Commit.
class PendingFile {
 public:
  // `extension` ends the temporary name (shapelib puts ".dbf" in place of any other).
  explicit PendingFile(const std::string& destination, const char* extension = "")
      : m_destination(destination) {
    std::random_device random;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(random()));
    m_temporary = destination + suffix + extension;
  }
  ~PendingFile() {
    if (!m_committed) {
      std::error_code ec;
      fs::remove(m_temporary, ec);
    }
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const std::string& Path() const { return m_temporary; }
  std::string Commit() {
    std::error_code ec;
    fs::rename(m_temporary, m_destination, ec);
    if (ec) return "Cannot write " + m_destination + ": " + ec.message() + ".";
    m_committed = true;
    return {};
  }

 private:
  std::string m_destination;
  std::string m_temporary;
  bool m_committed = false;
};

std::string Pad(const std::string& text, std::size_t width, bool right) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

std::string WriteText(const std::string& destination, const std::string& source, const Layout& layout) {
  PendingFile file(destination);
  std::ofstream out(file.Path(), std::ios::binary | std::ios::trunc);
  if (!out) return "Cannot create " + destination + ".";
  for (const std::string& line : layout.heading) out << line << "\r\n";
  if (!layout.heading.empty()) out << "\r\n";
  auto writeLine = [&](const std::function<std::string(std::size_t)>& cell) {
    std::string line;
    for (std::size_t i = 0; i < layout.titles.size(); ++i) {
      if (i) line += "  ";
      line += Pad(cell(i), layout.widths[i], layout.numeric[i]);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\r\n";
  };
  writeLine([&](std::size_t i) { return layout.titles[i]; });
  writeLine([&](std::size_t i) { return std::string(layout.widths[i], '-'); });
  std::string error = Walk(source, nullptr, [&](const std::string&, const std::vector<Field>& values) {
    writeLine([&](std::size_t i) { return Displayed(values, i); });
  });
  if (!error.empty()) return error;
  if (!layout.totals.empty()) out << "\r\n" << layout.totals << "\r\n";
  out.close();
  if (!out) return "Cannot write " + destination + ".";
  return file.Commit();
}

std::string Escape(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string WriteHtml(const std::string& destination, const std::string& source, const Layout& layout) {
  PendingFile file(destination);
  std::ofstream out(file.Path(), std::ios::binary | std::ios::trunc);
  if (!out) return "Cannot create " + destination + ".";
  const std::string title = layout.heading.empty() ? std::string("Report") : layout.heading.front();
  out << "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" << Escape(title)
      << "</title>\n</head>\n<body>\n";
  for (std::size_t i = 0; i < layout.heading.size(); ++i)
    out << (i == 0 ? "<h1>" : "<p>") << Escape(layout.heading[i]) << (i == 0 ? "</h1>\n" : "</p>\n");
  out << "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\">\n<thead>\n<tr>";
  for (const std::string& t : layout.titles) out << "<th>" << Escape(t) << "</th>";
  out << "</tr>\n</thead>\n<tbody>\n";
  std::string error = Walk(source, nullptr, [&](const std::string&, const std::vector<Field>& values) {
    out << "<tr>";
    for (std::size_t i = 0; i < layout.titles.size(); ++i)
      out << (layout.numeric[i] ? "<td align=\"right\">" : "<td>") << Escape(Displayed(values, i)) << "</td>";
    out << "</tr>\n";
  });
  if (!error.empty()) return error;
  out << "</tbody>\n</table>\n";
  if (!layout.totals.empty()) out << "<p><b>" << Escape(layout.totals) << "</b></p>\n";
  out << "</body>\n</html>\n";
  out.close();
  if (!out) return "Cannot write " + destination + ".";
  return file.Commit();
}

// dBASE field names: at most 10 characters of letters, digits and "_",
// unique without case. A title that leaves nothing becomes FIELDn.
std::vector<std::string> FieldNames(const std::vector<std::string>& titles) {
  std::vector<std::string> names;
  std::set<std::string> taken = {"KIND"};
  for (std::size_t i = 0; i < titles.size(); ++i) {
    std::string base;
    for (char c : titles[i]) {
      if (base.size() == 10) break;
      const auto u = static_cast<unsigned char>(c);
      base += (std::isalnum(u) && u < 0x80) ? static_cast<char>(std::toupper(u)) : '_';
    }
    if (base.find_first_not_of('_') == std::string::npos) base = "FIELD" + std::to_string(i + 1);
    std::string name = base;
    for (int n = 2; taken.count(name); ++n) {
      const std::string suffix = "_" + std::to_string(n);
      name = base.substr(0, 10 - suffix.size()) + suffix;
    }
    taken.insert(name);
    names.push_back(name);
  }
  return names;
}

struct DbfCloser {
  void operator()(DBFInfo* h) const { DBFClose(h); }
};

std::string WriteDBase(const std::string& destination, const std::string& source, const Layout& layout) {
  PendingFile file(destination, ".dbf");
  std::unique_ptr<DBFInfo, DbfCloser> dbf(DBFCreate(file.Path().c_str()));
  if (!dbf) return "Cannot create " + destination + ".";
  const int kindField = DBFAddField(dbf.get(), "KIND", FTString, static_cast<int>(layout.kindWidth), 0);
  if (kindField < 0) return "Cannot create the table of " + destination + ".";
  const std::vector<std::string> names = FieldNames(layout.titles);
  std::vector<int> widths;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool number = layout.numeric[i];
    // Signed 64-bit values have at most 20 characters.
    const int width = static_cast<int>(std::clamp<std::size_t>(layout.rawWidths[i], 1, number ? 20 : 254));
    widths.push_back(width);
    if (DBFAddField(dbf.get(), names[i].c_str(), number ? FTDouble : FTString, width, 0) < 0)
      return "Cannot create the field " + names[i] + " of " + destination + ".";
  }
  int record = 0;
  bool failed = false;
  std::string error = Walk(source, nullptr, [&](const std::string& kind, const std::vector<Field>& values) {
    if (failed) return;
    failed = !DBFWriteStringAttribute(dbf.get(), record, kindField, kind.c_str());
    for (std::size_t i = 0; i < names.size() && !failed; ++i) {
      const int field = static_cast<int>(i) + 1;
      const std::string& value = Value(values, i);
      if (value.empty()) {
        failed = !DBFWriteNULLAttribute(dbf.get(), record, field);
      } else if (layout.numeric[i]) {
        // Written as stored: doubles would round values beyond 2^53.
        std::string padded = Pad(value, static_cast<std::size_t>(widths[i]), true);
        failed = !DBFWriteAttributeDirectly(dbf.get(), record, field, padded.data());
      } else {
        // A longer text is cut to the field's 254 characters.
        const std::string cut = value.substr(0, static_cast<std::size_t>(widths[i]));
        failed = !DBFWriteStringAttribute(dbf.get(), record, field, cut.c_str());
      }
    }
    ++record;
  });
  if (!error.empty()) return error;
  if (failed) return "Cannot write " + destination + ".";
  dbf.reset();
  return file.Commit();
}

}  // namespace

std::string ConvertCSV::ReformatFile(const std::string& destination, const std::string& source,
                                     std::uint32_t options) {
  if (destination.empty() || source.empty()) return "No file name was given.";
  std::error_code ec;
  if (fs::equivalent(destination, source, ec)) return "A result cannot be converted onto itself.";
  if (!(options & (kText | kHtml | kDBase))) {
    if (!(options & kCommaDelimited)) return "The output format is unknown.";
    PendingFile file(destination);
    fs::copy_file(source, file.Path(), fs::copy_options::overwrite_existing, ec);
    if (ec) return "Cannot copy " + source + " to " + destination + ": " + ec.message() + ".";
    return file.Commit();
  }
  Layout layout;
  std::string error = Measure(source, &layout);
  if (!error.empty()) return error;
  if (options & kText) return WriteText(destination, source, layout);
  if (options & kHtml) return WriteHtml(destination, source, layout);
  return WriteDBase(destination, source, layout);
}
