// The account call of MachineServiceImpl: the machine's whole account table,
// built by its endpoint as this machine's own account calls see it.

#include "machined/MachineServiceImpl.h"
#include "platform/machine/AccountTable.h"

namespace vn {

namespace pb = vornal::machine;

namespace {

void Fill(const Account& account, pb::Account* out) {
  out->set_name(account.name);
  out->set_domain(account.domain);
  out->set_use(static_cast<std::uint32_t>(account.use));
  out->set_sid(account.sid.data(), account.sid.size());
  out->set_rid(account.rid);
  out->set_full_name(account.fullName);
  out->set_comment(account.comment);
  out->set_flags(account.flags);
}

void Fill(const std::vector<Account>& accounts, google::protobuf::RepeatedPtrField<pb::Account>* out) {
  out->Reserve(static_cast<int>(accounts.size()));
  for (const Account& account : accounts) Fill(account, out->Add());
}

}  // namespace

grpc::Status MachineServiceImpl::GetAccounts(Context* context, const pb::GetAccountsRequest*,
                                             pb::GetAccountsReply* reply) {
  if (auto status = Authorise(*context, "GetAccounts"); !status.ok()) return status;
  AccountTable table;
  if (const LONG error = m_machine->GetAccounts(&table); error != ERROR_SUCCESS) {
    reply->set_error(static_cast<std::uint32_t>(error));
    return grpc::Status::OK;
  }
  reply->set_domain(table.domain);
  reply->set_machine(table.machine);
  reply->set_domain_sid(table.domainSid.data(), table.domainSid.size());
  reply->set_machine_sid(table.machineSid.data(), table.machineSid.size());
  Fill(table.users, reply->mutable_users());
  Fill(table.groups, reply->mutable_groups());
  Fill(table.localGroups, reply->mutable_local_groups());
  Fill(table.wellKnown, reply->mutable_well_known());
  Fill(table.domains, reply->mutable_domains());
  return grpc::Status::OK;
}

}  // namespace vn
