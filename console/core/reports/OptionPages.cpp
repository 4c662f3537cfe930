#include "console/core/reports/OptionPages.h"

#include <QLocale>
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "console/core/reports/ReportCatalogue.h"

namespace vn::console {
namespace {

constexpr std::array<CodeChoice, 4> kQuotaComparisons = {{
    {"All Quotas", kScopeAll},
    {"Used Larger Than", kScopeLarger},
    {"Used Smaller Than", kScopeSmaller},
    {"Used Between", kScopeBetween},
}};
constexpr std::array<CodeChoice, 4> kShareComparisons = {{
    {"All Shares", kScopeAll},
    {"Shares Larger Than", kScopeLarger},
    {"Shares Smaller Than", kScopeSmaller},
    {"Shares Between", kScopeBetween},
}};
constexpr std::array<CodeChoice, 3> kPlainSizeComparisons = {{
    {"Larger Than", kScopeLarger},
    {"Smaller Than", kScopeSmaller},
    {"Between", kScopeBetween},
}};
constexpr std::array<CodeChoice, 4> kQuotaUnits = {{{"MB", 1}, {"KB", 2}, {"Bytes", 3}, {"%", 8}}};
constexpr std::array<CodeChoice, 3> kSizeUnits = {{{"MB", 1}, {"KB", 2}, {"Bytes", 3}}};

constexpr std::array<CodeChoice, 3> kDateComparisons = {{
    {"Since (<=)", kScopeSmaller},
    {"Before (>=)", kScopeLarger},
    {"Between", kScopeBetween},
}};
constexpr std::array<CodeChoice, 4> kDateUnits = {{{"Days", 5}, {"Months", 6}, {"Years", 7}, {"Date", kMeasureDate}}};
constexpr std::array<CodeChoice, 4> kRevisionDateUnits = {
    {{"Day(s)", 5}, {"Month(s)", 6}, {"Year(s)", 7}, {"Date", kMeasureDate}}};

constexpr std::array<CodeChoice, 4> kDirectoryComparisons = {{
    {"All Directories", kScopeAll},
    {"Between", kScopeBetween},
    {"Larger Than", kScopeLarger},
    {"Smaller Than", kScopeSmaller},
}};

constexpr std::array<CodeChoice, 3> kDuplicateComparisons = {{
    {"More Than", kScopeLarger},
    {"Less Than", kScopeSmaller},
    {"Between", kScopeBetween},
}};

constexpr std::array<CodeChoice, 3> kWastedSizeComparisons = {{
    {"Larger Than Equal", kScopeLarger},
    {"Smaller Than Equal", kScopeSmaller},
    {"Between", kScopeBetween},
}};
constexpr std::array<CodeChoice, 3> kWastedDuplicateComparisons = {{
    {"More Than Equal", kScopeLarger},
    {"Less Than Equal", kScopeSmaller},
    {"Between", kScopeBetween},
}};

constexpr std::array<OptionBit, 3> kSizeBits = {{
    {"Bytes", kOptionSizesInBytes},
    {"Megabytes", kOptionSizesInMegabytes},
    {"Kilobytes", kOptionSizesInKilobytes},
}};
constexpr std::array<OptionBit, 4> kFormatBits = {{
    {"Comma Delimited", kOptionCommaDelimited},
    {"HTML", kOptionHtml},
    {"DBF", kOptionDbf},
    {"Ascii", kOptionAscii},
}};

int PercentFromText(const char* text) {
  // Leading blanks and digits as a decimal number; anything else reads as 0, as
  // does a number past 100 (a percentage cannot be more).
  const QString value = QString::fromLatin1(text).trimmed();
  bool ok = false;
  const int percent = value.toInt(&ok);
  return ok && percent >= 0 && percent <= 100 ? percent : 0;
}

}  // namespace

std::vector<OptionTab> PagesForServerCode(DWORD code) {
  using K = OptionPageKind;
  const OptionTab filter{K::kFilter}, detail{K::kDetail}, output{K::kOutput};
  switch (code) {
    case kReportFilesByAccessDate:
    case kReportFilesByRevisionDate:
    case kReportFilesByCreationDate:
      return {{K::kDateCriteria}, filter, detail, output};
    case kReportWastedSpace:
      return {{K::kWastedSpaceCriteria}, filter, detail, output};
    case kReportPartitionSummary:
      return {output};
    case kReportSpaceByDirectory:
      return {{K::kDirectoryCriteria}, filter, output};
    case kReportSpaceByGroup:
    case kReportSpaceByUser:
    case kReportDetailedSummary:
      return {filter, output};
    case kReportSpaceByQuota:
      return {{K::kSizeCriteria, SizeForm::kQuota}, output};
    case kReportSpaceByShare:
      return {{K::kSizeCriteria, SizeForm::kShare}, filter, output};
    case kReportFilesBySize:
      return {{K::kSizeCriteria, SizeForm::kPlain}, filter, detail, output};
    case kReportDuplicateFiles:
      return {{K::kDuplicateCriteria}, filter, detail, output};
    case kReportAllFiles:
    case kReportInsecureFiles:
    case kReportFilesWithUndefinedOwners:
    case kReportFilesWithAcl:
    case kReportFilesByUserAccess:
    case kReportUserAccessByFile:
    case kReportFilesWithUndefinedAces:
      return {filter, detail, output};
    default:
      return {};
  }
}

QString PageTitle(OptionPageKind kind) {
  switch (kind) {
    case OptionPageKind::kFilter: return QStringLiteral("Filter");
    case OptionPageKind::kDetail: return QStringLiteral("Detail");
    case OptionPageKind::kOutput: return QStringLiteral("Advanced");
    default: return QStringLiteral("Setting");
  }
}

int ChoiceIndex(std::span<const CodeChoice> choices, DWORD code) {
  const auto found = std::find_if(choices.begin(), choices.end(), [code](const CodeChoice& c) { return c.code == code; });
  return found == choices.end() ? 0 : static_cast<int>(found - choices.begin());
}

DWORD ChoiceCode(std::span<const CodeChoice> choices, int index) {
  if (choices.empty()) return 0;
  if (index < 0 || static_cast<std::size_t>(index) >= choices.size()) index = 0;
  return choices[static_cast<std::size_t>(index)].code;
}

QStringList ChoiceTexts(std::span<const CodeChoice> choices) {
  QStringList texts;
  for (const CodeChoice& choice : choices) texts << QString::fromLatin1(choice.text);
  return texts;
}

std::span<const CodeChoice> SizeComparisons(SizeForm form) {
  switch (form) {
    case SizeForm::kQuota: return kQuotaComparisons;
    case SizeForm::kShare: return kShareComparisons;
    default: return kPlainSizeComparisons;
  }
}
std::span<const CodeChoice> SizeUnits(SizeForm form) {
  if (form == SizeForm::kQuota) return kQuotaUnits;
  return kSizeUnits;
}
std::span<const CodeChoice> DateComparisons() { return kDateComparisons; }
std::span<const CodeChoice> DateUnits() { return kDateUnits; }
std::span<const CodeChoice> RevisionDateUnits() { return kRevisionDateUnits; }
std::span<const CodeChoice> DirectoryComparisons() { return kDirectoryComparisons; }
std::span<const CodeChoice> DirectoryUnits() { return kSizeUnits; }
std::span<const CodeChoice> DuplicateComparisons() { return kDuplicateComparisons; }
std::span<const CodeChoice> WastedSizeComparisons() { return kWastedSizeComparisons; }
std::span<const CodeChoice> WastedSizeUnits() { return kSizeUnits; }
std::span<const CodeChoice> WastedDuplicateComparisons() { return kWastedDuplicateComparisons; }

ValueFields FieldsForScope(DWORD scope) {
  switch (scope) {
    case kScopeAll: return ValueFields::kNone;
    case kScopeBetween: return ValueFields::kBoth;
    default: return ValueFields::kFirst;
  }
}

QString ShownValue(const char* stored, const char* empty) {
  return stored[0] ? QString::fromUtf8(stored) : QString::fromLatin1(empty);
}

void StoreText(char* buffer, std::size_t size, const QString& text) {
  if (size == 0) return;
  // Texts are kept as UTF-8; a cut never splits a character.
  const QByteArray bytes = text.toUtf8();
  std::size_t count = std::min(static_cast<std::size_t>(bytes.size()), size - 1);
  if (count < static_cast<std::size_t>(bytes.size())) {
    while (count > 0 && (static_cast<unsigned char>(bytes[static_cast<qsizetype>(count)]) & 0xC0) == 0x80) --count;
  }
  std::memcpy(buffer, bytes.constData(), count);
  std::memset(buffer + count, 0, size - count);
}

QString StoredDateFormat() {
  // The reporting server reads month/day/year with "/", day.month.year with
  // "." and year-month-day with "-"; a locale whose short form is one of these
  // (numbers only) is stored in its own form, any other (day/month/year with
  // "/", month names) as year-month-day.
  QString format = QLocale().dateFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1String("yyyy"))) format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  QString order;
  QChar separator;
  for (const QChar c : format) {
    if (c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('y')) {
      if (order.isEmpty() || order.back() != c) order += c;
    } else if (separator.isNull()) {
      separator = c;
    } else if (c != separator) {
      separator = QLatin1Char('?');
    }
  }
  const bool numeric = !format.contains(QLatin1String("MMM")) && !format.contains(QLatin1String("ddd"));
  if (numeric && ((order == QLatin1String("Mdy") && separator == QLatin1Char('/')) ||
                  (order == QLatin1String("dMy") && separator == QLatin1Char('.')) ||
                  (order == QLatin1String("yMd") && separator == QLatin1Char('-'))))
    return format;
  return QStringLiteral("yyyy-MM-dd");
}

QDate DateFromStored(const char* stored, const QDate& today) {
  if (!stored[0]) return today;
  const QString text = QString::fromUtf8(stored);
  QDate date = QDate::fromString(text, StoredDateFormat());
  // A value stored under another locale or by a hand: the locale's own forms,
  // then ISO, before giving up.
  if (!date.isValid()) date = QLocale().toDate(text, QLocale::ShortFormat);
  if (!date.isValid()) date = QDate::fromString(text, Qt::ISODate);
  return date.isValid() ? date : today;
}

QString DateToStored(const QDate& date) { return date.toString(StoredDateFormat()); }

DuplicatePercents ReadDuplicatePercents(const ReportOptions& options) {
  DuplicatePercents percents{PercentFromText(options.Criteria[1].Value1), PercentFromText(options.Criteria[2].Value1)};
  if (percents.name == 0 && percents.extension == 0) percents = {100, 100};
  return percents;
}

void StoreDuplicatePercents(ReportOptions& options, DuplicatePercents percents) {
  StoreText(options.Criteria[1].Value1, QString::number(percents.name));
  StoreText(options.Criteria[2].Value1, QString::number(percents.extension));
}

std::span<const OptionBit> SizeOptionBits() { return kSizeBits; }
std::span<const OptionBit> FormatOptionBits() { return kFormatBits; }

LONG RecordCountFromText(const QString& text) {
  long long count = 0;
  for (const QChar c : text.trimmed()) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
    count = count * 10 + (c.unicode() - '0');
    if (count > std::numeric_limits<LONG>::max()) return std::numeric_limits<LONG>::max();
  }
  return static_cast<LONG>(count);
}

QStringList DetailColumnTexts() {
  QStringList texts;
  for (std::string_view column : DetailColumns()) {
    texts << QString::fromLatin1(column.data(), static_cast<qsizetype>(column.size()));
  }
  return texts;
}

bool FieldShown(DWORD fields, int column) {
  return column >= 0 && column < 32 && (fields & (DWORD{1} << column)) != 0;
}

DWORD WithField(DWORD fields, int column, bool shown) {
  if (column < 0 || column >= 32) return fields;
  const DWORD bit = DWORD{1} << column;
  return shown ? (fields | bit) : (fields & ~bit);
}

}  // namespace vn::console
