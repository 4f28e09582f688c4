// The agent as a Windows service: the names the service control manager,
// the installer and the tray program know it by, its command line, and the
// operations `veltora-cli service` carries out on it. Each operation opens the
// service manager and the service with only the rights it uses, and answers
// its outcome as a text in the user's words; none throws.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace veltora {

inline constexpr char kAgentServiceName[] = "VeltoraBackup";
inline constexpr char kAgentServiceDisplayName[] = "青岚账套自动备份服务";
inline constexpr char kAgentServiceDescription[] =
    "按设定的时间备份勾选的账套，无人登录时也能自动备份。";

// What the service control manager starts: the command line's agent on one
// application folder, told that it runs as the service.
inline constexpr char kAgentServiceExecutable[] = "veltora-cli.exe";
inline constexpr char kServeServiceOption[] = "--service";

// How the service is set up: restarted a minute after a failure (twice, then
// on each further one; the count starts again after a day without one), and
// given this long at the system's end to finish a running backup.
inline constexpr std::chrono::seconds kAgentServiceRestartDelay{60};
inline constexpr std::chrono::seconds kAgentServiceFailureReset{24 * 60 * 60};
inline constexpr std::chrono::minutes kAgentServicePreshutdownTimeout{10};

// `"<executable>" --app-dir "<folder>" serve --service`, each path quoted so
// that the service manager and the program's own argument parsing read it
// back whole: backslashes that would come before the closing quote (a folder
// "C:\") are doubled, as the C runtime's rules want.
std::string AgentServiceCommandLine(const std::string& executablePath,
                                    const std::string& appFolder);

// The application folder a service command line names after --app-dir;
// nullopt when it names none. Reads the C runtime's quoting rules, so it
// takes back what AgentServiceCommandLine wrote and a hand-edited line.
std::optional<std::string> AppFolderOfServiceCommand(const std::string& commandLine);

// One operation's outcome: `ok`, and a text that says what was done, or why it
// was not (an access denial says that administrator rights are needed).
struct AgentServiceOutcome {
  bool ok = false;
  std::string text;
};

// What the service manager says of the service: whether it is installed, its
// state (SERVICE_RUNNING = 4, ...), the application folder its command line
// names, and the exit code of its last stop. `error` says why nothing could be
// read (the other fields then mean nothing).
struct AgentServiceStatus {
  bool installed = false;
  std::uint32_t state = 0;
  std::string appFolder;
  std::uint32_t exitCode = 0;  // the service's own code when it stopped on a fault
  std::string error;
};

inline constexpr std::uint32_t kServiceStateStopped = 1;
inline constexpr std::uint32_t kServiceStateRunning = 4;

// Whether this platform has the service (Windows only); elsewhere every
// operation below answers that it has not.
bool AgentServiceSupported();

// Registers the service (automatic delayed start, LocalSystem, description,
// restart on failure, pre-shutdown time) on `commandLine`. An installed one is
// brought to the same settings and command line instead, which takes effect at
// its next start.
AgentServiceOutcome InstallAgentService(const std::string& commandLine, bool& updated);
// Stops a running service (waiting up to `wait`), then deletes it. A service
// that is not installed is no failure.
AgentServiceOutcome UninstallAgentService(std::chrono::milliseconds wait);
// Start and stop, each waiting up to `wait` for the service to get there.
AgentServiceOutcome StartAgentService(std::chrono::milliseconds wait);
AgentServiceOutcome StopAgentService(std::chrono::milliseconds wait);
AgentServiceStatus QueryAgentService();

}  // namespace veltora
