// The console's control events as the agent's stop request.
#include <windows.h>

#include "cli/stop_signals.h"

namespace veltora {
namespace {

// Auto-reset: a request that came before WaitFor ends it at once, and the
// wait that takes it clears it, so a refused stop is not taken again.
// Made on first use, by whichever comes first: the agent's loop or the
// service manager's handler.
HANDLE StopEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return event;
}

BOOL WINAPI OnControl(DWORD event) {
  ::SetEvent(StopEvent());
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Windows ends the process when this returns: wait here for the agent to
    // finish; its end (ExitProcess) ends this thread too.
    ::Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

StopSignals::StopSignals(bool consoleEvents) : consoleEvents_(consoleEvents) {
  StopEvent();
  if (consoleEvents_) ::SetConsoleCtrlHandler(OnControl, TRUE);
}

StopSignals::~StopSignals() {
  if (consoleEvents_) ::SetConsoleCtrlHandler(OnControl, FALSE);
}

bool StopSignals::WaitFor(std::chrono::nanoseconds timeout) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
  const DWORD wait = ms <= 0 ? 0 : ms >= 0xFFFFFFFELL ? 0xFFFFFFFEUL : static_cast<DWORD>(ms);
  return ::WaitForSingleObject(StopEvent(), wait) == WAIT_OBJECT_0;
}

void StopSignals::Request() { ::SetEvent(StopEvent()); }

}  // namespace veltora
