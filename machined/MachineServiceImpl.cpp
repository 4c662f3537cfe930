#include "machined/MachineServiceImpl.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "machined/DescriptorBudget.h"
#include "machined/PeerIdentity.h"
#include "machined/RequestChecks.h"
#include "platform/hive/LocalHive.h"
#include "platform/ipc/PipeWatcher.h"
#include "platform/transport/ConnectionFront.h"
#include "proto/MachineProtocol.h"

namespace vn {

namespace pb = vornal::machine;

namespace {

// A name from the network: within the limit and without NULs (which would cut
// it short in the Win32 calls).
bool ValidName(std::string_view name) {
  return name.size() <= kMaxNameBytes && name.find('\0') == std::string_view::npos;
}

// A registry path: a valid name that does not start from the top of the hive.
bool ValidKeyPath(std::string_view path) { return ValidName(path) && !path.starts_with('\\'); }

template <typename R>
grpc::Status Reply(R* reply, LONG error) {
  reply->set_error(static_cast<std::uint32_t>(error));
  return grpc::Status::OK;
}

void FillValue(const RegValue& value, pb::ValueReply* reply) {
  reply->set_name(value.name);
  reply->set_type(value.type);
  reply->set_data(reinterpret_cast<const char*>(value.data.data()), value.data.size());
}

// Threads for the disk work of all file streams: enough to keep a few disks
// busy, few enough that a caller cannot make the service spawn more.
constexpr unsigned kDiskWorkers = 4;

}  // namespace

// A file path from the network. Only share roots are reachable: "C:" and
// anything else that cannot be a share name gets ERROR_BAD_NET_NAME.
LONG CheckPath(const pb::MachinePath& path, MachinePath* out) {
  const std::string& root = path.root();
  if (!ValidName(root) || !ValidName(path.path())) return ERROR_INVALID_PARAMETER;
  if (root.empty() || root.find_first_of(":\\/") != std::string::npos) return ERROR_BAD_NET_NAME;
  out->root = root;
  out->path = path.path();
  return ERROR_SUCCESS;
}

void ToProto(const ServerInfo& info, pb::Server* server) {
  server->set_name(info.name);
  server->set_platform_id(info.platformId);
  server->set_version_major(info.versionMajor);
  server->set_version_minor(info.versionMinor);
  server->set_type(info.type);
  server->set_comment(info.comment);
  server->set_domain(info.domain);
}

void ToProto(const FileEntry& entry, pb::FileEntry* out) {
  out->set_name(entry.name);
  out->set_alternate_name(entry.alternateName);
  out->set_attributes(entry.attributes);
  out->set_size(entry.size);
  out->set_creation_time(entry.creationTime);
  out->set_last_access_time(entry.lastAccessTime);
  out->set_last_write_time(entry.lastWriteTime);
}

MachineServiceImpl::MachineServiceImpl(std::shared_ptr<MachineEndpoint> machine,
                                       std::shared_ptr<const MachineConfig> config,
                                       std::shared_ptr<ServiceManager> services,
                                       std::shared_ptr<JobScheduler> scheduler)
    : m_machine(std::move(machine)),
      m_config(std::move(config)),
      m_services(std::move(services)),
      m_scheduler(std::move(scheduler)),
      m_limits(DescriptorBudget::For(DescriptorLimit()).Fit(m_config->limits)),
      m_workers(kDiskWorkers),
      m_pipes(std::make_unique<PipeWatcher>()) {
  // Opened now, not on the callback thread of the first read; a hive that
  // cannot be opened yet is tried again on each read.
  std::shared_ptr<RegistryHive> hive;
  (void)ReadHive(&hive);
}

MachineServiceImpl::~MachineServiceImpl() = default;

grpc::Status MachineServiceImpl::Authorise(const grpc::ServerContextBase& context, const char* /*method*/) {
  // Every member may make every call: the domain is the unit of trust.
  if (!m_members) return {grpc::StatusCode::PERMISSION_DENIED, "this machine holds no identity in its domain"};
  if (!PeerMachine(context, *m_members))
    return {CallerCertificate(context).empty() ? grpc::StatusCode::UNAUTHENTICATED
                                               : grpc::StatusCode::PERMISSION_DENIED,
            "this call needs a certificate of the machine's domain"};
  return grpc::Status::OK;
}

std::string MachineServiceImpl::PeerIdentity(const grpc::ServerContextBase& context) const {
  return m_members ? vn::PeerIdentity(context, *m_members) : context.peer();
}

// The hive is opened once and kept: opening it costs far more than a call.
LONG MachineServiceImpl::Hive(std::shared_ptr<RegistryHive>* hive) {
  std::lock_guard lock(m_hiveMutex);
  if (!m_hive) {
    if (const LONG error = m_machine->ConnectRegistry(&m_hive); error != ERROR_SUCCESS) return error;
  }
  *hive = m_hive;
  return ERROR_SUCCESS;
}

LONG MachineServiceImpl::ReadHive(std::shared_ptr<RegistryHive>* hive) {
  std::lock_guard lock(m_hiveMutex);
  if (!m_readHive) {
    std::shared_ptr<LocalHive> opened;
    if (const LONG error = LocalHive::Open(m_config->home / "registry.db", &opened); error != ERROR_SUCCESS)
      return error;
    m_readHive = std::move(opened);
  }
  *hive = m_readHive;
  return ERROR_SUCCESS;
}

namespace {

// A unary call of the callback API answered at once, on the thread that read
// it, with what `handler` returns.
template <typename Handler>
grpc::ServerUnaryReactor* Answered(grpc::CallbackServerContext* context, Handler&& handler) {
  grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
  reactor->Finish(handler());
  return reactor;
}

}  // namespace

// ---------------------------------------------------------------- server information

grpc::Status MachineServiceImpl::GetServerInfo(Context*, const pb::ServerInfoRequest*, pb::ServerInfoReply* reply) {
  ServerInfo info;
  const LONG error = m_machine->GetServerInfo(&info);
  if (error == ERROR_SUCCESS) ToProto(info, reply->mutable_server());
  return Reply(reply, error);
}

grpc::Status MachineServiceImpl::EnumServers(Context* context, const pb::EnumServersRequest* request,
                                             pb::EnumServersReply* reply) {
  if (auto status = Authorise(*context, "EnumServers"); !status.ok()) return status;
  if (!ValidName(request->domain())) return Reply(reply, ERROR_INVALID_PARAMETER);
  std::vector<ServerInfo> servers;
  const LONG error = m_machine->EnumServers(request->type_mask(), request->domain(), &servers);
  if (error == ERROR_SUCCESS)
    for (const auto& server : servers) ToProto(server, reply->add_servers());
  return Reply(reply, error);
}

grpc::Status MachineServiceImpl::GetDCName(Context* context, const pb::GetDCNameRequest* request,
                                           pb::GetDCNameReply* reply) {
  if (auto status = Authorise(*context, "GetDCName"); !status.ok()) return status;
  if (!ValidName(request->domain())) return Reply(reply, ERROR_INVALID_PARAMETER);
  std::string controller;
  const LONG error = m_machine->GetDCName(request->domain(), &controller);
  if (error == ERROR_SUCCESS) reply->set_controller(controller);
  return Reply(reply, error);
}

grpc::Status MachineServiceImpl::EnumShares(Context* context, const pb::EnumSharesRequest*,
                                            pb::EnumSharesReply* reply) {
  if (auto status = Authorise(*context, "EnumShares"); !status.ok()) return status;
  std::vector<ShareInfo> shares;
  const LONG error = m_machine->EnumShares(&shares);
  if (error == ERROR_SUCCESS) {
    for (const auto& share : shares) {
      auto* out = reply->add_shares();
      out->set_name(share.name);
      out->set_type(share.type);
      out->set_remark(share.remark);
    }
  }
  return Reply(reply, error);
}

// ---------------------------------------------------------------- registry

grpc::ServerUnaryReactor* MachineServiceImpl::OpenKey(CallbackContext* context, const pb::OpenKeyRequest* request,
                                                      pb::OpenKeyReply* reply) {
  return Answered(context, [&]() -> grpc::Status {
    if (auto status = Authorise(*context, "OpenKey"); !status.ok()) return status;
    if (!ValidKeyPath(request->path())) return Reply(reply, ERROR_INVALID_PARAMETER);
    std::shared_ptr<RegistryHive> hive;
    if (const LONG error = ReadHive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
    KeyId key = 0;
    const LONG error = hive->OpenKey(request->parent(), request->path(), &key);
    if (error == ERROR_SUCCESS) reply->set_key(key);
    return Reply(reply, error);
  });
}

grpc::Status MachineServiceImpl::CreateKey(Context* context, const pb::CreateKeyRequest* request,
                                           pb::CreateKeyReply* reply) {
  if (auto status = Authorise(*context, "CreateKey"); !status.ok()) return status;
  if (!ValidKeyPath(request->path())) return Reply(reply, ERROR_INVALID_PARAMETER);
  std::shared_ptr<RegistryHive> hive;
  if (const LONG error = Hive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
  KeyId key = 0;
  bool created = false;
  const LONG error = hive->CreateKey(request->parent(), request->path(), &key, &created);
  if (error == ERROR_SUCCESS) {
    reply->set_key(key);
    reply->set_created(created);
  }
  return Reply(reply, error);
}

grpc::Status MachineServiceImpl::DeleteKey(Context* context, const pb::DeleteKeyRequest* request,
                                           pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "DeleteKey"); !status.ok()) return status;
  if (!ValidKeyPath(request->path())) return Reply(reply, ERROR_INVALID_PARAMETER);
  std::shared_ptr<RegistryHive> hive;
  if (const LONG error = Hive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
  return Reply(reply, hive->DeleteKey(request->parent(), request->path()));
}

grpc::ServerUnaryReactor* MachineServiceImpl::EnumKey(CallbackContext* context, const pb::EnumKeyRequest* request,
                                                      pb::EnumKeyReply* reply) {
  return Answered(context, [&]() -> grpc::Status {
    if (auto status = Authorise(*context, "EnumKey"); !status.ok()) return status;
    std::shared_ptr<RegistryHive> hive;
    if (const LONG error = ReadHive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
    std::string name;
    std::uint64_t lastWriteTime = 0;
    const LONG error = hive->EnumKey(request->key(), request->index(), &name, &lastWriteTime);
    if (error == ERROR_SUCCESS) {
      reply->set_name(name);
      reply->set_last_write_time(lastWriteTime);
    }
    return Reply(reply, error);
  });
}

grpc::ServerUnaryReactor* MachineServiceImpl::EnumValue(CallbackContext* context, const pb::EnumValueRequest* request,
                                                        pb::ValueReply* reply) {
  return Answered(context, [&]() -> grpc::Status {
    if (auto status = Authorise(*context, "EnumValue"); !status.ok()) return status;
    std::shared_ptr<RegistryHive> hive;
    if (const LONG error = ReadHive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
    RegValue value;
    LONG error = hive->EnumValue(request->key(), request->index(), &value);
    // A value written on the machine itself may be larger than a message can carry.
    if (error == ERROR_SUCCESS && value.data.size() > kMaxValueBytes) error = ERROR_NOT_ENOUGH_MEMORY;
    if (error == ERROR_SUCCESS) FillValue(value, reply);
    return Reply(reply, error);
  });
}

grpc::ServerUnaryReactor* MachineServiceImpl::QueryValue(CallbackContext* context, const pb::QueryValueRequest* request,
                                                         pb::ValueReply* reply) {
  return Answered(context, [&]() -> grpc::Status {
    if (auto status = Authorise(*context, "QueryValue"); !status.ok()) return status;
    if (!ValidName(request->name())) return Reply(reply, ERROR_INVALID_PARAMETER);
    std::shared_ptr<RegistryHive> hive;
    if (const LONG error = ReadHive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
    RegValue value;
    LONG error = hive->QueryValue(request->key(), request->name(), &value);
    if (error == ERROR_SUCCESS && value.data.size() > kMaxValueBytes) error = ERROR_NOT_ENOUGH_MEMORY;
    if (error == ERROR_SUCCESS) FillValue(value, reply);
    return Reply(reply, error);
  });
}

grpc::Status MachineServiceImpl::SetValue(Context* context, const pb::SetValueRequest* request,
                                          pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "SetValue"); !status.ok()) return status;
  if (!ValidName(request->name()) || request->data().size() > kMaxValueBytes)
    return Reply(reply, ERROR_INVALID_PARAMETER);
  std::shared_ptr<RegistryHive> hive;
  if (const LONG error = Hive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
  const std::string& data = request->data();
  return Reply(reply, hive->SetValue(request->key(), request->name(), request->type(),
                                     reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())));
}

grpc::Status MachineServiceImpl::DeleteValue(Context* context, const pb::DeleteValueRequest* request,
                                             pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "DeleteValue"); !status.ok()) return status;
  if (!ValidName(request->name())) return Reply(reply, ERROR_INVALID_PARAMETER);
  std::shared_ptr<RegistryHive> hive;
  if (const LONG error = Hive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
  return Reply(reply, hive->DeleteValue(request->key(), request->name()));
}

grpc::ServerUnaryReactor* MachineServiceImpl::QueryInfo(CallbackContext* context, const pb::QueryInfoRequest* request,
                                                        pb::QueryInfoReply* reply) {
  return Answered(context, [&]() -> grpc::Status {
    if (auto status = Authorise(*context, "QueryInfo"); !status.ok()) return status;
    std::shared_ptr<RegistryHive> hive;
    if (const LONG error = ReadHive(&hive); error != ERROR_SUCCESS) return Reply(reply, error);
    RegKeyInfo info;
    const LONG error = hive->QueryInfo(request->key(), &info);
    if (error == ERROR_SUCCESS) {
      reply->set_sub_keys(info.subKeys);
      reply->set_max_sub_key_len(info.maxSubKeyLen);
      reply->set_values(info.values);
      reply->set_max_value_name_len(info.maxValueNameLen);
      reply->set_max_value_len(info.maxValueLen);
      reply->set_last_write_time(info.lastWriteTime);
    }
    return Reply(reply, error);
  });
}

// ---------------------------------------------------------------- drives and files

grpc::Status MachineServiceImpl::GetDrives(Context* context, const pb::GetDrivesRequest*, pb::GetDrivesReply* reply) {
  if (auto status = Authorise(*context, "GetDrives"); !status.ok()) return status;
  std::vector<DriveInfo> drives;
  const LONG error = m_machine->GetDrives(&drives);
  if (error == ERROR_SUCCESS) {
    for (const auto& drive : drives) {
      auto* out = reply->add_drives();
      out->set_letter(std::string(1, drive.letter));
      out->set_type(drive.type);
    }
  }
  return Reply(reply, error);
}

grpc::Status MachineServiceImpl::GetVolumeInfo(Context* context, const pb::PathRequest* request,
                                               pb::VolumeInfoReply* reply) {
  if (auto status = Authorise(*context, "GetVolumeInfo"); !status.ok()) return status;
  MachinePath path;
  if (const LONG error = CheckPath(request->path(), &path); error != ERROR_SUCCESS) return Reply(reply, error);
  VolumeInfo info;
  const LONG error = m_machine->GetVolumeInfo(path, &info);
  if (error == ERROR_SUCCESS) {
    reply->set_label(info.label);
    reply->set_serial_number(info.serialNumber);
    reply->set_max_component_length(info.maxComponentLength);
    reply->set_flags(info.flags);
    reply->set_file_system(info.fileSystem);
  }
  return Reply(reply, error);
}

grpc::Status MachineServiceImpl::GetDiskSpace(Context* context, const pb::PathRequest* request,
                                              pb::DiskSpaceReply* reply) {
  if (auto status = Authorise(*context, "GetDiskSpace"); !status.ok()) return status;
  MachinePath path;
  if (const LONG error = CheckPath(request->path(), &path); error != ERROR_SUCCESS) return Reply(reply, error);
  DiskSpace space;
  const LONG error = m_machine->GetDiskSpace(path, &space);
  if (error == ERROR_SUCCESS) {
    reply->set_free_bytes_to_caller(space.freeBytesToCaller);
    reply->set_total_bytes(space.totalBytes);
    reply->set_total_free_bytes(space.totalFreeBytes);
    reply->set_bytes_per_sector(space.bytesPerSector);
    reply->set_sectors_per_cluster(space.sectorsPerCluster);
  }
  return Reply(reply, error);
}

grpc::Status MachineServiceImpl::GetFileInfo(Context* context, const pb::PathRequest* request,
                                             pb::FileInfoReply* reply) {
  if (auto status = Authorise(*context, "GetFileInfo"); !status.ok()) return status;
  MachinePath path;
  if (const LONG error = CheckPath(request->path(), &path); error != ERROR_SUCCESS) return Reply(reply, error);
  FileEntry entry;
  const LONG error = m_machine->GetFileInfo(path, &entry);
  if (error == ERROR_SUCCESS) ToProto(entry, reply->mutable_entry());
  return Reply(reply, error);
}

grpc::Status MachineServiceImpl::CreateDirectory(Context* context, const pb::PathRequest* request,
                                                 pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "CreateDirectory"); !status.ok()) return status;
  MachinePath path;
  if (const LONG error = CheckPath(request->path(), &path); error != ERROR_SUCCESS) return Reply(reply, error);
  return Reply(reply, m_machine->CreateDirectory(path));
}

grpc::Status MachineServiceImpl::RemoveDirectory(Context* context, const pb::PathRequest* request,
                                                 pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "RemoveDirectory"); !status.ok()) return status;
  MachinePath path;
  if (const LONG error = CheckPath(request->path(), &path); error != ERROR_SUCCESS) return Reply(reply, error);
  return Reply(reply, m_machine->RemoveDirectory(path));
}

grpc::Status MachineServiceImpl::DeleteFile(Context* context, const pb::PathRequest* request,
                                            pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "DeleteFile"); !status.ok()) return status;
  MachinePath path;
  if (const LONG error = CheckPath(request->path(), &path); error != ERROR_SUCCESS) return Reply(reply, error);
  return Reply(reply, m_machine->DeleteFile(path));
}

}  // namespace vn
