// `serve --service`: the agent under the Windows service control manager. The
// dispatcher holds the main thread; the agent's loop runs in the service's
// own thread, and the manager's stop, shutdown and pre-shutdown feed its stop
// as a console's Ctrl-C does. While a stop waits for a running backup the
// loop reports the stop as pending every second, so that the manager (also
// at the system's end, within the pre-shutdown time) waits for the run.
#include <windows.h>

#include <mutex>
#include <ostream>
#include <streambuf>

#include "app/process_state.h"
#include "app/run_log.h"
#include "base/clock.h"
#include "base/wide_text.h"
#include "cli/cli.h"
#include "cli/messages.h"
#include "cli/stop_signals.h"
#include "service/agent_service.h"

namespace veltora {
namespace {

// How long the manager is told to wait for the next report: start-up reads
// the settings once; a pending stop reports every second.
constexpr DWORD kStartWaitHint = 30000;
constexpr DWORD kStopWaitHint = 5000;

// A service has no standard error: each line written to it becomes a line of
// the run log, where the user looks for why the agent did not start.
class RunLogBuffer final : public std::streambuf {
 public:
  explicit RunLogBuffer(std::string path) : path_(std::move(path)) {}
  ~RunLogBuffer() override {
    if (!line_.empty()) AppendRunLog(path_, line_, false, true, clock_);
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    std::lock_guard lock(mutex_);
    if (ch == '\n') {
      AppendRunLog(path_, line_, false, true, clock_);
      line_.clear();
    } else {
      line_ += ch;
    }
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    for (std::streamsize i = 0; i < count; ++i) overflow(traits_type::to_int_type(text[i]));
    return count;
  }

 private:
  const std::string path_;
  const SystemClock clock_;
  std::mutex mutex_;
  std::string line_;
};

struct Host {
  std::string appFolder;
  const CliContext* context = nullptr;
  int exitCode = kExitFault;
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::mutex mutex;
  DWORD checkPoint = 0;
};
Host g_host;

// One report to the manager. A pending state carries a checkpoint that rises
// with each report; the settled ones accept the controls (running) or carry
// the agent's exit code (stopped), a fault one as the service's own code, so
// that the recovery actions restart it.
void Report(DWORD state, DWORD waitHint = 0, int exitCode = kExitOk) {
  std::lock_guard lock(g_host.mutex);
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING
          ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN
          : 0;
  status.dwCheckPoint = pending ? ++g_host.checkPoint : 0;
  status.dwWaitHint = pending ? waitHint : 0;
  if (exitCode != kExitOk) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  }
  ::SetServiceStatus(g_host.handle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      Report(SERVICE_STOP_PENDING, kStopWaitHint);
      StopSignals::Request();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  const std::string runLogPath = RunLogPathFor(g_host.appFolder);
  g_host.handle =
      ::RegisterServiceCtrlHandlerExW(Widen(kAgentServiceName).c_str(), OnControl, nullptr);
  if (g_host.handle == nullptr) {
    AppendRunLog(runLogPath,
                 std::string("veltora-cli serve --service: ") + WindowsErrorText(::GetLastError()),
                 false, true, SystemClock());
    return;
  }
  Report(SERVICE_START_PENDING, kStartWaitHint);
  int code = kExitFault;
  {
    RunLogBuffer buffer(runLogPath);
    std::ostream log(&buffer);
    try {
      code = RunServeCommand(g_host.appFolder, *g_host.context, log,
                             {.running = [] { Report(SERVICE_RUNNING); },
                              .stopping = [] { Report(SERVICE_STOP_PENDING, kStopWaitHint); },
                              .asService = true});
    } catch (const std::exception& e) {
      log << "veltora-cli serve: " << e.what() << "\n";
    }
  }
  g_host.exitCode = code;
  Report(SERVICE_STOPPED, 0, code);
}

}  // namespace

int RunServeAsService(const std::string& appFolder, const CliContext& context, std::ostream& err) {
  g_host.appFolder = appFolder;
  g_host.context = &context;
  std::wstring name = Widen(kAgentServiceName);
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherW(table)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      err << "veltora-cli: " << cli_msg::kServeServiceByHand << "\n";
      return kExitUsage;
    }
    err << "veltora-cli serve --service: " << WindowsErrorText(error) << "\n";
    return kExitFault;
  }
  return g_host.exitCode;
}

}  // namespace veltora
