// `veltora-cli service`: the agent's Windows service on the application
// folder, as the installer and a user drive it.
#include <filesystem>
#include <ostream>

#include "base/fs_path.h"
#include "base/path.h"
#include "cli/cli.h"
#include "cli/messages.h"
#include "service/agent_service.h"
#include "service/messages.h"
#include "service/service_manager.h"
#include "settings/settings_database.h"

namespace veltora {
namespace {

// Long enough for a slow start-up (a settings database on a busy disk); a
// stop waits for a backup only this long before it says the stop is still
// under way.
constexpr std::chrono::seconds kStartWait{30};
constexpr std::chrono::seconds kStopWait{60};

constexpr int kExitServiceNotRunning = 3;

// The service starts in the system's folder: it gets the application folder
// as a full path.
std::string FullPath(const std::string& folder) {
  std::error_code ec;
  const auto full = std::filesystem::absolute(PathFromUtf8(folder), ec);
  return ec ? folder : Utf8FromPath(full);
}

}  // namespace

int RunServiceCommand(const std::string& appFolder, const CliContext& context,
                      const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) return UsageError(err, cli_msg::kServiceOptions);
  const std::string& action = args[0];
  if (action != "install" && action != "uninstall" && action != "start" && action != "stop" &&
      action != "status")
    return UsageError(err, cli_msg::kServiceOptions);
  const std::string prefix = "veltora-cli service " + action + ": ";
  if (!AgentServiceSupported()) {
    err << prefix << service_msg::kAgentWindowsOnly << "\n";
    return kExitUsage;
  }

  if (action == "status") {
    const AgentServiceStatus status = QueryAgentService();
    if (!status.error.empty()) {
      err << prefix << status.error << "\n";
      return kExitFault;
    }
    out << kAgentServiceDisplayName << "：";
    if (!status.installed) {
      out << service_msg::kAgentNotInstalled << "\n";
      return kExitServiceNotRunning;
    }
    out << ServiceStateText(status.state) << cli_msg::kServiceStatusFolder << status.appFolder
        << "\n";
    return status.state == kServiceStateRunning ? kExitOk : kExitServiceNotRunning;
  }

  AgentServiceOutcome outcome;
  if (action == "install") {
    const std::string folder = FullPath(appFolder);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(PathFromUtf8(ResolveSettingsDatabasePath(folder)), ec)) {
      err << prefix << cli_msg::kServiceNeedsSettings << folder << "\n";
      return kExitFault;
    }
    bool updated = false;
    outcome = InstallAgentService(
        AgentServiceCommandLine(JoinPath(context.executableFolder, kAgentServiceExecutable),
                                folder),
        updated);
    if (outcome.ok)
      outcome.text = (updated ? service_msg::kAgentUpdated : service_msg::kAgentInstalled) + folder;
  } else if (action == "uninstall") {
    outcome = UninstallAgentService(kStopWait);
  } else if (action == "start") {
    outcome = StartAgentService(kStartWait);
  } else {
    outcome = StopAgentService(kStopWait);
  }
  if (!outcome.ok) {
    err << prefix << outcome.text << "\n";
    return kExitFault;
  }
  out << outcome.text << "\n";
  return kExitOk;
}

}  // namespace veltora
