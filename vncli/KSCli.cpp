#include "vncli/KSCli.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "servercomm/ServerProtocol.h"

namespace vn {
namespace {

using serverproto::Kind;
using serverproto::Reader;
using serverproto::Writer;

constexpr DWORD kBusyWaitMs = 20000;

std::uint32_t KindOf(Kind kind) { return static_cast<std::uint32_t>(kind); }

void CopyText(const std::string& text, char* buffer, std::size_t size) {
  if (!buffer || size == 0) return;
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

}  // namespace

KSCli::~KSCli() { Disconnect(); }

DWORD KSCli::Connect(const char* machine) {
  Disconnect();
  std::string name = machine ? machine : "";
  while (name.starts_with('\\')) name.erase(0, 1);
  if (name.empty() || name.find_first_of("\\/") != std::string::npos) return ERROR_INVALID_NAME;
  const std::string path = "\\\\" + name + "\\pipe\\" + serverproto::kPipeName;
  HANDLE pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE && GetLastError() == static_cast<DWORD>(ERROR_PIPE_BUSY)) {
    if (WaitNamedPipeA(path.c_str(), kBusyWaitMs)) {
      pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
  }
  if (pipe == INVALID_HANDLE_VALUE) return GetLastError();
  m_pipe = pipe;

  std::vector<char> payload;
  Writer hello(KindOf(Kind::Hello));
  hello.U32(serverproto::kVersion);
  if (const DWORD error = Exchange(hello.Finish(), KindOf(Kind::Hello), &payload)) {
    Disconnect();
    return error;
  }
  std::uint32_t version = 0;
  if (!Reader(payload).U32(&version)) version = 1;  // a reply without one counts as version 1
  m_readBlock = version >= 2 ? serverproto::kMaxReadBlockLarge : serverproto::kMaxReadBlock;
  return 0;
}

DWORD KSCli::Disconnect() {
  if (m_pipe) CloseHandle(m_pipe);
  m_pipe = nullptr;
  m_windows = 0;
  ResetTransfer();
  return 0;
}

void KSCli::ResetTransfer() {
  m_number = m_tag = 0;
  m_offset = m_requested = 0;
  m_block = {};
  m_used = 0;
  m_end = false;
  m_sequence = 0;
}

void KSCli::DrainWindow() {
  std::span<const char> rest;
  while (m_windows > 0) {
    std::uint32_t flags = 0;
    const DWORD error = ReceiveInto(KindOf(Kind::Read), m_reply, &rest);
    if (!m_pipe) break;  // the connection dropped, and with it every window
    if (error || !Reader(rest).U32(&flags) || !(flags & serverproto::kReadMore)) --m_windows;
  }
}

DWORD KSCli::Exchange(const std::vector<char>& request, std::uint32_t kind, std::vector<char>* payload) {
  DrainWindow();
  if (const DWORD error = Send(request)) return error;
  return Receive(kind, payload);
}

DWORD KSCli::Send(const std::vector<char>& request) {
  if (!m_pipe) return ERROR_PIPE_NOT_CONNECTED;
  DWORD written = 0;
  if (!WriteFile(m_pipe, request.data(), static_cast<DWORD>(request.size()), &written, nullptr)) {
    const DWORD error = GetLastError();
    Disconnect();
    return error;
  }
  return 0;
}

DWORD KSCli::Receive(std::uint32_t kind, std::vector<char>* payload) {
  std::span<const char> rest;
  const DWORD code = ReceiveInto(kind, m_reply, &rest);
  payload->assign(rest.begin(), rest.end());
  return code;
}

DWORD KSCli::ReceiveInto(std::uint32_t kind, std::vector<char>& buffer, std::span<const char>* rest) {
  *rest = {};
  if (!m_pipe) return ERROR_PIPE_NOT_CONNECTED;
  buffer.resize(serverproto::kMaxReply);
  DWORD read = 0;
  if (!ReadFile(m_pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
    const DWORD error = GetLastError();
    Disconnect();
    return error == static_cast<DWORD>(ERROR_MORE_DATA) ? static_cast<DWORD>(ERROR_INVALID_DATA) : error;
  }
  std::uint32_t replyKind = 0;
  std::span<const char> body;
  if (!serverproto::ParseMessage(std::span<const char>(buffer.data(), read), &replyKind, &body) ||
      replyKind != (kind | serverproto::kReplyBit)) {
    Disconnect();
    return ERROR_INVALID_DATA;
  }
  Reader reader(body);
  std::uint32_t code = 0;
  if (!reader.U32(&code)) {
    Disconnect();
    return ERROR_INVALID_DATA;
  }
  *rest = reader.Rest();
  return code;
}

DWORD KSCli::GetProperties(char* version, char* build, char* platform, char* machine, char* domain, char* started,
                           char* resultDirectory, char* runs, char* keepHours) {
  std::vector<char> payload;
  if (const DWORD error = Exchange(Writer(KindOf(Kind::Properties)).Finish(), KindOf(Kind::Properties), &payload))
    return error;
  char* buffers[] = {version, build, platform, machine, domain, started, resultDirectory, runs, keepHours};
  constexpr std::size_t sizes[] = {8, 8, 20, 80, 80, 32, 260, 32, 32};
  Reader reader(payload);
  for (std::size_t i = 0; i < std::size(buffers); ++i) {
    std::string text;
    if (!reader.Text(1024, &text)) {
      Disconnect();
      return ERROR_INVALID_DATA;
    }
    CopyText(text, buffers[i], sizes[i]);
  }
  return 0;
}

DWORD KSCli::ProcessReport(KSServerCommunicationReportRec* record, KSServerCommunicationOutputRec* output,
                           const char* objects) {
  if (!record || !output) return ERROR_INVALID_PARAMETER;
  output->ResultNumber = output->ResultTag = 0;
  output->Message[0] = '\0';
  const std::string_view list = objects ? objects : "";
  if (list.size() > serverproto::kMaxObjectsText) {
    CopyText("The object list is too long for one report request.", output->Message, sizeof output->Message);
    return ERROR_INVALID_PARAMETER;
  }
  Writer request(KindOf(Kind::Report));
  request.U32(static_cast<std::uint32_t>(sizeof *record))
      .Bytes(std::span<const char>(reinterpret_cast<const char*>(record), sizeof *record))
      .Bytes(list);
  std::vector<char> payload;
  const DWORD code = Exchange(request.Finish(), KindOf(Kind::Report), &payload);
  Reader reader(payload);
  std::uint32_t number = 0, tag = 0;
  std::string message;
  if (reader.U32(&number) && reader.U32(&tag) && reader.Text(serverproto::kMaxMessageText, &message)) {
    output->ResultNumber = code == 0 ? number : 0;
    output->ResultTag = code == 0 ? tag : 0;
    CopyText(message, output->Message, sizeof output->Message);
  }
  ResetTransfer();
  return code;
}

DWORD KSCli::RequestWindow() {
  Writer request(KindOf(Kind::Read));
  request.U32(m_number).U32(m_tag).U64(m_requested).U32(serverproto::kMaxReadWindow);
  if (const DWORD error = Send(request.Finish())) return error;
  m_requested += serverproto::kMaxReadWindow;
  ++m_windows;
  return 0;
}

DWORD KSCli::ProcessFile(KSServerCommunicationOutputRec* output, KSServerCommunicationFileRec* file, int*) {
  if (!output || !file) return ERROR_INVALID_PARAMETER;
  if (output->ResultNumber != m_number || output->ResultTag != m_tag) {
    DrainWindow();
    ResetTransfer();
    m_number = output->ResultNumber;
    m_tag = output->ResultTag;
  }
  file->Count = 0;
  std::size_t filled = 0;
  while (filled < sizeof file->Data) {
    if (m_used == m_block.size()) {
      if (m_end) break;
      if (m_windows == 0) {
        m_requested = m_offset;
        if (const DWORD error = RequestWindow()) return filled > 0 ? 0 : error;
      }
      std::span<const char> rest;
      const DWORD error = ReceiveInto(KindOf(Kind::Read), m_blockMessage, &rest);
      Reader reader(rest);
      std::uint32_t flags = 0;
      if (!error && (!reader.U32(&flags) || reader.Rest().size() > m_readBlock)) {
        Disconnect();
        return ERROR_INVALID_DATA;
      }
      if ((error || !(flags & serverproto::kReadMore)) && m_windows > 0) --m_windows;
      if (error) {
        DrainWindow();  // a window asked for ahead starts where this one broke off
        if (filled > 0) break;  // deliver what is here; the error comes with the next call
        return error;
      }
      m_block = reader.Rest();
      m_used = 0;
      m_offset += m_block.size();
      m_end = (flags & serverproto::kReadEnd) || m_block.empty();
      if (m_end) continue;
      if ((flags & serverproto::kReadMore) && m_windows == 1) {
        // The next window is asked for now, so that it follows this one
        // without a round trip in between. A failure drops the connection,
        // which the next step reports.
        (void)RequestWindow();
      } else if (!(flags & serverproto::kReadMore) && m_windows > 0 &&
                 m_offset != m_requested - serverproto::kMaxReadWindow) {
        // This window came short of what was asked: the one asked ahead does
        // not follow on from it.
        DrainWindow();
      }
      continue;
    }
    const std::size_t take = std::min(sizeof file->Data - filled, m_block.size() - m_used);
    std::memcpy(file->Data + filled, m_block.data() + m_used, take);
    m_used += take;
    filled += take;
  }
  if (filled == 0) return ERROR_HANDLE_EOF;
  file->Count = static_cast<DWORD>(filled);
  file->Sequence = ++m_sequence;
  return 0;
}

DWORD KSCli::DeleteServerFile(KSServerCommunicationOutputRec* output, KSServerCommunicationFileRec*) {
  if (!output) return ERROR_INVALID_PARAMETER;
  Writer request(KindOf(Kind::Delete));
  request.U32(output->ResultNumber).U32(output->ResultTag);
  std::vector<char> payload;
  const DWORD code = Exchange(request.Finish(), KindOf(Kind::Delete), &payload);
  if (output->ResultNumber == m_number && output->ResultTag == m_tag) ResetTransfer();
  return code;
}

}  // namespace vn
