// The Windows service control manager.
#include <windows.h>

#include <exception>
#include <vector>

#include "base/wide_text.h"
#include "service/messages.h"
#include "service/service_manager.h"

namespace veltora {
namespace {

namespace msg = service_msg;

// A service control manager handle, closed however the call ends.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) ::CloseServiceHandle(handle_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

// The first enumeration buffer; a larger one is asked for while the manager
// reports more data, and the listing goes on from where it stopped.
constexpr DWORD kFirstEnumerationBuffer = 1024;

const char* StateText(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return msg::kStopped;
    case SERVICE_START_PENDING:
      return msg::kStartPending;
    case SERVICE_STOP_PENDING:
      return msg::kStopPending;
    case SERVICE_RUNNING:
      return msg::kRunning;
    case SERVICE_CONTINUE_PENDING:
      return msg::kContinuePending;
    case SERVICE_PAUSE_PENDING:
      return msg::kPausePending;
    case SERVICE_PAUSED:
      return msg::kPaused;
    default:
      return msg::kUnknownState;
  }
}

class WindowsServiceManager final : public ServiceManager {
 public:
  // A fresh manager handle for every call, as the manager may have been
  // restarted between two calls of a long-running agent.
  std::string GetServiceInfoText(const std::string& serviceName) override {
    try {
      if (serviceName.empty()) return msg::kError;
      const ScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
      if (!manager) return msg::kError;
      const ScHandle service(
          ::OpenServiceW(manager.get(), Widen(serviceName).c_str(), SERVICE_QUERY_STATUS));
      if (!service) return msg::kError;
      SERVICE_STATUS status{};
      // A failed query leaves the record unset: it says nothing of the state.
      if (!::QueryServiceStatus(service.get(), &status)) return msg::kError;
      return StateText(status.dwCurrentState);
    } catch (const std::exception&) {
      return msg::kError;
    }
  }

  bool ControlServiceByName(const std::string& serviceName, ServiceAction action) override {
    try {
      if (serviceName.empty()) return false;
      const ScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
      if (!manager) return false;
      const ScHandle service(::OpenServiceW(
          manager.get(), Widen(serviceName).c_str(),
          SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS));
      if (!service) return false;
      SERVICE_STATUS status{};
      switch (action) {
        case ServiceAction::Start:
          return ::StartServiceW(service.get(), 0, nullptr) != FALSE;
        case ServiceAction::Stop:
          return ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status) != FALSE;
        case ServiceAction::Pause:
          return ::ControlService(service.get(), SERVICE_CONTROL_PAUSE, &status) != FALSE;
        case ServiceAction::Continue:
          return ::ControlService(service.get(), SERVICE_CONTROL_CONTINUE, &status) != FALSE;
      }
      return false;
    } catch (const std::exception&) {
      return false;
    }
  }

  std::optional<std::vector<ServiceEntry>> EnumerateServices() override {
    try {
      const ScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
      if (!manager) return std::nullopt;
      std::vector<ServiceEntry> services;
      std::vector<BYTE> buffer(kFirstEnumerationBuffer);
      DWORD resume = 0;
      for (;;) {
        DWORD needed = 0;
        DWORD returned = 0;
        const BOOL done = ::EnumServicesStatusExW(
            manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_STATE_ALL,
            buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned, &resume, nullptr);
        const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
        if (!done && error != ERROR_MORE_DATA) return std::nullopt;
        const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
        for (DWORD i = 0; i < returned; ++i)
          services.push_back({Narrow(entries[i].lpServiceName),
                              entries[i].lpDisplayName != nullptr ? Narrow(entries[i].lpDisplayName)
                                                                  : std::string()});
        if (done) return services;
        // More follows: from the resume position, with room for at least the
        // next entry the manager asked for.
        if (needed > buffer.size()) buffer.resize(needed);
        if (returned == 0 && needed == 0) return std::nullopt;  // no progress
      }
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
};

}  // namespace

std::unique_ptr<ServiceManager> MakeSystemServiceManager(SystemServiceManagerOptions) {
  return std::make_unique<WindowsServiceManager>();
}

}  // namespace veltora
