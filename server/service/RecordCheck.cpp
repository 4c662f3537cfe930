#include "server/service/RecordCheck.h"

#include <array>
#include <cstring>
#include <utility>

namespace vn::vnsrv {
namespace {

constexpr std::array<std::pair<DWORD, std::string_view>, 21> kTitles = {{
    {kReportFilesByAccessDate, "Files By Access Date"},
    {kReportWastedSpace, "Wasted Space"},
    {kReportFilesByRevisionDate, "Files By Revision Date"},
    {kReportPartitionSummary, "Partition Summary"},
    {kReportFilesByCreationDate, "Files By Creation Date"},
    {kReportSpaceByDirectory, "Space By Directory"},
    {kReportSpaceByGroup, "Space By Group"},
    {kReportSpaceByQuota, "Space By Quota"},
    {kReportSpaceByShare, "Space By Share"},
    {kReportFilesBySize, "Files By Size"},
    {kReportSpaceByUser, "Space By User"},
    {kReportDuplicateFiles, "Duplicate Files"},
    {kReportAllFiles, "All Files"},
    {kReportDetailedSummary, "Detailed Summary"},
    {kReportInsecureFiles, "Insecure Files"},
    {kReportFilesWithUndefinedOwners, "Files With Undefined Owners"},
    {kReportFilesWithAcl, "Files With ACL"},
    {kReportFilesByUserAccess, "Files By User Access"},
    {kReportUserAccessByFile, "User Access By File"},
    {kReportFilesWithUndefinedAces, "Files With Undefined ACE's"},
    {kReportCustom, "Custom Report"},
}};

constexpr DWORD kKnownOptions = 0x7F;

template <std::size_t N>
bool Terminated(const char (&text)[N]) {
  return std::memchr(text, '\0', N) != nullptr;
}

RecordCheck Refuse(std::string message) { return {ERROR_INVALID_DATA, std::move(message)}; }

}  // namespace

std::string_view ReportTitle(DWORD serverCode) {
  for (const auto& [code, title] : kTitles) {
    if (code == serverCode) return title;
  }
  return {};
}

RecordCheck CheckReportRecord(std::span<const char> bytes, KSServerCommunicationReportRec* record) {
  if (bytes.size() != sizeof(KSServerCommunicationReportRec)) {
    return Refuse("The report record has " + std::to_string(bytes.size()) + " bytes instead of " +
                  std::to_string(sizeof(KSServerCommunicationReportRec)) + ".");
  }
  KSServerCommunicationReportRec rec;
  std::memcpy(&rec, bytes.data(), sizeof rec);

  for (int slot = 0; slot < kCriterionCount; ++slot) {
    const ReportCriterion& c = rec.Criteria[slot];
    const std::string name = "Value" + std::to_string(slot);
    if (!Terminated(c.Value1) || !Terminated(c.Value2)) return Refuse("The text of " + name + " is not terminated.");
    if (c.Scope == 1 || c.Scope > 5) return Refuse("Unknown scope " + std::to_string(c.Scope) + " in " + name + ".");
    if (c.Measure > 8) return Refuse("Unknown unit " + std::to_string(c.Measure) + " in " + name + ".");
    for (const LONG test : {c.ReadOnly, c.Archive, c.Compress, c.Hidden, c.System, c.Temp}) {
      if (test < kAttributeCleared || test > kAttributeEither)
        return Refuse("Unknown attribute test " + std::to_string(test) + " in " + name + ".");
    }
    if (c.Compare != 0 && c.Compare != 1) return Refuse("Unknown Compare value in " + name + ".");
  }
  if (!Terminated(rec.CustomReport)) return Refuse("The custom report name is not terminated.");
  if (!Terminated(rec.PipeName)) return Refuse("The progress pipe name is not terminated.");
  if (!Terminated(rec.FileFilter)) return Refuse("The file filter is not terminated.");
  if (!Terminated(rec.OwnerFilter)) return Refuse("The owner filter is not terminated.");
  if (!Terminated(rec.Mail.MailTo) || !Terminated(rec.Mail.MailSubject) || !Terminated(rec.Mail.MailCC))
    return Refuse("A mail field is not terminated.");
  if (!Terminated(rec.BatchCommand)) return Refuse("The batch command is not terminated.");
  if (rec.Options & ~kKnownOptions) return Refuse("Unknown output options " + std::to_string(rec.Options) + ".");
  if (rec.RptLen < 0) return Refuse("The number of records to show is negative.");
  if (rec.PipeName[0] != '\0' && std::strncmp(rec.PipeName, "\\\\", 2) != 0)
    return Refuse("The progress pipe name is not a pipe name.");

  // A custom report names where its definition is stored: "\\MACHINE\Name".
  const std::string_view custom(rec.CustomReport);
  if (rec.Report == kReportCustom) {
    const std::size_t slash = custom.size() > 2 ? custom.find('\\', 2) : std::string_view::npos;
    if (!custom.starts_with("\\\\") || slash == std::string_view::npos || slash == 2 || slash + 1 == custom.size() ||
        custom.find('\\', slash + 1) != std::string_view::npos)
      return Refuse("The custom report name \"" + std::string(custom) + "\" is not of the form \\\\MACHINE\\Name.");
  } else if (!custom.empty()) {
    return Refuse("A custom report name came with the code of a standard report.");
  }
  if (ReportTitle(rec.Report).empty()) return Refuse("Unknown report code " + std::to_string(rec.Report) + ".");
  *record = rec;
  return {};
}

}  // namespace vn::vnsrv
