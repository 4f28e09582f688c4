// The agent's service through the Windows service control manager.
#include <windows.h>

#include <thread>
#include <vector>

#include "base/wide_text.h"
#include "service/agent_service.h"
#include "service/messages.h"
#include "service/sc_handle_win.h"
#include "service/service_manager.h"

namespace veltora {
namespace {

namespace msg = service_msg;

constexpr std::chrono::milliseconds kPoll{250};

// Why the service manager refused, in words a user can act on. A denial is
// nearly always a prompt that was not elevated, so it says so.
std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return msg::kAgentNeedsElevation;
    case ERROR_SERVICE_DOES_NOT_EXIST:
      return msg::kAgentServiceMissing;
    case ERROR_SERVICE_EXISTS:
    case ERROR_DUPLICATE_SERVICE_NAME:
      return msg::kAgentServiceExists;
    case ERROR_SERVICE_MARKED_FOR_DELETE:
      return msg::kAgentServiceDeleting;
    case ERROR_SERVICE_DISABLED:
      return msg::kAgentServiceDisabled;
    case ERROR_SERVICE_DATABASE_LOCKED:
      return msg::kAgentManagerLocked;
    case ERROR_SERVICE_REQUEST_TIMEOUT:
      return msg::kAgentNoResponse;
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
      return msg::kAgentCannotAcceptControl;
    default:
      return WindowsErrorText(error);
  }
}

AgentServiceOutcome Failed(const char* what, DWORD error) { return {false, what + Reason(error)}; }

// The manager with only the rights asked for: connecting is enough to open
// the service, whose handle carries the rights of the operation.
ScHandle OpenManager(DWORD rights) { return ScHandle(::OpenSCManagerW(nullptr, nullptr, rights)); }

ScHandle OpenAgent(const ScHandle& manager, DWORD rights) {
  return ScHandle(::OpenServiceW(manager.get(), Widen(kAgentServiceName).c_str(), rights));
}

bool QueryStatus(const ScHandle& service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return ::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&status), sizeof status, &needed) != FALSE;
}

// Polls while the service is in `pending` (or, for a stop, anything but
// stopped), up to `wait`; answers the last state read, 0 when none could be.
DWORD WaitWhile(const ScHandle& service, DWORD pending, std::chrono::milliseconds wait,
                SERVICE_STATUS_PROCESS& status) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (!QueryStatus(service, status)) return 0;
    const bool waiting = pending == SERVICE_STOP_PENDING ? status.dwCurrentState != SERVICE_STOPPED
                                                         : status.dwCurrentState == pending;
    if (!waiting || std::chrono::steady_clock::now() >= deadline) return status.dwCurrentState;
    std::this_thread::sleep_for(kPoll);
  }
}

// The code a service that stopped by itself gave: its own, or the system's.
DWORD ExitCodeOf(const SERVICE_STATUS_PROCESS& status) {
  return status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                : status.dwWin32ExitCode;
}

// Everything but the command line and the start type: the description, the
// delayed start, the restarts after a failure and the time at the system's
// end. A stop with a fault code of its own counts as a failure too, so that
// an agent that ended by itself is restarted as one that crashed would be.
bool Configure(const ScHandle& service) {
  std::wstring description = Widen(kAgentServiceDescription);
  SERVICE_DESCRIPTIONW describe{description.data()};
  SERVICE_DELAYED_AUTO_START_INFO delayed{TRUE};
  const DWORD delay = static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kAgentServiceRestartDelay).count());
  SC_ACTION actions[3] = {
      {SC_ACTION_RESTART, delay}, {SC_ACTION_RESTART, delay}, {SC_ACTION_RESTART, delay}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = static_cast<DWORD>(kAgentServiceFailureReset.count());
  failure.cActions = 3;
  failure.lpsaActions = actions;
  SERVICE_FAILURE_ACTIONS_FLAG onFaultCode{TRUE};
  SERVICE_PRESHUTDOWN_INFO preshutdown{static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kAgentServicePreshutdownTimeout)
          .count())};
  const auto set = [&](DWORD level, void* info, bool optional) {
    if (::ChangeServiceConfig2W(service.get(), level, info)) return true;
    // A system that does not know the level (Wine knows neither the delayed
    // start nor the flag) still gets a working service: started at once,
    // restarted after a crash only.
    return optional && ::GetLastError() == ERROR_INVALID_LEVEL;
  };
  return set(SERVICE_CONFIG_DESCRIPTION, &describe, false) &&
         set(SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, true) &&
         set(SERVICE_CONFIG_FAILURE_ACTIONS, &failure, false) &&
         set(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onFaultCode, true) &&
         set(SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, false);
}

}  // namespace

bool AgentServiceSupported() { return true; }

AgentServiceOutcome InstallAgentService(const std::string& commandLine, bool& updated) {
  updated = false;
  const ScHandle manager = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (!manager) return Failed(msg::kAgentInstallFailed, ::GetLastError());
  const std::wstring name = Widen(kAgentServiceName);
  const std::wstring display = Widen(kAgentServiceDisplayName);
  const std::wstring command = Widen(commandLine);
  // SERVICE_START: a restart among the failure actions needs it on the handle
  // that sets them; DELETE takes back a new service that could not be set up.
  const DWORD rights = SERVICE_CHANGE_CONFIG | SERVICE_START | DELETE;
  // No account: LocalSystem, which reaches every local folder and the
  // machine's SQL Server.
  ScHandle service(::CreateServiceW(manager.get(), name.c_str(), display.c_str(), rights,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                    nullptr, nullptr, nullptr));
  if (!service) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_SERVICE_EXISTS) return Failed(msg::kAgentInstallFailed, error);
    // Installed before (an earlier setup, another folder): the same service
    // on this command line, so that installing again is how it moves.
    ScHandle existing = OpenAgent(manager, SERVICE_CHANGE_CONFIG | SERVICE_START);
    if (!existing) return Failed(msg::kAgentInstallFailed, ::GetLastError());
    if (!::ChangeServiceConfigW(existing.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                L"LocalSystem", L"", display.c_str()))
      return Failed(msg::kAgentInstallFailed, ::GetLastError());
    if (!Configure(existing)) return Failed(msg::kAgentInstallFailed, ::GetLastError());
    updated = true;
    return {true, {}};
  }
  if (!Configure(service)) {
    const DWORD error = ::GetLastError();
    ::DeleteService(service.get());
    return Failed(msg::kAgentInstallFailed, error);
  }
  return {true, {}};
}

AgentServiceOutcome UninstallAgentService(std::chrono::milliseconds wait) {
  const ScHandle manager = OpenManager(SC_MANAGER_CONNECT);
  if (!manager) return Failed(msg::kAgentUninstallFailed, ::GetLastError());
  const ScHandle service = OpenAgent(manager, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
  if (!service) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST)
      return {true, msg::kAgentNotInstalledNothingToRemove};
    return Failed(msg::kAgentUninstallFailed, error);
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD state = QueryStatus(service, status) ? status.dwCurrentState : 0;
  if (state != SERVICE_STOPPED) {
    SERVICE_STATUS ignored{};
    // Refused when it is stopping already or just starting; the wait covers both.
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
    state = WaitWhile(service, SERVICE_STOP_PENDING, wait, status);
  }
  if (!::DeleteService(service.get())) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_SERVICE_MARKED_FOR_DELETE) return Failed(msg::kAgentUninstallFailed, error);
  }
  if (state != SERVICE_STOPPED)
    return {false, msg::kAgentMarkedForDeletion + ServiceStateText(state)};
  return {true, msg::kAgentUninstalled};
}

AgentServiceOutcome StartAgentService(std::chrono::milliseconds wait) {
  const ScHandle manager = OpenManager(SC_MANAGER_CONNECT);
  if (!manager) return Failed(msg::kAgentStartFailed, ::GetLastError());
  const ScHandle service = OpenAgent(manager, SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service) return Failed(msg::kAgentStartFailed, ::GetLastError());
  if (!::StartServiceW(service.get(), 0, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SERVICE_ALREADY_RUNNING) return {true, msg::kAgentAlreadyRunning};
    return Failed(msg::kAgentStartFailed, error);
  }
  SERVICE_STATUS_PROCESS status{};
  const DWORD state = WaitWhile(service, SERVICE_START_PENDING, wait, status);
  if (state == SERVICE_RUNNING) return {true, msg::kAgentStarted + ServiceStateText(state)};
  if (state == SERVICE_STOPPED)
    return {false, msg::kAgentEndedAfterStart + std::to_string(ExitCodeOf(status))};
  if (state == 0) return Failed(msg::kAgentStartFailed, ::GetLastError());
  return {false, msg::kAgentStartTimedOut + ServiceStateText(state)};
}

AgentServiceOutcome StopAgentService(std::chrono::milliseconds wait) {
  const ScHandle manager = OpenManager(SC_MANAGER_CONNECT);
  if (!manager) return Failed(msg::kAgentStopFailed, ::GetLastError());
  const ScHandle service = OpenAgent(manager, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) return Failed(msg::kAgentStopFailed, ::GetLastError());
  SERVICE_STATUS ignored{};
  if (!::ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SERVICE_NOT_ACTIVE) return {true, msg::kAgentNotRunning};
    // A stop already under way (a backup holds it) is waited for as ours.
    if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) return Failed(msg::kAgentStopFailed, error);
  }
  SERVICE_STATUS_PROCESS status{};
  const DWORD state = WaitWhile(service, SERVICE_STOP_PENDING, wait, status);
  if (state == SERVICE_STOPPED) return {true, msg::kAgentStopped};
  if (state == 0) return Failed(msg::kAgentStopFailed, ::GetLastError());
  return {false, msg::kAgentStopTimedOut + ServiceStateText(state)};
}

AgentServiceStatus QueryAgentService() {
  AgentServiceStatus result;
  const ScHandle manager = OpenManager(SC_MANAGER_CONNECT);
  if (!manager) {
    result.error = msg::kAgentQueryFailed + Reason(::GetLastError());
    return result;
  }
  const ScHandle service = OpenAgent(manager, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
  if (!service) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_SERVICE_DOES_NOT_EXIST)
      result.error = msg::kAgentQueryFailed + Reason(error);
    return result;
  }
  result.installed = true;
  SERVICE_STATUS_PROCESS status{};
  if (!QueryStatus(service, status)) {
    result.error = msg::kAgentQueryFailed + Reason(::GetLastError());
    return result;
  }
  result.state = status.dwCurrentState;
  result.exitCode = ExitCodeOf(status);
  DWORD needed = 0;
  ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (needed > 0 && ::QueryServiceConfigW(service.get(), config, needed, &needed) &&
      config->lpBinaryPathName != nullptr)
    result.appFolder = AppFolderOfServiceCommand(Narrow(config->lpBinaryPathName)).value_or("");
  return result;
}

}  // namespace veltora
