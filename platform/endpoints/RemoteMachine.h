#pragma once
// Another machine, reached through its machine service (proto/machine.proto):
// every MachineEndpoint call and every call of the hive ConnectRegistry
// returns becomes one call of the service, over a TLS connection on which
// both machines prove their membership of the machine's domain with their
// certificates (platform/machine/DomainIdentity.h, docs/protocol.md).
//
// The connection is made on first use and made again after a call found the
// service unreachable, so a RemoteMachine (and the hives and handles made
// from it) keeps working across a restart of the service. One thread of the
// process watches every connection, so one that the service closed (it
// stopped or died) is dropped as it happens and the first call after the
// service is back goes through.
//
// Errors, as an NT console would see them over the network:
//   the service cannot be reached (refused, no route)    ERROR_BAD_NETPATH (53)
//   a stream (file read, write, listing) broke midway     ERROR_NETNAME_DELETED (64)
//   either side could not prove itself (no identity in
//   the domain, a certificate of another domain or of
//   another machine than the one named)                 ERROR_ACCESS_DENIED (5)
//   timed out, or anything else the transport reports     ERROR_UNEXP_NET_ERR (59)
//   a name, path or value beyond the protocol's limits    ERROR_INVALID_PARAMETER (87)
// Otherwise the code is the one the machine itself returned.
//
// Streams read ahead at most 4 MiB (proto/MachineProtocol.h), so a reader or
// writer holds about that much memory whatever the size of the file.
//
// Threads: any; calls run concurrently. Readers and writers belong to the one
// thread using them and hold the connection they were opened on.
// Deadlines: 30 s for each unary call (the connection itself must be made
// within 5 s); streams have no deadline but the connection is kept alive with
// pings, so a silent dead peer is found within a minute.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/endpoints/MachineEndpoint.h"
#include "platform/ipc/Pipes.h"

namespace vornal::machine {
class ErrorReply;
class OpenSCManagerRequest;
class ServiceRequest;
class ServiceStatusReply;
class StartServiceRequest;
class ControlServiceRequest;
class CreateServiceRequest;
class ScheduleJobAddRequest;
class ScheduleJobAddReply;
class ScheduleJobDelRequest;
class ScheduleJobEnumRequest;
class ScheduleJobEnumReply;
class ScheduleJobGetInfoRequest;
class ScheduleJobGetInfoReply;
}  // namespace vornal::machine

namespace vn {

struct DomainCredentials;

// What this machine holds for a machine of `domain` (upper case; empty while
// the domain is not known): its identity in the domain, or without one, the
// certificates of the domains it trusts and no identity of its own (null: it
// trusts none). Looked up at each call so that a change to this machine's
// identities applies at once; the same object is returned while nothing
// changed.
using IdentityLookup = std::function<std::shared_ptr<const DomainCredentials>(const std::string& domain)>;

class RemoteMachine final : public MachineEndpoint {
 public:
  // `target` is "address:port" as gRPC takes it ("127.0.0.1:7201",
  // "[::1]:7139", "files.example.org:7139"). `domain` is the machine's domain
  // when known (from the hosts file); when empty it is learned from the
  // machine's GetServerInfo on the first call that needs it.
  RemoteMachine(std::string name, std::string target, std::string domain, IdentityLookup identities);
  ~RemoteMachine() override;
  RemoteMachine(const RemoteMachine&) = delete;
  RemoteMachine& operator=(const RemoteMachine&) = delete;

  const std::string& Name() const;
  const std::string& Target() const;

  [[nodiscard]] LONG GetServerInfo(ServerInfo* info) override;
  [[nodiscard]] LONG EnumServers(DWORD typeMask, const std::string& domain, std::vector<ServerInfo>* servers) override;
  [[nodiscard]] LONG GetDCName(const std::string& domain, std::string* controller) override;
  [[nodiscard]] LONG EnumShares(std::vector<ShareInfo>* shares) override;
  // The machine's HKEY_LOCAL_MACHINE; the hive holds the connection.
  [[nodiscard]] LONG ConnectRegistry(std::shared_ptr<RegistryHive>* hive) override;

  [[nodiscard]] LONG GetDrives(std::vector<DriveInfo>* drives) override;
  [[nodiscard]] LONG GetVolumeInfo(const MachinePath& root, VolumeInfo* info) override;
  [[nodiscard]] LONG GetDiskSpace(const MachinePath& path, DiskSpace* space) override;
  [[nodiscard]] LONG FindFiles(const MachinePath& pattern, std::vector<FileEntry>* entries) override;
  [[nodiscard]] LONG GetFileInfo(const MachinePath& path, FileEntry* entry) override;
  [[nodiscard]] LONG CreateDirectory(const MachinePath& path) override;
  [[nodiscard]] LONG RemoveDirectory(const MachinePath& path) override;
  [[nodiscard]] LONG DeleteFile(const MachinePath& path) override;
  // The reader streams the file: at most a few chunks are in memory at once.
  [[nodiscard]] LONG OpenRead(const MachinePath& path, std::unique_ptr<FileReader>* reader) override;
  // The writer streams to the machine; the file appears there on Commit.
  [[nodiscard]] LONG OpenWrite(const MachinePath& path, bool failIfExists,
                               std::unique_ptr<FileWriter>* writer) override;
  // The table as the machine's own calls see it; ERROR_INVALID_DATA when the
  // reply holds a malformed SID.
  [[nodiscard]] LONG GetAccounts(AccountTable* table) override;

  // A client of the machine's pipe `pipe` (NAME only), for RemotePipeConnector
  // (Pipes.h): `socket` receives the local end of the relay, `info` the
  // server's choices. Two threads relay the messages until either end closes;
  // they hold the connection, not this object. Errors are CreateFileA's, or
  // the transport's above.
  [[nodiscard]] LONG OpenPipe(const std::string& pipe, DWORD desiredAccess, int* socket, PipeInfo* info);
  // WaitNamedPipeA for the machine's pipe `pipe`.
  [[nodiscard]] LONG WaitPipe(const std::string& pipe, DWORD timeout);

  // The service control calls of proto/machine.proto (ServiceControl.h uses
  // them), signed and mapped as every other call: the result is the reply's
  // error or the transport's code from the table above.
  [[nodiscard]] LONG OpenSCManager(const vornal::machine::OpenSCManagerRequest& request,
                                   vornal::machine::ErrorReply* reply);
  [[nodiscard]] LONG OpenService(const vornal::machine::ServiceRequest& request, vornal::machine::ErrorReply* reply);
  [[nodiscard]] LONG QueryServiceStatus(const vornal::machine::ServiceRequest& request,
                                        vornal::machine::ServiceStatusReply* reply);
  [[nodiscard]] LONG StartService(const vornal::machine::StartServiceRequest& request,
                                  vornal::machine::ErrorReply* reply);
  [[nodiscard]] LONG ControlService(const vornal::machine::ControlServiceRequest& request,
                                    vornal::machine::ServiceStatusReply* reply);
  [[nodiscard]] LONG CreateService(const vornal::machine::CreateServiceRequest& request,
                                   vornal::machine::ErrorReply* reply);
  [[nodiscard]] LONG DeleteService(const vornal::machine::ServiceRequest& request, vornal::machine::ErrorReply* reply);

  // The job scheduler calls (NetSchedule.h uses them); same conventions.
  [[nodiscard]] LONG ScheduleJobAdd(const vornal::machine::ScheduleJobAddRequest& request,
                                    vornal::machine::ScheduleJobAddReply* reply);
  [[nodiscard]] LONG ScheduleJobDel(const vornal::machine::ScheduleJobDelRequest& request,
                                    vornal::machine::ErrorReply* reply);
  [[nodiscard]] LONG ScheduleJobEnum(const vornal::machine::ScheduleJobEnumRequest& request,
                                     vornal::machine::ScheduleJobEnumReply* reply);
  [[nodiscard]] LONG ScheduleJobGetInfo(const vornal::machine::ScheduleJobGetInfoRequest& request,
                                        vornal::machine::ScheduleJobGetInfoReply* reply);

  class Connection;

 private:
  std::shared_ptr<Connection> m_connection;
};

}  // namespace vn
