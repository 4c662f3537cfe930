#pragma once
// The records of a report set.
//
// ReportOptions is the options of one report (criteria, server report code,
// output options, detail column mask, filters, mail settings, batch command):
// the record the reporting server receives byte for byte, defined with its
// fixed layout in servercomm/KSServerCommunication.h.
//
// A ReportSet is the twenty standard reports of one stored set, indexed by
// catalogue index (ReportCatalogue.h), each with its selected flag. It is a
// plain value owned by whoever builds it; nothing in it refers elsewhere.

#include <array>
#include <cstddef>
#include <type_traits>

#include "console/core/reports/ReportCatalogue.h"
#include "platform/core/Win32Types.h"
#include "servercomm/KSServerCommunication.h"

namespace vn::console {

// The record of one report's options is shared with the reporting server.
using ::vn::KSServerCommunicationReportRec;
using ::vn::MailSettings;
using ::vn::ReportCriterion;
using ReportOptions = KSServerCommunicationReportRec;
using ::vn::kAttributeCleared;
using ::vn::kAttributeEither;
using ::vn::kAttributeSet;
using ::vn::kCriterionCount;
using ::vn::kDefaultFields;
using ::vn::kUnassignedReportCode;
using ::vn::kOptionAscii;
using ::vn::kOptionCommaDelimited;
using ::vn::kOptionDbf;
using ::vn::kOptionHtml;
using ::vn::kOptionSizesInBytes;
using ::vn::kOptionSizesInKilobytes;
using ::vn::kOptionSizesInMegabytes;

struct ReportSetEntry {
  LONG Selected = 0;  // 1 = the report belongs to the set
  ReportOptions Options;
};

class ReportSet {
 public:
  // All twenty entries unselected with default options, each carrying the
  // server code of its catalogue entry.
  ReportSet();

  ReportSetEntry& operator[](int index) { return m_entries[static_cast<std::size_t>(index)]; }
  const ReportSetEntry& operator[](int index) const { return m_entries[static_cast<std::size_t>(index)]; }
  static constexpr int size() { return kReportCount; }
  auto begin() { return m_entries.begin(); }
  auto end() { return m_entries.end(); }
  auto begin() const { return m_entries.begin(); }
  auto end() const { return m_entries.end(); }

 private:
  std::array<ReportSetEntry, kReportCount> m_entries;
};

static_assert(std::is_trivially_copyable_v<ReportOptions> && std::is_standard_layout_v<ReportOptions>);
static_assert(std::is_trivially_copyable_v<ReportSetEntry>);

}  // namespace vn::console
