// The service manager over systemctl. Each operation runs systemctl once or
// twice (posix_spawn, an argument vector, no shell) and reads what it prints;
// a service name becomes a unit name through the configured table, so the
// agent can keep speaking of "MSSQLSERVER" while systemd knows mssql-server.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <sstream>
#include <unordered_map>

#include "base/path.h"
#include "base/posix_handles.h"
#include "base/process.h"
#include "base/text.h"
#include "service/messages.h"
#include "service/service_manager.h"

extern char** environ;

namespace veltora {
namespace {

constexpr char kTool[] = "systemctl";
// The service manager's numbers the texts are read from.
constexpr std::uint32_t kOwnProcessType = 0x10;
constexpr std::uint32_t kAcceptsStop = 0x1;
constexpr std::uint32_t kAcceptsPauseContinue = 0x2;
constexpr char kUnitSuffix[] = ".service";
// More than any real unit list; a tool that prints without end is cut off.
constexpr std::size_t kMaxOutput = 64u << 20;

struct ToolResult {
  bool exited = false;  // ran to its end by itself
  int exitCode = -1;
  std::string output;  // its standard output
};

int Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) != pid) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `program` with `args`, standard input and error on /dev/null, and
// collects its standard output until it closes it. A run that outlasts
// `timeout` is killed and counts as failed.
ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   std::chrono::milliseconds timeout) {
  ToolResult result;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return result;
  const ScopedFd readEnd(fds[0]);
  ScopedFd writeEnd(fds[1]);

  SpawnFileActions actions;
  if (!actions.ok() ||
      ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
      ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), 1) != 0 ||
      ::posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0) != 0)
    return result;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // No descriptor of the agent (settings database, run log, sockets) reaches
  // the tool.
  if (::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3) != 0) return result;
#endif
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (auto& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, pointers.data(), environ) != 0)
    return result;
  // Only the child holds the write end now, so its exit ends the reading.
  writeEnd.Reset();

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool complete = false;
  char buffer[16384];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{readEnd.get(), POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) continue;
    const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) {
      complete = true;
      break;
    }
    result.output.append(buffer, static_cast<std::size_t>(n));
    if (result.output.size() > kMaxOutput) break;
  }
  // A tool that hangs or floods is not waited for; it is always reaped.
  if (!complete) ::kill(pid, SIGKILL);
  const int code = Reap(pid);
  result.exited = complete && code >= 0;
  result.exitCode = code;
  return result;
}

std::string WithUnitSuffix(const std::string& name) {
  return EndsWith(name, kUnitSuffix) ? name : name + kUnitSuffix;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// "Key=Value" lines of `systemctl show`.
std::unordered_map<std::string, std::string> Properties(const std::string& output) {
  std::unordered_map<std::string, std::string> properties;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) properties[line.substr(0, eq)] = Trim(line.substr(eq + 1));
  }
  return properties;
}

std::string StateText(const std::string& activeState, const std::string& freezerState) {
  // A frozen unit is still "active"; the freezer decides first.
  if (freezerState == "frozen") return service_msg::kPaused;
  if (freezerState == "freezing") return service_msg::kPausePending;
  if (freezerState == "thawing") return service_msg::kContinuePending;
  if (activeState == "active" || activeState == "reloading" || activeState == "refreshing")
    return service_msg::kRunning;
  if (activeState == "activating") return service_msg::kStartPending;
  if (activeState == "deactivating") return service_msg::kStopPending;
  if (activeState == "inactive" || activeState == "failed") return service_msg::kStopped;
  return service_msg::kUnknownState;
}

class SystemctlServiceManager final : public ServiceManager {
 public:
  explicit SystemctlServiceManager(SystemServiceManagerOptions options)
      : options_(std::move(options)) {
    for (const auto& [service, unit] : options_.unitNames) {
      unitForService_[UpperAscii(service)] = WithUnitSuffix(unit);
      serviceForUnit_[WithUnitSuffix(unit)] = UpperAscii(service);
    }
  }

  std::string GetServiceInfoText(const std::string& serviceName,
                                 ServiceInfo info = ServiceInfo::State) override {
    if (serviceName.empty()) return service_msg::kError;
    const char* properties = info == ServiceInfo::State
                                 ? "--property=LoadState,ActiveState,FreezerState"
                                 : "--property=LoadState,ActiveState,CanStop,CanFreeze";
    const auto result = Run({"show", properties, "--", UnitFor(serviceName)});
    if (!result.exited || result.exitCode != 0) return service_msg::kError;
    const auto values = Properties(result.output);
    const auto value = [&values](const char* name) {
      const auto found = values.find(name);
      return found == values.end() ? std::string() : found->second;
    };
    const std::string load = value("LoadState");
    if (load.empty() || load == "not-found") return service_msg::kError;
    switch (info) {
      case ServiceInfo::State:
        return StateText(value("ActiveState"), value("FreezerState"));
      case ServiceInfo::Type:
        // Every systemd service runs in processes of its own.
        return ServiceTypeText(kOwnProcessType);
      case ServiceInfo::ControlsAccepted: {
        // As on Windows, a service that does not run accepts no control.
        std::uint32_t controls = 0;
        if (value("ActiveState") == "active") {
          if (value("CanStop") == "yes") controls |= kAcceptsStop;
          if (value("CanFreeze") == "yes") controls |= kAcceptsPauseContinue;
        }
        return ServiceControlsText(controls);
      }
    }
    return service_msg::kError;
  }

  bool ControlServiceByName(const std::string& serviceName, ServiceAction action,
                            std::string* reason = nullptr) override {
    if (reason != nullptr) *reason = service_msg::kReasonUnknown;
    if (serviceName.empty()) return false;
    const char* verb = nullptr;
    switch (action) {
      case ServiceAction::Start:
        verb = "start";
        break;
      case ServiceAction::Stop:
        verb = "stop";
        break;
      case ServiceAction::Pause:
        verb = "freeze";
        break;
      case ServiceAction::Continue:
        verb = "thaw";
        break;
      case ServiceAction::Interrogate: {
        // A running service answers; one that does not run cannot.
        const auto result = Run({"is-active", "--quiet", "--", UnitFor(serviceName)});
        return result.exited && result.exitCode == 0;
      }
      case ServiceAction::Shutdown:
        // The system's own notice at its end; no program sends it.
        return false;
    }
    if (verb == nullptr) return false;
    // --no-block: the request is queued and the call returns; nobody waits
    // here for the service to get there.
    const auto result = Run({"--no-block", verb, "--", UnitFor(serviceName)});
    if (result.exited && result.exitCode == 0) return true;
    // systemctl's words go nowhere; its status tells a refused request (4,
    // no permission) from the others.
    if (reason != nullptr && result.exited)
      *reason = result.exitCode == 4
                    ? std::string(service_msg::kAccessDenied)
                    : service_msg::kToolExitStatus + std::to_string(result.exitCode);
    return false;
  }

  std::optional<std::vector<ServiceEntry>> EnumerateServices() override {
    // The unit files are every installed service, loaded or not; the loaded
    // units add their descriptions and the services that have no file of
    // their own (instances, transient units). Both lists are read to their
    // end, however long.
    const auto files = Run({"list-unit-files", "--type=service", "--no-legend", "--no-pager"});
    const auto loaded = Run({"list-units", "--type=service", "--all", "--plain", "--full",
                             "--no-legend", "--no-pager"});
    if (!files.exited || files.exitCode != 0 || !loaded.exited || loaded.exitCode != 0)
      return std::nullopt;

    std::vector<std::string> units;
    std::set<std::string> seen;
    std::unordered_map<std::string, std::string> descriptions;
    const auto add = [&](const std::string& unit) {
      // A template (name@.service) is no service that could run.
      if (!EndsWith(unit, kUnitSuffix) || EndsWith(unit, std::string("@") + kUnitSuffix)) return;
      if (seen.insert(unit).second) units.push_back(unit);
    };
    std::istringstream fileLines(files.output);
    for (std::string line; std::getline(fileLines, line);) {
      const auto words = Words(line);
      if (!words.empty()) add(words[0]);
    }
    std::istringstream loadedLines(loaded.output);
    for (std::string line; std::getline(loadedLines, line);) {
      // UNIT LOAD ACTIVE SUB DESCRIPTION...
      const auto words = Words(line);
      if (words.size() < 4 || words[1] == "not-found") continue;
      add(words[0]);
      std::string description;
      for (std::size_t i = 4; i < words.size(); ++i) {
        if (!description.empty()) description += ' ';
        description += words[i];
      }
      descriptions[words[0]] = description;
    }

    std::vector<ServiceEntry> services;
    services.reserve(units.size());
    for (const auto& unit : units) {
      const auto description = descriptions.find(unit);
      const std::string name = ServiceFor(unit);
      services.push_back({name, description == descriptions.end() ? name : description->second});
    }
    return services;
  }

 private:
  ToolResult Run(const std::vector<std::string>& args) const {
    const std::string tool = FindProgramOnPath(kTool, options_.searchPath);
    if (tool.empty()) return {};
    return RunTool(tool, args, options_.commandTimeout);
  }

  std::string UnitFor(const std::string& serviceName) const {
    // Service names are case-blind, as on the system they come from.
    const auto mapped = unitForService_.find(UpperAscii(serviceName));
    return mapped != unitForService_.end() ? mapped->second : WithUnitSuffix(serviceName);
  }

  // The service name under which a unit is listed: the one the table gives
  // it, else the unit name without its suffix.
  std::string ServiceFor(const std::string& unit) const {
    const auto mapped = serviceForUnit_.find(unit);
    if (mapped != serviceForUnit_.end()) return mapped->second;
    return unit.substr(0, unit.size() - (sizeof kUnitSuffix - 1));
  }

  const SystemServiceManagerOptions options_;
  std::unordered_map<std::string, std::string> unitForService_;  // keys in ASCII capitals
  std::unordered_map<std::string, std::string> serviceForUnit_;
};

}  // namespace

std::unique_ptr<ServiceManager> MakeSystemServiceManager(SystemServiceManagerOptions options) {
  return std::make_unique<SystemctlServiceManager>(std::move(options));
}

}  // namespace veltora
