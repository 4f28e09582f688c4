// The console's control events as the agent's stop request.
#include <windows.h>

#include "cli/stop_signals.h"

namespace veltora {
namespace {

// Manual-reset: a request that came before WaitFor ends it at once.
HANDLE g_stopRequested = nullptr;

BOOL WINAPI OnControl(DWORD event) {
  ::SetEvent(g_stopRequested);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Windows ends the process when this returns: wait here for the agent to
    // finish; its end (ExitProcess) ends this thread too.
    ::Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

StopSignals::StopSignals() {
  if (g_stopRequested == nullptr) g_stopRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

StopSignals::~StopSignals() { ::SetConsoleCtrlHandler(OnControl, FALSE); }

bool StopSignals::WaitFor(std::chrono::nanoseconds timeout) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
  const DWORD wait = ms <= 0 ? 0 : ms >= 0xFFFFFFFELL ? 0xFFFFFFFEUL : static_cast<DWORD>(ms);
  return ::WaitForSingleObject(g_stopRequested, wait) == WAIT_OBJECT_0;
}

}  // namespace veltora
