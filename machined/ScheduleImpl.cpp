// The job scheduler calls of MachineServiceImpl: authenticated as every other
// call, then handed to the machine's JobScheduler while "Schedule" runs.

#include <memory>
#include <string>

#include "machined/JobScheduler.h"
#include "machined/MachineServiceImpl.h"
#include "platform/core/WideString.h"
#include "proto/MachineProtocol.h"

namespace vn {

namespace pb = vornal::machine;

namespace {

void ToProto(const ScheduledJob& job, JobTimePoint now, pb::ScheduledJob* out) {
  out->set_job_id(job.id);
  out->set_job_time(job.timing.jobTime);
  out->set_days_of_month(job.timing.daysOfMonth);
  out->set_days_of_week(job.timing.daysOfWeek);
  UCHAR flags = job.timing.flags & JOB_OUTPUT_FLAGS & static_cast<UCHAR>(~JOB_RUNS_TODAY);
  if (RunsToday(job.due, now)) flags |= JOB_RUNS_TODAY;
  out->set_flags(flags);
  out->set_command(job.command);
}

}  // namespace

std::shared_ptr<JobScheduler> MachineServiceImpl::Scheduler(std::uint32_t* error) const {
  if (!m_scheduler || !m_scheduler->Running()) {
    *error = NERR_ServiceNotInstalled;
    return nullptr;
  }
  *error = ERROR_SUCCESS;
  return m_scheduler;
}

grpc::Status MachineServiceImpl::ScheduleJobAdd(Context* context, const pb::ScheduleJobAddRequest* request,
                                                pb::ScheduleJobAddReply* reply) {
  if (auto status = Authorise(*context, "ScheduleJobAdd"); !status.ok()) return status;
  std::uint32_t error = 0;
  auto scheduler = Scheduler(&error);
  if (!scheduler) {
    reply->set_error(error);
    return grpc::Status::OK;
  }
  const auto& job = request->job();
  if (job.command().size() > kMaxNameBytes || job.days_of_week() > 0xFF || job.flags() > 0xFF) {
    reply->set_error(ERROR_INVALID_PARAMETER);
    return grpc::Status::OK;
  }
  std::u16string command = ToWide(job.command());
  AT_INFO info{job.job_time(), job.days_of_month(), static_cast<UCHAR>(job.days_of_week()),
               static_cast<UCHAR>(job.flags()), command.data()};
  DWORD id = 0;
  error = scheduler->Add(info, &id);
  reply->set_error(error);
  if (error == ERROR_SUCCESS) reply->set_job_id(id);
  return grpc::Status::OK;
}

grpc::Status MachineServiceImpl::ScheduleJobDel(Context* context, const pb::ScheduleJobDelRequest* request,
                                                pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "ScheduleJobDel"); !status.ok()) return status;
  std::uint32_t error = 0;
  if (auto scheduler = Scheduler(&error)) error = scheduler->Delete(request->min_job_id(), request->max_job_id());
  reply->set_error(error);
  return grpc::Status::OK;
}

grpc::Status MachineServiceImpl::ScheduleJobEnum(Context* context, const pb::ScheduleJobEnumRequest*,
                                                 pb::ScheduleJobEnumReply* reply) {
  if (auto status = Authorise(*context, "ScheduleJobEnum"); !status.ok()) return status;
  std::uint32_t error = 0;
  auto scheduler = Scheduler(&error);
  reply->set_error(error);
  if (!scheduler) return grpc::Status::OK;
  const JobTimePoint now = scheduler->Now();
  for (const auto& job : scheduler->Jobs()) ToProto(job, now, reply->add_jobs());
  return grpc::Status::OK;
}

grpc::Status MachineServiceImpl::ScheduleJobGetInfo(Context* context, const pb::ScheduleJobGetInfoRequest* request,
                                                    pb::ScheduleJobGetInfoReply* reply) {
  if (auto status = Authorise(*context, "ScheduleJobGetInfo"); !status.ok()) return status;
  std::uint32_t error = 0;
  auto scheduler = Scheduler(&error);
  if (scheduler) {
    ScheduledJob job;
    error = scheduler->Get(request->job_id(), &job);
    if (error == ERROR_SUCCESS) ToProto(job, scheduler->Now(), reply->mutable_job());
  }
  reply->set_error(error);
  return grpc::Status::OK;
}

}  // namespace vn
