// A minimal Windows service for the service manager's tests: it runs until it
// is stopped and can be paused and continued. Its name is its first argument
// as the service manager passes it (the tests install it as MSSQLSERVER).
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopped = nullptr;
SERVICE_STATUS g_state{};

void Report(DWORD state) {
  g_state.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_state.dwCurrentState = state;
  g_state.dwControlsAccepted =
      state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
  g_state.dwWin32ExitCode = NO_ERROR;
  SetServiceStatus(g_status, &g_state);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      Report(SERVICE_STOP_PENDING);
      SetEvent(g_stopped);
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      Report(SERVICE_PAUSED);
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      Report(SERVICE_RUNNING);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv) {
  g_status = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
  if (g_status == nullptr) return;
  g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stopped, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
