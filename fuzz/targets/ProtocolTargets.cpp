// Targets over what crosses a process boundary as bytes: a report record as
// the reporting server receives it, a pipe message of the server's protocol
// (requests as the server decodes them, replies as a client does), and the
// clipboard record of the "Reports" tab.
#include <string>
#include <vector>

#include "console/core/reports/ReportTree.h"
#include "fuzz/FuzzTargets.h"
#include "server/service/RecordCheck.h"
#include "servercomm/ServerProtocol.h"

namespace vn::fuzz {
namespace {

std::span<const char> Bytes(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A record found in a message goes through the server's check.
void CheckRecord(std::span<const char> bytes) {
  KSServerCommunicationReportRec record;
  const vnsrv::RecordCheck check = vnsrv::CheckReportRecord(bytes, &record);
  if (check.error == ERROR_SUCCESS) (void)vnsrv::ReportTitle(record.Report);
}

void DecodeRequest(serverproto::Kind kind, std::span<const char> payload) {
  serverproto::Reader reader(payload);
  std::uint32_t a = 0, b = 0, c = 0;
  std::uint64_t offset = 0;
  switch (kind) {
    case serverproto::Kind::Hello:
      (void)reader.U32(&a);
      break;
    case serverproto::Kind::Properties:
      break;
    case serverproto::Kind::Report: {
      std::span<const char> record;
      std::string objects;
      if (reader.U32(&a) && reader.Bytes(a, &record) && reader.Text(serverproto::kMaxObjectsText, &objects))
        CheckRecord(record);
      break;
    }
    case serverproto::Kind::Read:
      (void)(reader.U32(&a) && reader.U32(&b) && reader.U64(&offset) && reader.U32(&c));
      break;
    case serverproto::Kind::Delete:
      (void)(reader.U32(&a) && reader.U32(&b));
      break;
  }
  (void)reader.AtEnd();
}

void DecodeReply(serverproto::Kind kind, std::span<const char> payload) {
  serverproto::Reader reader(payload);
  std::uint32_t code = 0, a = 0, b = 0;
  if (!reader.U32(&code)) return;
  std::string text;
  switch (kind) {
    case serverproto::Kind::Hello:
      (void)reader.U32(&a);
      break;
    case serverproto::Kind::Properties:
      for (int i = 0; i < 9 && reader.Text(1024, &text); ++i) {
      }
      break;
    case serverproto::Kind::Report:
      (void)(reader.U32(&a) && reader.U32(&b) && reader.U32(&a) && reader.Text(serverproto::kMaxMessageText, &text));
      break;
    case serverproto::Kind::Read:
      (void)reader.U32(&a);
      (void)reader.Rest();
      break;
    case serverproto::Kind::Delete:
      break;
  }
}

}  // namespace

int FuzzReportRecord(const std::uint8_t* data, std::size_t size) {
  CheckRecord(Bytes(data, size));
  return 0;
}

int FuzzServerMessage(const std::uint8_t* data, std::size_t size) {
  std::uint32_t kind = 0;
  std::span<const char> payload;
  if (size > serverproto::kMaxRequest + serverproto::kMaxReply) return 0;
  if (!serverproto::ParseMessage(Bytes(data, size), &kind, &payload)) return 0;
  const auto base = static_cast<serverproto::Kind>(kind & ~serverproto::kReplyBit);
  if (base < serverproto::Kind::Hello || base > serverproto::Kind::Delete) return 0;
  if (kind & serverproto::kReplyBit) {
    DecodeReply(base, payload);
  } else {
    DecodeRequest(base, payload);
  }
  return 0;
}

int FuzzReportClip(const std::uint8_t* data, std::size_t size) {
  const auto entries = console::DecodeReportClip(Bytes(data, size));
  if (!entries) return 0;
  for (const console::ReportClipEntry& entry : *entries) {
    if (const auto source = console::SplitReportClipText(entry.text))
      (void)console::IsSameStoredReport(source->machine, source->name, "TESTPC", source->name);
  }
  // What is decoded encodes back to a record that decodes the same.
  const std::vector<char> again = console::EncodeReportClip(*entries);
  const auto round = console::DecodeReportClip(again);
  if (!round || round->size() != entries->size()) __builtin_trap();
  return 0;
}

}  // namespace vn::fuzz
