#pragma once
// The machine service's handlers: each call of proto/machine.proto becomes
// the same call on the machine's endpoint (its LocalMachine), after the
// checks that make the service safe to expose:
// - every call except GetServerInfo must come from a caller that presented,
//   on its TLS connection, a certificate issued by the machine's domain
//   (platform/machine/DomainIdentity.h); without one the call is refused
//   before anything is read or changed;
// - requests are untrusted: names and paths over the protocol's limits,
//   registry paths that start at the top of the hive, and embedded NULs are
//   answered with ERROR_INVALID_PARAMETER; key ids go to the hive, which
//   answers unknown ones with ERROR_KEY_DELETED;
// - files are reached through shares only: a drive root ("C:") or any root
//   that is not a share name is refused with ERROR_BAD_NET_NAME.
//
// Service control calls go to the machine's ServiceManager (answered with
// ERROR_NOT_SUPPORTED when the service was built without one). Job scheduler
// calls go to the machine's JobScheduler, NERR_ServiceNotInstalled when there
// is none or "Schedule" is not running. Pipe opens this machine's
// pipe as a local client and forwards its messages.
//
// Threads: unary calls run on gRPC's synchronous server threads, concurrently,
// but for the registry reads (OpenKey, EnumKey, EnumValue, QueryValue,
// QueryInfo): those are answered on the callback thread that read the
// request, which saves a hand-over between threads (about a quarter of a
// round trip). They read through a connection of their own to the hive,
// which never waits for a writer (a write can wait seconds for another
// process's turn), so they cannot hold that thread up. The long calls
// (ReadFile, FindFiles, WriteFile, Pipe) are reactors of gRPC's callback API
// and hold no thread while they wait: their disk work runs chunk by chunk on
// a small WorkerPool, and relayed pipes are watched by one PipeWatcher
// thread for all of them. StreamLimits bounds how many long
// calls each caller and everyone together hold, and ends idle ones. The
// endpoint and hive are safe from any thread. The object must outlive the
// server.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "machine.grpc.pb.h"
#include "machined/StreamLimits.h"
#include "machined/WorkerPool.h"
#include "platform/endpoints/MachineEndpoint.h"
#include "platform/machine/MachineConfig.h"
#include "platform/machine/DomainIdentity.h"

namespace vn {

class DataPort;
class JobScheduler;
class PipeWatcher;
class ServiceManager;

// The generated service with the long calls served by reactors and the
// registry reads by the callback API.
namespace machine_service {
using M = vornal::machine::Machine;
using Long = M::WithCallbackMethod_ReadFile<
    M::WithCallbackMethod_FindFiles<M::WithCallbackMethod_WriteFile<M::WithCallbackMethod_Pipe<M::Service>>>>;
using Base = M::WithCallbackMethod_OpenKey<M::WithCallbackMethod_EnumKey<
    M::WithCallbackMethod_EnumValue<M::WithCallbackMethod_QueryValue<M::WithCallbackMethod_QueryInfo<Long>>>>>;
}  // namespace machine_service
using MachineServiceBase = machine_service::Base;

class MachineServiceImpl final : public MachineServiceBase {
 public:
  // Serves `machine`, whose domain is that of `config`, with
  // its services and scheduled jobs when given.
  MachineServiceImpl(std::shared_ptr<MachineEndpoint> machine, std::shared_ptr<const MachineConfig> config,
                     std::shared_ptr<ServiceManager> services = nullptr,
                     std::shared_ptr<JobScheduler> scheduler = nullptr);
  ~MachineServiceImpl() override;

  // Accepts as members the callers whose certificates `members` confirms.
  // Set before the server starts; until then every call but GetServerInfo
  // is refused.
  void TrustMembers(std::shared_ptr<const MemberCheck> members) { m_members = std::move(members); }

  // Where WriteFile streams take data connections (machined/DataPort.h); set
  // before the server starts, outliving it. Without one they are refused.
  void UseDataPort(DataPort* port) { m_dataPort = port; }

  // The machine the caller's certificate names when the domain issued it,
  // else the transport's peer ("unix:..."). For logs and per-client limits.
  std::string PeerIdentity(const grpc::ServerContextBase& context) const;

  using Context = grpc::ServerContext;
  template <typename T>
  using Writer = grpc::ServerWriter<T>;
  using Status = grpc::Status;
  using CallbackContext = grpc::CallbackServerContext;

  Status GetServerInfo(Context*, const vornal::machine::ServerInfoRequest*,
                       vornal::machine::ServerInfoReply*) override;
  Status EnumServers(Context*, const vornal::machine::EnumServersRequest*,
                     vornal::machine::EnumServersReply*) override;
  Status GetDCName(Context*, const vornal::machine::GetDCNameRequest*, vornal::machine::GetDCNameReply*) override;
  Status EnumShares(Context*, const vornal::machine::EnumSharesRequest*, vornal::machine::EnumSharesReply*) override;

  using Answer = grpc::ServerUnaryReactor;
  Answer* OpenKey(CallbackContext*, const vornal::machine::OpenKeyRequest*, vornal::machine::OpenKeyReply*) override;
  Status CreateKey(Context*, const vornal::machine::CreateKeyRequest*, vornal::machine::CreateKeyReply*) override;
  Status DeleteKey(Context*, const vornal::machine::DeleteKeyRequest*, vornal::machine::ErrorReply*) override;
  Answer* EnumKey(CallbackContext*, const vornal::machine::EnumKeyRequest*, vornal::machine::EnumKeyReply*) override;
  Answer* EnumValue(CallbackContext*, const vornal::machine::EnumValueRequest*,
                    vornal::machine::ValueReply*) override;
  Answer* QueryValue(CallbackContext*, const vornal::machine::QueryValueRequest*,
                     vornal::machine::ValueReply*) override;
  Status SetValue(Context*, const vornal::machine::SetValueRequest*, vornal::machine::ErrorReply*) override;
  Status DeleteValue(Context*, const vornal::machine::DeleteValueRequest*, vornal::machine::ErrorReply*) override;
  Answer* QueryInfo(CallbackContext*, const vornal::machine::QueryInfoRequest*,
                    vornal::machine::QueryInfoReply*) override;

  Status GetDrives(Context*, const vornal::machine::GetDrivesRequest*, vornal::machine::GetDrivesReply*) override;
  Status GetVolumeInfo(Context*, const vornal::machine::PathRequest*, vornal::machine::VolumeInfoReply*) override;
  Status GetDiskSpace(Context*, const vornal::machine::PathRequest*, vornal::machine::DiskSpaceReply*) override;
  grpc::ServerWriteReactor<vornal::machine::FindFilesReply>* FindFiles(CallbackContext*,
                                                                      const vornal::machine::PathRequest*) override;
  Status GetFileInfo(Context*, const vornal::machine::PathRequest*, vornal::machine::FileInfoReply*) override;
  Status CreateDirectory(Context*, const vornal::machine::PathRequest*, vornal::machine::ErrorReply*) override;
  Status RemoveDirectory(Context*, const vornal::machine::PathRequest*, vornal::machine::ErrorReply*) override;
  Status DeleteFile(Context*, const vornal::machine::PathRequest*, vornal::machine::ErrorReply*) override;
  grpc::ServerWriteReactor<vornal::machine::ReadFileReply>* ReadFile(CallbackContext*,
                                                                    const vornal::machine::ReadFileRequest*) override;
  grpc::ServerBidiReactor<vornal::machine::WriteFileRequest, vornal::machine::WriteFileReply>* WriteFile(
      CallbackContext*) override;

  // Service control (ServiceControlImpl.cpp).
  Status OpenSCManager(Context*, const vornal::machine::OpenSCManagerRequest*,
                       vornal::machine::ErrorReply*) override;
  Status OpenService(Context*, const vornal::machine::ServiceRequest*, vornal::machine::ErrorReply*) override;
  Status QueryServiceStatus(Context*, const vornal::machine::ServiceRequest*,
                            vornal::machine::ServiceStatusReply*) override;
  Status StartService(Context*, const vornal::machine::StartServiceRequest*, vornal::machine::ErrorReply*) override;
  Status ControlService(Context*, const vornal::machine::ControlServiceRequest*,
                        vornal::machine::ServiceStatusReply*) override;
  Status CreateService(Context*, const vornal::machine::CreateServiceRequest*, vornal::machine::ErrorReply*) override;
  Status DeleteService(Context*, const vornal::machine::ServiceRequest*, vornal::machine::ErrorReply*) override;

  // Job scheduler (ScheduleImpl.cpp).
  Status ScheduleJobAdd(Context*, const vornal::machine::ScheduleJobAddRequest*,
                        vornal::machine::ScheduleJobAddReply*) override;
  Status ScheduleJobDel(Context*, const vornal::machine::ScheduleJobDelRequest*,
                        vornal::machine::ErrorReply*) override;
  Status ScheduleJobEnum(Context*, const vornal::machine::ScheduleJobEnumRequest*,
                         vornal::machine::ScheduleJobEnumReply*) override;
  Status ScheduleJobGetInfo(Context*, const vornal::machine::ScheduleJobGetInfoRequest*,
                            vornal::machine::ScheduleJobGetInfoReply*) override;

  // Named pipes of this machine for other machines' clients
  // (PipeRelayImpl.cpp) and the machine's accounts (AccountsImpl.cpp).
  grpc::ServerBidiReactor<vornal::machine::PipeFrame, vornal::machine::PipeFrame>* Pipe(CallbackContext*) override;
  Status WaitPipe(Context*, const vornal::machine::WaitPipeRequest*, vornal::machine::ErrorReply*) override;
  Status GetAccounts(Context*, const vornal::machine::GetAccountsRequest*,
                     vornal::machine::GetAccountsReply*) override;

  // Places held now by long calls (tests).
  std::size_t HeldStreams() const { return m_limits.Held(StreamLimits::Kind::Stream); }
  std::size_t HeldPipes() const { return m_limits.Held(StreamLimits::Kind::Pipe); }

 private:
  // The one check every handler but GetServerInfo makes first: OK, or
  // UNAUTHENTICATED (no certificate) / PERMISSION_DENIED (not of this domain).
  Status Authorise(const grpc::ServerContextBase& context, const char* method);
  // The scheduler when it may serve calls, else null with *error set.
  std::shared_ptr<JobScheduler> Scheduler(std::uint32_t* error) const;
  [[nodiscard]] LONG Hive(std::shared_ptr<RegistryHive>* hive);
  // The hive as the registry reads see it: a connection of its own to the
  // machine's hive file.
  [[nodiscard]] LONG ReadHive(std::shared_ptr<RegistryHive>* hive);

  std::shared_ptr<MachineEndpoint> m_machine;
  std::shared_ptr<const MachineConfig> m_config;
  std::shared_ptr<ServiceManager> m_services;   // may be null
  std::shared_ptr<JobScheduler> m_scheduler;    // may be null
  std::shared_ptr<const MemberCheck> m_members;   // null: no caller is a member
  std::mutex m_hiveMutex;
  std::shared_ptr<RegistryHive> m_hive;
  std::shared_ptr<RegistryHive> m_readHive;   // under m_hiveMutex
  StreamLimits m_limits;
  WorkerPool m_workers;
  DataPort* m_dataPort = nullptr;
  std::unique_ptr<PipeWatcher> m_pipes;
};

}  // namespace vn
