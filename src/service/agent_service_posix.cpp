// No Windows service here: the agent is a systemd unit (resources/veltora.service).
#include "service/agent_service.h"
#include "service/messages.h"

namespace veltora {

bool AgentServiceSupported() { return false; }

AgentServiceOutcome InstallAgentService(const std::string&, bool& updated) {
  updated = false;
  return {false, service_msg::kAgentWindowsOnly};
}
AgentServiceOutcome UninstallAgentService(std::chrono::milliseconds) {
  return {false, service_msg::kAgentWindowsOnly};
}
AgentServiceOutcome StartAgentService(std::chrono::milliseconds) {
  return {false, service_msg::kAgentWindowsOnly};
}
AgentServiceOutcome StopAgentService(std::chrono::milliseconds) {
  return {false, service_msg::kAgentWindowsOnly};
}
AgentServiceStatus QueryAgentService() {
  AgentServiceStatus status;
  status.error = service_msg::kAgentWindowsOnly;
  return status;
}

}  // namespace veltora
