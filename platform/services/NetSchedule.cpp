#include "platform/services/NetSchedule.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "machine.grpc.pb.h"
#include "platform/core/CallResult.h"
#include "platform/core/WideString.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/endpoints/RemoteMachine.h"
#include "platform/machine/MachineConfig.h"

namespace vn {
namespace {

namespace pb = vornal::machine;

// The scheduler's calls report in the network status type.
NET_API_STATUS Unreachable(LONG error) { return static_cast<NET_API_STATUS>(MapUnreachable(error)); }

std::size_t CommandBytes(const std::u16string& command) { return (command.size() + 1) * sizeof(WCHAR); }

// One allocation: `count` records of type T, then the commands.
template <typename T>
LPBYTE Pack(const std::vector<const pb::ScheduledJob*>& jobs, const std::vector<std::u16string>& commands,
            void (*fill)(const pb::ScheduledJob&, LPWSTR, T*)) {
  std::size_t size = jobs.size() * sizeof(T);
  for (const auto& command : commands) size += CommandBytes(command);
  auto* data = static_cast<LPBYTE>(std::malloc(size));
  if (data == nullptr) return nullptr;
  auto* records = reinterpret_cast<T*>(data);
  auto* text = reinterpret_cast<WCHAR*>(data + jobs.size() * sizeof(T));
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    std::memcpy(text, commands[i].c_str(), CommandBytes(commands[i]));
    fill(*jobs[i], text, &records[i]);
    text += commands[i].size() + 1;
  }
  return data;
}

void FillEnum(const pb::ScheduledJob& job, LPWSTR command, AT_ENUM* out) {
  *out = AT_ENUM{job.job_id(), job.job_time(), job.days_of_month(), static_cast<UCHAR>(job.days_of_week()),
                 static_cast<UCHAR>(job.flags()), command};
}

void FillInfo(const pb::ScheduledJob& job, LPWSTR command, AT_INFO* out) {
  *out = AT_INFO{job.job_time(), job.days_of_month(), static_cast<UCHAR>(job.days_of_week()),
                 static_cast<UCHAR>(job.flags()), command};
}

}  // namespace
}  // namespace vn

NET_API_STATUS NetScheduleJobAdd(LPCWSTR Servername, LPBYTE Buffer, LPDWORD JobId) {
  namespace pb = vornal::machine;
  const auto* info = reinterpret_cast<const AT_INFO*>(Buffer);
  if (JobId == nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<vn::RemoteMachine> machine;
  if (const LONG error = vn::FindMachineService(vn::ToUtf8(Servername), &machine)) return vn::Unreachable(error);
  pb::ScheduleJobAddRequest request;
  if (info != nullptr) {
    auto* job = request.mutable_job();
    job->set_job_time(static_cast<std::uint32_t>(std::min<DWORD_PTR>(info->JobTime, 0xFFFFFFFF)));
    job->set_days_of_month(info->DaysOfMonth);
    job->set_days_of_week(info->DaysOfWeek);
    job->set_flags(info->Flags);
    if (info->Command != nullptr) job->set_command(vn::ToUtf8(info->Command));
  }
  // Refused here as the scheduler would refuse it, before it is sent (a null
  // record or command cannot travel).
  if (const DWORD error = vn::ValidateJob(info)) {
    // "Schedule" not running wins over bad fields, as on the machine itself.
    pb::ScheduleJobEnumReply probe;
    if (const LONG transport = machine->ScheduleJobEnum(pb::ScheduleJobEnumRequest(), &probe))
      return vn::Unreachable(transport);
    return probe.error() != 0 ? probe.error() : error;
  }
  pb::ScheduleJobAddReply reply;
  if (const LONG error = machine->ScheduleJobAdd(request, &reply)) return vn::Unreachable(error);
  if (reply.error() == 0) *JobId = reply.job_id();
  return reply.error();
}

NET_API_STATUS NetScheduleJobDel(LPCWSTR Servername, DWORD MinJobId, DWORD MaxJobId) {
  namespace pb = vornal::machine;
  std::shared_ptr<vn::RemoteMachine> machine;
  if (const LONG error = vn::FindMachineService(vn::ToUtf8(Servername), &machine)) return vn::Unreachable(error);
  pb::ScheduleJobDelRequest request;
  request.set_min_job_id(MinJobId);
  request.set_max_job_id(MaxJobId);
  pb::ErrorReply reply;
  if (const LONG error = machine->ScheduleJobDel(request, &reply)) return vn::Unreachable(error);
  return reply.error();
}

NET_API_STATUS NetScheduleJobEnum(LPCWSTR Servername, LPBYTE* PointerToBuffer, DWORD PrefferedMaximumLength,
                                  LPDWORD EntriesRead, LPDWORD TotalEntries, LPDWORD ResumeHandle) {
  namespace pb = vornal::machine;
  if (PointerToBuffer == nullptr || EntriesRead == nullptr || TotalEntries == nullptr)
    return ERROR_INVALID_PARAMETER;
  *PointerToBuffer = nullptr;
  *EntriesRead = 0;
  *TotalEntries = 0;
  std::shared_ptr<vn::RemoteMachine> machine;
  if (const LONG error = vn::FindMachineService(vn::ToUtf8(Servername), &machine)) return vn::Unreachable(error);
  pb::ScheduleJobEnumReply reply;
  if (const LONG error = machine->ScheduleJobEnum(pb::ScheduleJobEnumRequest(), &reply))
    return vn::Unreachable(error);
  if (reply.error() != 0) return reply.error();
  const DWORD after = ResumeHandle != nullptr ? *ResumeHandle : 0;
  std::vector<const pb::ScheduledJob*> remaining;
  for (const auto& job : reply.jobs())
    if (job.job_id() > after) remaining.push_back(&job);
  *TotalEntries = static_cast<DWORD>(remaining.size());
  std::vector<const pb::ScheduledJob*> taken;
  std::vector<std::u16string> commands;
  std::size_t used = 0;
  for (const auto* job : remaining) {
    std::u16string command = vn::ToWide(job->command());
    const std::size_t size = sizeof(AT_ENUM) + vn::CommandBytes(command);
    if (!taken.empty() && PrefferedMaximumLength != MAX_PREFERRED_LENGTH && used + size > PrefferedMaximumLength)
      break;
    used += size;
    taken.push_back(job);
    commands.push_back(std::move(command));
  }
  if (taken.empty()) {
    if (ResumeHandle != nullptr) *ResumeHandle = 0;
    return NERR_Success;
  }
  LPBYTE data = vn::Pack<AT_ENUM>(taken, commands, &vn::FillEnum);
  if (data == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  *PointerToBuffer = data;
  *EntriesRead = static_cast<DWORD>(taken.size());
  const bool more = taken.size() < remaining.size();
  if (ResumeHandle != nullptr) *ResumeHandle = more ? taken.back()->job_id() : 0;
  return more ? static_cast<NET_API_STATUS>(ERROR_MORE_DATA) : NERR_Success;
}

NET_API_STATUS NetScheduleJobGetInfo(LPCWSTR Servername, DWORD JobId, LPBYTE* PointerToBuffer) {
  namespace pb = vornal::machine;
  if (PointerToBuffer == nullptr) return ERROR_INVALID_PARAMETER;
  *PointerToBuffer = nullptr;
  std::shared_ptr<vn::RemoteMachine> machine;
  if (const LONG error = vn::FindMachineService(vn::ToUtf8(Servername), &machine)) return vn::Unreachable(error);
  pb::ScheduleJobGetInfoRequest request;
  request.set_job_id(JobId);
  pb::ScheduleJobGetInfoReply reply;
  if (const LONG error = machine->ScheduleJobGetInfo(request, &reply)) return vn::Unreachable(error);
  if (reply.error() != 0) return reply.error();
  LPBYTE data = vn::Pack<AT_INFO>({&reply.job()}, {vn::ToWide(reply.job().command())}, &vn::FillInfo);
  if (data == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  *PointerToBuffer = data;
  return NERR_Success;
}
