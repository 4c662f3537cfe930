// The service control calls of MachineServiceImpl: authenticated as every
// other call, the names checked against the protocol's limits, then handed
// to the machine's ServiceManager.

#include "machined/MachineServiceImpl.h"

#include <string>
#include <vector>

#include "machined/ServiceManager.h"
#include "proto/MachineProtocol.h"

namespace vn {

namespace pb = vornal::machine;

namespace {

bool ValidText(const std::string& text) {
  return text.size() <= kMaxNameBytes && text.find('\0') == std::string::npos;
}

grpc::Status Reply(pb::ErrorReply* reply, LONG error) {
  reply->set_error(static_cast<std::uint32_t>(error));
  return grpc::Status::OK;
}

grpc::Status Reply(pb::ServiceStatusReply* reply, LONG error, const SERVICE_STATUS& status) {
  reply->set_error(static_cast<std::uint32_t>(error));
  if (error == ERROR_SUCCESS) {
    auto* out = reply->mutable_status();
    out->set_service_type(status.dwServiceType);
    out->set_current_state(status.dwCurrentState);
    out->set_controls_accepted(status.dwControlsAccepted);
    out->set_win32_exit_code(status.dwWin32ExitCode);
    out->set_service_specific_exit_code(status.dwServiceSpecificExitCode);
    out->set_check_point(status.dwCheckPoint);
    out->set_wait_hint(status.dwWaitHint);
  }
  return grpc::Status::OK;
}

}  // namespace

grpc::Status MachineServiceImpl::OpenSCManager(Context* context, const pb::OpenSCManagerRequest*,
                                               pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "OpenSCManager"); !status.ok()) return status;
  return Reply(reply, m_services ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED);
}

grpc::Status MachineServiceImpl::OpenService(Context* context, const pb::ServiceRequest* request,
                                             pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "OpenService"); !status.ok()) return status;
  if (!m_services) return Reply(reply, ERROR_NOT_SUPPORTED);
  if (!ValidText(request->name())) return Reply(reply, ERROR_INVALID_PARAMETER);
  return Reply(reply, m_services->Open(request->name()));
}

grpc::Status MachineServiceImpl::QueryServiceStatus(Context* context, const pb::ServiceRequest* request,
                                                    pb::ServiceStatusReply* reply) {
  if (auto status = Authorise(*context, "QueryServiceStatus"); !status.ok()) return status;
  SERVICE_STATUS status{};
  if (!m_services) return Reply(reply, ERROR_NOT_SUPPORTED, status);
  if (!ValidText(request->name())) return Reply(reply, ERROR_INVALID_PARAMETER, status);
  const LONG error = m_services->Query(request->name(), &status);
  return Reply(reply, error, status);
}

grpc::Status MachineServiceImpl::StartService(Context* context, const pb::StartServiceRequest* request,
                                              pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "StartService"); !status.ok()) return status;
  if (!m_services) return Reply(reply, ERROR_NOT_SUPPORTED);
  if (!ValidText(request->name())) return Reply(reply, ERROR_INVALID_PARAMETER);
  std::vector<std::string> arguments;
  for (const auto& argument : request->arguments()) {
    if (!ValidText(argument)) return Reply(reply, ERROR_INVALID_PARAMETER);
    arguments.push_back(argument);
  }
  return Reply(reply, m_services->StartService(request->name(), arguments));
}

grpc::Status MachineServiceImpl::ControlService(Context* context, const pb::ControlServiceRequest* request,
                                                pb::ServiceStatusReply* reply) {
  if (auto status = Authorise(*context, "ControlService"); !status.ok()) return status;
  SERVICE_STATUS status{};
  if (!m_services) return Reply(reply, ERROR_NOT_SUPPORTED, status);
  if (!ValidText(request->name())) return Reply(reply, ERROR_INVALID_PARAMETER, status);
  const LONG error = m_services->Control(request->name(), request->control(), &status);
  return Reply(reply, error, status);
}

grpc::Status MachineServiceImpl::CreateService(Context* context, const pb::CreateServiceRequest* request,
                                               pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "CreateService"); !status.ok()) return status;
  if (!m_services) return Reply(reply, ERROR_NOT_SUPPORTED);
  ServiceDefinition definition;
  definition.name = request->name();
  definition.displayName = request->display_name();
  definition.type = request->service_type();
  definition.start = request->start_type();
  definition.errorControl = request->error_control();
  definition.imagePath = request->binary_path();
  definition.loadOrderGroup = request->load_order_group();
  definition.objectName = request->service_start_name();
  for (const auto& dependency : request->dependencies()) definition.dependencies.push_back(dependency);
  bool valid = ValidText(definition.name) && ValidText(definition.displayName) && ValidText(definition.imagePath) &&
               ValidText(definition.loadOrderGroup) && ValidText(definition.objectName);
  for (const auto& dependency : definition.dependencies) valid = valid && ValidText(dependency);
  if (!valid) return Reply(reply, ERROR_INVALID_PARAMETER);
  return Reply(reply, m_services->Create(definition));
}

grpc::Status MachineServiceImpl::DeleteService(Context* context, const pb::ServiceRequest* request,
                                               pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "DeleteService"); !status.ok()) return status;
  if (!m_services) return Reply(reply, ERROR_NOT_SUPPORTED);
  if (!ValidText(request->name())) return Reply(reply, ERROR_INVALID_PARAMETER);
  return Reply(reply, m_services->Delete(request->name()));
}

}  // namespace vn
