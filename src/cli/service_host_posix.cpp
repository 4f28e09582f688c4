#include <ostream>

#include "cli/cli.h"
#include "service/messages.h"

namespace veltora {

// The agent under systemd is `serve` itself; there is no service host here.
int RunServeAsService(const std::string&, const CliContext&, std::ostream& err) {
  err << "veltora-cli serve --service: " << service_msg::kAgentWindowsOnly << "\n";
  return kExitUsage;
}

}  // namespace veltora
