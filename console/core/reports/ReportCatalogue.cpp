#include "console/core/reports/ReportCatalogue.h"

#include <array>

#include "console/core/support/Resources.h"
#include "platform/core/AsciiText.h"

namespace vn::console {
namespace {

// The server code of each catalogue entry, by index.
constexpr std::array<DWORD, kReportCount> kServerCodes = {
    kReportPartitionSummary,
    kReportDetailedSummary,
    kReportSpaceByDirectory,
    kReportSpaceByGroup,
    kReportSpaceByQuota,
    kReportSpaceByShare,
    kReportSpaceByUser,
    kReportAllFiles,
    kReportFilesByAccessDate,
    kReportFilesByCreationDate,
    kReportFilesByRevisionDate,
    kReportDuplicateFiles,
    kReportFilesBySize,
    kReportWastedSpace,
    kReportInsecureFiles,
    kReportFilesWithAcl,
    kReportFilesWithUndefinedAces,
    kReportFilesByUserAccess,
    kReportUserAccessByFile,
    kReportFilesWithUndefinedOwners,
};

bool InCatalogue(int index) { return index >= 0 && index < kReportCount; }

}  // namespace

int ReportIndexFromName(std::string_view name) {
  for (int index = 0; index < kReportCount; ++index) {
    if (EqualsIgnoringCase(ReportNameFromIndex(index), name)) return index;
  }
  return -1;
}

std::string_view ReportNameFromIndex(int index) {
  if (!InCatalogue(index)) return {};
  return KSLoadString(IDS_FIRST_REPORT_NAME + static_cast<UINT>(index));
}

DWORD ServerCodeFromIndex(int index) { return InCatalogue(index) ? kServerCodes[index] : 0; }

bool ReportHasDetailPage(int index) { return index >= kFirstDetailReport && index < kReportCount; }

std::vector<std::string_view> DetailColumns() {
  // The list ends with ";", so the text after the last separator is no column.
  std::vector<std::string_view> columns;
  std::string_view list = KSLoadString(IDS_DETAIL_COLUMNS);
  for (auto end = list.find(';'); end != std::string_view::npos; end = list.find(';')) {
    columns.push_back(list.substr(0, end));
    list.remove_prefix(end + 1);
  }
  return columns;
}

std::vector<std::string_view> ShownDetailColumns(DWORD fields) {
  std::vector<std::string_view> shown;
  const auto columns = DetailColumns();
  for (std::size_t bit = 0; bit < columns.size() && bit < 32; ++bit) {
    if (fields & (DWORD{1} << bit)) shown.push_back(columns[bit]);
  }
  return shown;
}

}  // namespace vn::console
