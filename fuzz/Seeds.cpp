#include "fuzz/Seeds.h"

#include <cstring>

#include "platform/machine/DomainIdentity.h"
#include "servercomm/KSServerCommunication.h"
#include "servercomm/ServerProtocol.h"

namespace vn::fuzz {
namespace {

std::string RecordBytes(DWORD report) {
  KSServerCommunicationReportRec record;
  record.Report = report;
  record.Options = kOptionCommaDelimited;
  record.Criteria[0].Scope = 3;
  record.Criteria[0].Measure = 1;
  std::strcpy(record.Criteria[0].Value1, "10");
  std::strcpy(record.FileFilter, "*.log");
  return {reinterpret_cast<const char*>(&record), sizeof record};
}

std::string Message(const std::vector<char>& message) { return {message.begin(), message.end()}; }

}  // namespace

std::vector<std::pair<std::string, std::string>> GeneratedSeeds(std::string_view target) {
  using serverproto::Kind;
  using serverproto::Writer;
  const auto kind = [](Kind k) { return static_cast<std::uint32_t>(k); };
  if (target == "report_record") {
    return {{"all-files", RecordBytes(kReportAllFiles)},
            {"duplicates", RecordBytes(kReportDuplicateFiles)},
            {"custom", RecordBytes(kReportCustom)}};
  }
  if (target == "server_message") {
    const std::string record = RecordBytes(kReportFilesBySize);
    return {
        {"hello", Message(Writer(kind(Kind::Hello)).U32(serverproto::kVersion).Finish())},
        {"properties", Message(Writer(kind(Kind::Properties)).Finish())},
        {"report",
         Message(Writer(kind(Kind::Report)).U32(static_cast<std::uint32_t>(record.size())).Bytes(record).Text("C:\\").Finish())},
        {"read", Message(Writer(kind(Kind::Read)).U32(7).U32(9).U64(0).U32(serverproto::kMaxReadBlock).Finish())},
        {"delete", Message(Writer(kind(Kind::Delete)).U32(7).U32(9).Finish())},
        {"report-reply",
         Message(Writer(kind(Kind::Report) | serverproto::kReplyBit).U32(0).U32(7).U32(9).U32(0).Text("").Finish())},
        {"read-reply",
         Message(Writer(kind(Kind::Read) | serverproto::kReplyBit).U32(0).U32(serverproto::kReadEnd).Text("\"D1\"").Finish())},
    };
  }
  if (target == "credentials") {
    DomainAuthority authority;
    DomainCredentials credentials;
    std::string error;
    if (!CreateAuthority("FUZZ", &authority, &error) || !IssueCredentials(authority, "WKS1", &credentials, &error))
      return {};
    return {{"bundle", CredentialsText(credentials)}};
  }
  return {};
}

}  // namespace vn::fuzz
