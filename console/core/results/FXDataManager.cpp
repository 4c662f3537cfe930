#include "console/core/results/FXDataManager.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include "platform/core/AsciiText.h"

namespace vn::console {

namespace {

constexpr std::uint32_t kUnsized = 0xFFFFFFFFu;
// The index holds at most this many lines (row numbers are 32-bit).
constexpr std::size_t kMaxLines = 0xFFFFFFFEu;
// Below this many rows a sort runs on the calling thread alone.
constexpr std::size_t kParallelRows = 50'000;

// Every manager of the process indexes under this lock, one block at a time.
std::mutex& IndexLock() {
  static std::mutex lock;
  return lock;
}

const char* Find(const char* from, const char* end, char c) {
  if (from >= end) return nullptr;
  return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
}

// The first of the bytes `a` and `b` in [from, end), sixteen bytes at a time.
const char* FindEither(const char* from, const char* end, char a, char b) {
  const char* p = from;
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
  for (; end - p >= 16; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
  }
#endif
  for (; p < end; ++p)
    if (*p == a || *p == b) return p;
  return nullptr;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsQuoted(std::string_view field) { return field.size() >= 2 && field.front() == '"' && field.back() == '"'; }

std::string_view Unquoted(std::string_view field) { return IsQuoted(field) ? field.substr(1, field.size() - 2) : field; }

// One field from `p` (which it advances past the field and its comma), as
// SplitFields takes them. The text ends at `end` or at a carriage return, so
// a field can be taken from a line start with the end of the whole mapping
// as `end`. False when no text is left or a quoted field has no closing
// quote. With `trim`, blanks around the field are dropped (the header and
// totals records are read that way).
bool NextField(const char*& p, const char* end, std::string_view& field, bool trim) {
  if (trim)
    while (p < end && IsBlank(*p)) ++p;
  if (p >= end || *p == '\r') return false;
  const char* stop;
  if (*p == '"') {
    const char* close = FindEither(p + 1, end, '"', '\r');
    if (close == nullptr || *close == '\r') return false;
    field = std::string_view(p, static_cast<std::size_t>(close + 1 - p));
    // Anything between the closing quote and the comma belongs to no field.
    stop = FindEither(close + 1, end, ',', '\r');
  } else {
    stop = FindEither(p, end, ',', '\r');
    field = std::string_view(p, static_cast<std::size_t>((stop != nullptr ? stop : end) - p));
    if (trim) field = Trim(field);
  }
  if (stop == nullptr)
    p = end;
  else
    p = *stop == ',' ? stop + 1 : stop;
  return true;
}

// The fields of a header or totals record, blanks around them dropped; at
// most kMaxFields, as for any other line.
std::vector<std::string_view> TrimmedFields(std::string_view line) {
  std::vector<std::string_view> fields;
  const char* p = line.data();
  const char* end = p + line.size();
  std::string_view field;
  while (fields.size() < static_cast<std::size_t>(CFXDataManager::kMaxFields) && NextField(p, end, field, true))
    fields.push_back(field);
  return fields;
}

// The line starting at `p` up to its carriage return (or the end).
std::string_view LineAt(const char* p, const char* end) {
  if (p == nullptr || p >= end) return {};
  const char* cr = Find(p, end, '\r');
  return std::string_view(p, static_cast<std::size_t>((cr != nullptr ? cr : end) - p));
}

// A numeric key as the sort reads it: blanks, an optional sign, digits up
// to the first other character; 0 when there are none. Out-of-range values
// stay at the nearest end of the range.
std::int64_t NumericKey(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && IsBlank(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) negative = field[i++] == '-';
  std::uint64_t value = 0;
  constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
  for (; i < field.size() && IsAsciiDigit(field[i]); ++i) {
    const auto digit = static_cast<std::uint64_t>(field[i] - '0');
    if (value > (kLimit - digit) / 10) {
      value = kLimit;
      break;
    }
    value = value * 10 + digit;
  }
  if (negative) return value >= kLimit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(value);
  return value >= kLimit ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(value);
}

constexpr unsigned char FoldByte(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Text keys: the first kPrefix bytes, folded, as big-endian numbers, so
// most comparisons are integer compares within the record; the rest of the
// field is read from the mapping only when both fields are longer and their
// prefixes equal.
constexpr std::uint32_t kPrefix = 24;
struct TextRecord {
  std::uint64_t prefix[kPrefix / 8];
  const char* line;
  std::uint32_t offset;  // of the field in its line
  std::uint32_t length;
};

struct NumericRecord {
  std::int64_t key;
  const char* line;
};
// Both live in raw committed memory and are only ever assigned whole.
static_assert(std::is_trivial_v<TextRecord> && std::is_trivial_v<NumericRecord>);

TextRecord MakeTextRecord(const char* line, std::string_view field) {
  TextRecord record;
  const std::size_t n = std::min<std::size_t>(field.size(), kPrefix);
  unsigned char bytes[kPrefix] = {};
  for (std::size_t i = 0; i < n; ++i) bytes[i] = FoldByte(static_cast<unsigned char>(field[i]));
  for (std::size_t word = 0; word < kPrefix / 8; ++word) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) value = value << 8 | bytes[word * 8 + i];
    record.prefix[word] = value;
  }
  record.line = line;
  record.offset = field.empty() ? 0u : static_cast<std::uint32_t>(field.data() - line);
  record.length = static_cast<std::uint32_t>(std::min<std::size_t>(field.size(), 0xFFFFFFFFu));
  return record;
}

// Ascending order of text fields: folded bytes, a shorter field before a
// longer one that starts the same, and file order for equal fields.
struct TextLess {
  bool operator()(const TextRecord& a, const TextRecord& b) const {
    for (std::size_t word = 0; word < kPrefix / 8; ++word)
      if (a.prefix[word] != b.prefix[word]) return a.prefix[word] < b.prefix[word];
    if (a.length > kPrefix && b.length > kPrefix) {
      const auto* x = reinterpret_cast<const unsigned char*>(a.line + a.offset);
      const auto* y = reinterpret_cast<const unsigned char*>(b.line + b.offset);
      const std::uint32_t n = std::min(a.length, b.length);
      for (std::uint32_t i = kPrefix; i < n; ++i) {
        const unsigned char cx = FoldByte(x[i]), cy = FoldByte(y[i]);
        if (cx != cy) return cx < cy;
      }
    }
    if (a.length != b.length) return a.length < b.length;
    return a.line < b.line;
  }
};

struct NumericLess {
  bool operator()(const NumericRecord& a, const NumericRecord& b) const {
    if (a.key != b.key) return a.key < b.key;
    return a.line < b.line;
  }
};

// The reverse of an order.
template <class Less>
struct Reversed {
  bool operator()(const auto& a, const auto& b) const { return Less()(b, a); }
};

// Sorts `count` lines by the records `make` gives for them, on two threads
// for large inputs (each sorts half, then one merge writes the lines back).
// Records carry a total order, so the result does not depend on the split.
// Returns the longest field seen through `longest`.
template <class Record, class Make, class Less>
void SortLines(const char** lines, std::size_t count, Make make, Less less, std::uint32_t& longest) {
  // Plain records in one committed block (BlockAllocator.h): a sort of
  // millions of rows would otherwise pay a page fault per 4 KiB of them.
  CBlockAllocator<Record> allocator;
  const auto release = [&allocator, count](Record* block) { allocator.deallocate(block, count); };
  const std::unique_ptr<Record, decltype(release)> block(allocator.allocate(count), release);
  Record* const records = block.get();
  std::uint32_t longestOf[2] = {0, 0};
  auto work = [&](std::size_t from, std::size_t to, std::uint32_t& most) {
    for (std::size_t i = from; i < to; ++i) records[i] = make(lines[i], most);
    std::sort(records + from, records + to, less);
  };
  std::size_t mid = count;
  if (count >= kParallelRows && std::thread::hardware_concurrency() > 1) {
    mid = count / 2;
    std::thread other;
    try {
      other = std::thread(work, mid, count, std::ref(longestOf[1]));
    } catch (const std::system_error&) {
      mid = count;
    }
    work(0, mid, longestOf[0]);
    if (other.joinable()) other.join();
  } else {
    work(0, count, longestOf[0]);
  }
  longest = std::max(longestOf[0], longestOf[1]);
  const Record* a = records;
  const Record* aEnd = a + mid;
  const Record* b = aEnd;
  const Record* bEnd = records + count;
  const char** out = lines;
  while (a != aEnd && b != bEnd) *out++ = less(*b, *a) ? (b++)->line : (a++)->line;
  while (a != aEnd) *out++ = (a++)->line;
  while (b != bEnd) *out++ = (b++)->line;
}

}  // namespace

CFXDataManager::CFXDataManager(std::string path) : m_path(std::move(path)) {}

CFXDataManager::~CFXDataManager() { Close(); }

bool CFXDataManager::Open() {
  Close();
  const QString name = QFile::decodeName(QByteArray::fromStdString(m_path));
  // Only a regular file: opening a pipe or a device could block or never end.
  if (!QFileInfo(name).isFile()) return false;
  auto file = std::make_unique<QFile>(name);
  if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return false;
  const qint64 size = file->size();
  if (size < 0 || static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max()) return false;
  if (size > 0) {
    uchar* view = file->map(0, size);
    if (view == nullptr) return false;
    m_view = reinterpret_cast<const char*>(view);
    m_end = m_view + size;
  }
  m_file = std::move(file);
  m_open = true;
  m_dataStart = m_scan = m_view;
  return true;
}

void CFXDataManager::Close() {
  if (m_file) {
    if (m_view != nullptr) m_file->unmap(reinterpret_cast<uchar*>(const_cast<char*>(m_view)));
    m_file->close();
    m_file.reset();
  }
  Reset();
}

void CFXDataManager::Reset() {
  m_open = false;
  m_view = m_end = m_dataStart = m_scan = nullptr;
  m_hasTotals = false;
  m_customReport = false;
  m_lineIndex = {};
  m_columnWidths.clear();
  m_lastSortedColumn = 0;
  m_sortDescending = false;
  m_reportName.clear();
  m_heading.clear();
  m_columnCount = 0;
  m_totalsText.clear();
  m_deletedRows.clear();
  m_reportKind = 0;
  std::fill(std::begin(m_fields), std::end(m_fields), std::string_view());
}

void CFXDataManager::ReadHeader() {
  m_lineIndex = {};
  m_deletedRows.clear();
  m_hasTotals = m_customReport = false;
  m_totalsText.clear();
  m_reportName.clear();
  m_heading.clear();
  m_reportKind = 0;
  m_columnCount = 0;
  m_lastSortedColumn = 0;
  m_sortDescending = false;
  bool haveColumns = false, firstHeading = true;
  const char* p = m_view;
  while (p != nullptr && p < m_end) {
    const char* lf = Find(p, m_end, '\n');
    const char* next = lf != nullptr ? lf + 1 : m_end;
    const std::string_view line = LineAt(p, lf != nullptr ? lf : m_end);
    const std::vector<std::string_view> fields = TrimmedFields(line);
    const std::string_view kind = fields.empty() ? std::string_view() : fields[0];
    if (kind == "\"A1\"") {
      int columns = 0;
      if (fields.size() > 2) {
        const std::string_view count = fields[2];
        if (std::from_chars(count.data(), count.data() + count.size(), columns).ec != std::errc()) columns = 0;
      }
      // A line never yields more than kMaxFields fields, so more columns
      // could never show anything.
      m_columnCount = std::clamp(columns, 0, kMaxFields);
      haveColumns = true;
    } else if (kind == "\"B1\"") {
      static constexpr std::pair<std::string_view, int> kKinds[] = {
          {"\"Partition Summary\"", kKindPartitionSummary}, {"\"Space By User\"", kKindSpaceByUser},
          {"\"Group Usage Report\"", kKindGroupUsage},      {"\"Space By Quota\"", kKindSpaceByQuota},
          {"\"Detailed Summary\"", kKindDetailedSummary}};
      for (const auto& [title, value] : kKinds) {
        if (line.find(title) != std::string_view::npos) {
          m_reportKind = value;
          break;
        }
      }
      if (fields.size() > 1 && fields[1].size() >= 7 && fields[1].front() == '"' &&
          EqualsIgnoringCase(fields[1].substr(1, 6), "Custom"))
        m_customReport = true;
      if (!m_heading.empty()) m_heading += "\r\n";
      for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::string_view text = Unquoted(fields[i]);
        if (firstHeading && i == 1) m_reportName.assign(text);
        m_heading.append(text);
        m_heading += ' ';
      }
      firstHeading = false;
    } else {
      break;
    }
    p = next;
  }
  m_dataStart = m_scan = (p != nullptr && p < m_end) ? p : m_end;
  if (!haveColumns && m_dataStart != nullptr && m_dataStart < m_end) {
    std::string_view firstLine[kMaxFields];
    m_columnCount = SplitFields(LineAt(m_dataStart, m_end), kMaxFields, firstLine);
  }
  m_columnWidths.assign(static_cast<std::size_t>(m_columnCount), kUnsized);
}

// Indexing reads the file through this window rather than through the
// mapping: a read copies from the page cache far cheaper than the first
// touch of every mapped page costs, and pages of the mapping then come in
// only for the lines that are shown or sorted. The window moves forward
// only and holds kWindow bytes at a time; nothing of it is kept.
struct CFXDataManager::Window {
  static constexpr qint64 kWindow = 256 << 10;
  std::unique_ptr<char[]> bytes{new char[kWindow]};
  qint64 start = 0;  // file offset of bytes[0]
  qint64 length = 0;
  bool failed = false;

  // Makes the window hold `offset`; false at the end of the data or when
  // the read fails.
  bool Hold(QFile& file, qint64 offset, qint64 size) {
    if (offset >= start && offset < start + length) return true;
    if (offset >= size) return false;
    const qint64 n = file.seek(offset) ? file.read(bytes.get(), std::min(kWindow, size - offset)) : -1;
    if (n <= 0) {  // the file shrank, or a read error
      failed = true;
      return false;
    }
    start = offset;
    length = n;
    return true;
  }
};

bool CFXDataManager::IndexBlock(Window& window) {
  const std::lock_guard lock(IndexLock());
  const qint64 size = m_end - m_view;
  qint64 p = m_scan - m_view;
  for (std::uint32_t n = 0; n < kBlockSize; ++n) {
    // The data ends with the file, or with one last empty line.
    if (p >= size || (size - p == 2 && m_view[p] == '\r' && m_view[p + 1] == '\n') ||
        m_lineIndex.size() >= kMaxLines) {
      m_scan = m_end;
      return false;
    }
    m_lineIndex.push_back(m_view + p);
    // The carriage return that ends the line, window by window.
    qint64 cr = -1;
    for (qint64 from = p; cr < 0 && window.Hold(*m_file, from, size); from = window.start + window.length) {
      const char* base = window.bytes.get();
      const char* hit = Find(base + (from - window.start), base + window.length, '\r');
      if (hit != nullptr) cr = window.start + (hit - base);
    }
    if (cr < 0) {  // a last line without a line end, or a failed read
      m_scan = m_end;
      return false;
    }
    p = cr + 1;
    if (window.Hold(*m_file, p, size) && window.bytes[static_cast<std::size_t>(p - window.start)] == '\n') ++p;
  }
  m_scan = m_view + p;
  return true;
}

bool CFXDataManager::ReadAll(const StatusCallback& status) {
  m_lineIndex = {};
  m_deletedRows.clear();
  m_hasTotals = false;
  m_totalsText.clear();
  m_lastSortedColumn = 0;
  m_sortDescending = false;
  m_scan = m_dataStart;
  if (status) status("Vornal: reading data...\n");
  bool failed = false;
  if (m_file && m_view != nullptr) {
    try {
      Window window;
      bool more = IndexBlock(window);
      if (more) {
        // Size the index once from the first block's line length; never
        // more than one entry per eight bytes of data, whatever that block
        // was like.
        const auto sampled = static_cast<std::size_t>(m_scan - m_dataStart);
        const auto rest = static_cast<std::size_t>(m_end - m_scan);
        const std::size_t average = std::max<std::size_t>(sampled / m_lineIndex.size(), 1);
        const std::size_t estimate =
            std::min({rest / average + rest / average / 32 + kBlockSize, rest / 8 + kBlockSize, kMaxLines});
        m_lineIndex.reserve(m_lineIndex.size() + estimate);
      }
      while (more) more = IndexBlock(window);
      failed = window.failed;
    } catch (const std::bad_alloc&) {
      failed = true;
    }
  }
  if (status) status("Vornal: reading data complete\n");
  if (failed) {
    m_lineIndex = {};
    return false;
  }
  ReadTotals();
  return true;
}

void CFXDataManager::ReadTotals() {
  m_hasTotals = false;
  m_totalsText.clear();
  // The column header line is never the totals line.
  if (m_lineIndex.size() < 2) return;
  const std::string_view line = Line(GetLineCount() - 1);
  if (!line.starts_with("\"TF\"")) return;
  m_hasTotals = true;
  const std::vector<std::string_view> fields = TrimmedFields(line);
  for (std::size_t i = 1; i < fields.size(); ++i) {
    if (IsQuoted(fields[i]))
      m_totalsText.append(Unquoted(fields[i]));
    else
      m_totalsText += FormatNumber(fields[i]);
    m_totalsText += i % 2 == 1 ? "   " : " ";
  }
  while (!m_totalsText.empty() && m_totalsText.back() == ' ') m_totalsText.pop_back();
}

std::uint32_t CFXDataManager::GetRecordCount() const {
  const std::uint32_t lines = GetLineCount();
  if (lines == 0) return 0;
  return lines - 1 - (m_hasTotals ? 1 : 0);
}

std::string_view CFXDataManager::Line(std::uint32_t row) const {
  if (row >= m_lineIndex.size()) return {};
  return LineAt(m_lineIndex[row], m_end);
}

bool CFXDataManager::GetLine(std::uint32_t row, std::span<char> buffer) const {
  if (buffer.empty()) return false;
  if (row >= m_lineIndex.size()) {
    buffer[0] = '\0';
    return false;
  }
  const std::string_view line = Line(row);
  const std::size_t n = std::min(line.size(), buffer.size() - 1);
  std::memcpy(buffer.data(), line.data(), n);
  buffer[n] = '\0';
  return true;
}

int CFXDataManager::SplitFields(std::string_view line, int count, std::span<std::string_view> fields) {
  const int wanted = std::clamp(count, 0, std::min(kMaxFields, static_cast<int>(fields.size())));
  const char* p = line.data();
  const char* end = p + line.size();
  int taken = 0;
  std::string_view field;
  while (taken < wanted && NextField(p, end, field, false)) fields[static_cast<std::size_t>(taken++)] = field;
  for (std::size_t i = static_cast<std::size_t>(taken); i < fields.size(); ++i) fields[i] = {};
  return taken;
}

int CFXDataManager::SplitFields(std::string_view line, int count) { return SplitFields(line, count, m_fields); }

std::string_view CFXDataManager::Field(int index) const {
  if (index < 0 || index >= kMaxFields) return {};
  return m_fields[index];
}

std::string_view CFXDataManager::ColumnField(const char* line, const char* end, std::uint32_t column) {
  if (column == 0 || column > static_cast<std::uint32_t>(kMaxFields)) return {};
  const char* p = line;
  std::string_view field;
  for (std::uint32_t i = 0; i < column; ++i)
    if (!NextField(p, end, field, false)) return {};
  return field;
}

bool CFXDataManager::SortByColumn(std::uint32_t column) {
  const std::uint32_t rows = GetRecordCount();
  if (rows < 2 || column == 0) return true;
  const bool descending = column == m_lastSortedColumn ? !m_sortDescending : false;

  bool numeric = false;
  for (std::uint32_t row = 1; row <= rows; ++row) {
    const std::string_view field = ColumnField(m_lineIndex[row], m_end, column);
    if (!field.empty()) {
      numeric = field.front() != '"';
      break;
    }
  }

  const char* end = m_end;
  const char** lines = m_lineIndex.data() + 1;
  std::uint32_t longest = 0;
  try {
    if (numeric) {
      auto make = [column, end](const char* line, std::uint32_t& most) {
        const std::string_view field = ColumnField(line, end, column);
        most = std::max(most, static_cast<std::uint32_t>(std::min<std::size_t>(field.size(), 0xFFFFFFF0u)));
        return NumericRecord{field.empty() || field.front() == '"' ? 0 : NumericKey(field), line};
      };
      if (descending)
        SortLines<NumericRecord>(lines, rows, make, Reversed<NumericLess>(), longest);
      else
        SortLines<NumericRecord>(lines, rows, make, NumericLess(), longest);
    } else {
      auto make = [column, end](const char* line, std::uint32_t& most) {
        const std::string_view field = ColumnField(line, end, column);
        most = std::max(most, static_cast<std::uint32_t>(std::min<std::size_t>(field.size(), 0xFFFFFFF0u)));
        return MakeTextRecord(line, field);
      };
      if (descending)
        SortLines<TextRecord>(lines, rows, make, Reversed<TextLess>(), longest);
      else
        SortLines<TextRecord>(lines, rows, make, TextLess(), longest);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }

  if (column <= m_columnWidths.size() && m_columnWidths[column - 1] == kUnsized)
    m_columnWidths[column - 1] = longest + 1;
  m_lastSortedColumn = column;
  m_sortDescending = descending;

  if (!m_deletedRows.empty()) {
    const char* lowest = m_deletedRows.begin()->first;
    const char* highest = m_deletedRows.rbegin()->first;
    for (std::uint32_t row = 1; row <= rows; ++row) {
      const char* line = m_lineIndex[row];
      if (line < lowest || line > highest) continue;
      if (auto it = m_deletedRows.find(line); it != m_deletedRows.end()) it->second = row;
    }
  }
  return true;
}

std::uint32_t CFXDataManager::GetColumnWidth(std::uint32_t column) const {
  if (column == 0 || column > m_columnWidths.size()) return 0;
  return m_columnWidths[column - 1];
}

void CFXDataManager::MarkDeleted(std::uint32_t row) {
  if (row == 0 || row > GetRecordCount()) return;
  m_deletedRows[m_lineIndex[row]] = row;
}

bool CFXDataManager::IsDeleted(std::uint32_t row) const {
  if (row == 0 || row > GetRecordCount()) return false;
  return m_deletedRows.contains(m_lineIndex[row]);
}

std::string CFXDataManager::FormatNumber(std::string_view value) {
  std::string_view digits = value;
  const bool negative = digits.starts_with('-');
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsAsciiDigit)) return std::string(value);
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3 + 2);
  if (negative && digits != "0") out += "- ";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string CFXDataManager::DisplayValue(std::string_view field) {
  if (field.empty()) return {};
  if (field.front() == '"') return std::string(Unquoted(field));
  return FormatNumber(field);
}

}  // namespace vn::console
