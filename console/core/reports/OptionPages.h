#pragma once
// The rules of the report set editor's option pages without widgets: which
// pages a report shows, how each page's combo boxes map to the Scope and
// Measure codes of a criterion slot, what an empty value is shown as, which
// fields a comparison shows, and how the output options, detail columns and
// duplicate percentages are read from and stored into a ReportOptions record.
//
// The pages keep only widgets; every decision lives here so that it can be
// checked without a display. Pure functions over plain values, safe from any
// thread.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <QDate>
#include <QString>
#include <QStringList>

#include "console/core/reports/ReportSet.h"

namespace vn::console {

// The pages of the editor, one instance of each.
enum class OptionPageKind {
  kDateCriteria,        // 419 "Setting"
  kDirectoryCriteria,   // 421 "Setting"
  kDuplicateCriteria,   // 422 "Setting"
  kSizeCriteria,        // 426 "Setting", in one of three forms
  kWastedSpaceCriteria, // 425 "Setting"
  kFilter,              // 418 "Filter"
  kDetail,              // 417 "Detail"
  kOutput,              // 416 "Advanced"
};

// The three forms of the size criteria page.
enum class SizeForm { kQuota, kShare, kPlain };

struct OptionTab {
  OptionPageKind kind;
  SizeForm form = SizeForm::kPlain;  // for kSizeCriteria only
  bool operator==(const OptionTab&) const = default;
};

// The pages of a report with server code `code`, in tab order; none for a code
// no standard report has.
std::vector<OptionTab> PagesForServerCode(DWORD code);

// The tab title of a page: "Setting", "Filter", "Detail" or "Advanced".
QString PageTitle(OptionPageKind kind);

// One entry of a combo box: its text and the code it stands for.
struct CodeChoice {
  const char* text;
  DWORD code;
};

// The index of `code` among `choices`; 0 (the first entry) for a code the list
// does not offer, as a record fresh from its defaults holds.
int ChoiceIndex(std::span<const CodeChoice> choices, DWORD code);
// The code of entry `index`; the first entry's for an index out of range.
DWORD ChoiceCode(std::span<const CodeChoice> choices, int index);
QStringList ChoiceTexts(std::span<const CodeChoice> choices);

// Comparisons and units of each page; the codes are Scope and Measure values.
std::span<const CodeChoice> SizeComparisons(SizeForm form);
std::span<const CodeChoice> SizeUnits(SizeForm form);
std::span<const CodeChoice> DateComparisons();
std::span<const CodeChoice> DateUnits();                // "Days", "Months", "Years", "Date"
std::span<const CodeChoice> RevisionDateUnits();        // "Day(s)", "Month(s)", "Year(s)", "Date"
std::span<const CodeChoice> DirectoryComparisons();
std::span<const CodeChoice> DirectoryUnits();
std::span<const CodeChoice> DuplicateComparisons();
std::span<const CodeChoice> WastedSizeComparisons();
std::span<const CodeChoice> WastedSizeUnits();
std::span<const CodeChoice> WastedDuplicateComparisons();

// Scope codes.
inline constexpr DWORD kScopeBetween = 2;
inline constexpr DWORD kScopeLarger = 3;   // for dates: before
inline constexpr DWORD kScopeSmaller = 4;  // for dates: since
inline constexpr DWORD kScopeAll = 5;
// Measure code of a calendar date.
inline constexpr DWORD kMeasureDate = 4;

// What a comparison shows of the value fields.
enum class ValueFields {
  kNone,   // "All ...": no unit, no values
  kFirst,  // larger or smaller: the unit and the first value
  kBoth,   // between: the unit, both values and "and"
};
ValueFields FieldsForScope(DWORD scope);

// A stored value text, or `empty` when it is empty.
QString ShownValue(const char* stored, const char* empty);

// Empty values of each page as shown.
inline constexpr const char* kSizeEmptyValue = "2";
inline constexpr const char* kDateEmptyValue1 = "1";
inline constexpr const char* kDateEmptyValue2 = "2";
inline constexpr const char* kDirectoryEmptyValue = "0";
inline constexpr const char* kDuplicateEmptyValue = "2";
inline constexpr const char* kWastedSizeEmptyValue = "1000";
// The size page's spin buttons: range and first positions.
inline constexpr int kSpinMinimum = 0;
inline constexpr int kSpinMaximum = 32767;
inline constexpr int kSizeSpinStart1 = 2;
inline constexpr int kSizeSpinStart2 = 1000;

// Longest texts a field takes (its record buffer less the terminator).
inline constexpr int kValueMaxLength = 39;
inline constexpr int kFileFilterMaxLength = 259;
inline constexpr int kOwnerFilterMaxLength = 1024;
inline constexpr int kBatchCommandMaxLength = 1024;
inline constexpr int kRecordCountMaxLength = 10;

// Copies `text` into a record buffer of `size` bytes, cut to fit, terminated.
void StoreText(char* buffer, std::size_t size, const QString& text);
template <std::size_t N>
void StoreText(char (&buffer)[N], const QString& text) {
  StoreText(buffer, N, text);
}

// A calendar date value: a stored text in the user's default locale format
// (short form), or `today` when it is empty or does not read as a date.
QDate DateFromStored(const char* stored, const QDate& today);
// The format dates are stored in: the user's default locale's short form,
// with a four-digit year so that a stored date never changes century, when
// the reporting server reads that form unambiguously (month/day/year with
// "/", day.month.year with ".", year-month-day with "-"); year-month-day
// otherwise.
QString StoredDateFormat();
// How a date is stored: the user's default locale format, short form.
QString DateToStored(const QDate& date);

// The duplicate page's percent match of the file name and of the extension
// (Value1.Value1 and Value2.Value1): decimal numbers, both 100 when both read as
// 0 or are empty. Both 100 is an exact name match.
struct DuplicatePercents {
  int name = 100;
  int extension = 100;
  bool Exact() const { return name == 100 && extension == 100; }
};
DuplicatePercents ReadDuplicatePercents(const ReportOptions& options);
void StoreDuplicatePercents(ReportOptions& options, DuplicatePercents percents);

// The criterion slot of each wasted space group.
inline constexpr int kWastedAccessSlot = 0;
inline constexpr int kWastedDuplicateSlot = 1;
inline constexpr int kWastedRevisionSlot = 2;
inline constexpr int kWastedSizeSlot = 3;

// The "Advanced" page's check boxes: text and Options bit, in page order
// ("Show Sizes In" first, then "Report Format").
struct OptionBit {
  const char* text;
  DWORD bit;
};
std::span<const OptionBit> SizeOptionBits();
std::span<const OptionBit> FormatOptionBits();

// "Number of Records to Display (0=All):" as stored: the decimal value of the
// leading digits of the text, 0 when there are none, capped at the largest
// count the record holds.
LONG RecordCountFromText(const QString& text);

// The detail page's columns: item i stands for bit i of Fields.
QStringList DetailColumnTexts();
bool FieldShown(DWORD fields, int column);
DWORD WithField(DWORD fields, int column, bool shown);

}  // namespace vn::console
