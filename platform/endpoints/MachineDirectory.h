#pragma once
// Finds the endpoint of a machine by name: this machine's own LocalMachine for
// its own name (or an empty one), otherwise a connection to that machine's
// service, resolved through the hosts file of this machine's configuration and
// then the host's resolver (on the well-known port).
//
// Connections are kept and shared by every caller in the process; a dead
// connection is re-established on the next call. The directory also installs
// itself as the remote connector of the registry (RegConnectRegistryA) and of
// the named pipes (Pipes.h), so both reach other machines through their
// services.
//
// Errors: NERR_InvalidComputer (2351) for a name that cannot be a computer
// name, ERROR_BAD_NETPATH (53) for a machine that cannot be found or reached.

#include <memory>
#include <string>
#include <string_view>

#include "platform/endpoints/MachineEndpoint.h"

namespace vn {

class RemoteMachine;
struct DomainCredentials;


// `machine` with or without two leading backslashes; empty = this machine.
[[nodiscard]] LONG FindMachine(std::string_view machine, std::shared_ptr<MachineEndpoint>* endpoint);

// This machine's endpoint (its configuration is re-read when the machine home changes).
std::shared_ptr<MachineEndpoint> LocalMachineEndpoint();

// The machine service of `machine` (empty: this machine), for what only a
// service can answer (its services, its scheduled jobs): this machine's own
// service on the address and port of its configuration, or the connection
// FindMachine gives for another machine. Errors as FindMachine's.
[[nodiscard]] LONG FindMachineService(std::string_view machine, std::shared_ptr<RemoteMachine>* service);

// This machine's configuration, as LocalMachineEndpoint uses it.
std::shared_ptr<const MachineConfig> LocalMachineConfig();

// What this machine holds to reach a machine of `domain` (upper case; empty
// when not known): its identity there, else the certificates of the domains
// it trusts without an identity, else null. Re-read when the machine's
// identity files change (RemoteMachine.h's IdentityLookup).
std::shared_ptr<const DomainCredentials> LocalIdentity(const std::string& domain);

}  // namespace vn
