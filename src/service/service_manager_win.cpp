// The Windows service control manager.
#include <windows.h>

#include <exception>
#include <vector>

#include "base/wide_text.h"
#include "service/messages.h"
#include "service/sc_handle_win.h"
#include "service/service_manager.h"

namespace veltora {
namespace {

namespace msg = service_msg;

// The first enumeration buffer; a larger one is asked for while the manager
// reports more data, and the listing goes on from where it stopped.
constexpr DWORD kFirstEnumerationBuffer = 1024;

static_assert(SC_MANAGER_ALL_ACCESS == 0xF003F && SC_MANAGER_CONNECT == 0x1 &&
              SC_MANAGER_CREATE_SERVICE == 0x2 && SC_MANAGER_ENUMERATE_SERVICE == 0x4 &&
              SC_MANAGER_QUERY_LOCK_STATUS == 0x10);
static_assert(SERVICE_KERNEL_DRIVER == 0x1 && SERVICE_FILE_SYSTEM_DRIVER == 0x2 &&
              SERVICE_WIN32_OWN_PROCESS == 0x10 && SERVICE_WIN32_SHARE_PROCESS == 0x20 &&
              SERVICE_INTERACTIVE_PROCESS == 0x100);
static_assert(SERVICE_ACCEPT_STOP == 1 && SERVICE_ACCEPT_PAUSE_CONTINUE == 2 &&
              SERVICE_ACCEPT_SHUTDOWN == 4);

// The manager opened with the rights of an access kind. Each operation asks
// for what it needs: a connection is enough to open a service (the service
// handle carries the rights of the request), the listing needs the right to
// enumerate; none asks for all access, which a user without administrator
// rights is refused.
// The reason of a refused request, for the run log: a refused access is the
// want of administrator rights.
std::string ReasonOf(DWORD code) {
  return code == ERROR_ACCESS_DENIED ? std::string(msg::kAccessDenied) : WindowsErrorText(code);
}

ScHandle OpenServiceManager(ServiceManagerAccess kind) {
  const auto right = ServiceManagerAccessRight(static_cast<int>(kind));
  return ScHandle(right ? ::OpenSCManagerW(nullptr, nullptr, *right) : nullptr);
}

class WindowsServiceManager final : public ServiceManager {
 public:
  // A fresh manager handle for every call, as the manager may have been
  // restarted between two calls of a long-running agent.
  std::string GetServiceInfoText(const std::string& serviceName,
                                 ServiceInfo info = ServiceInfo::State) override {
    try {
      if (serviceName.empty()) return msg::kError;
      const ScHandle manager = OpenServiceManager(ServiceManagerAccess::kConnect);
      if (!manager) return msg::kError;
      const ScHandle service(
          ::OpenServiceW(manager.get(), Widen(serviceName).c_str(), SERVICE_QUERY_STATUS));
      if (!service) return msg::kError;
      SERVICE_STATUS status{};
      // A failed query leaves the record unset: it says nothing of the state.
      if (!::QueryServiceStatus(service.get(), &status)) return msg::kError;
      switch (info) {
        case ServiceInfo::State:
          return ServiceStateText(status.dwCurrentState);
        case ServiceInfo::Type:
          return ServiceTypeText(status.dwServiceType);
        case ServiceInfo::ControlsAccepted:
          return ServiceControlsText(status.dwControlsAccepted);
      }
      return msg::kError;
    } catch (const std::exception&) {
      return msg::kError;
    }
  }

  bool ControlServiceByName(const std::string& serviceName, ServiceAction action,
                            std::string* reason = nullptr) override {
    try {
      const DWORD error = Control(serviceName, action);
      if (error == ERROR_SUCCESS) return true;
      if (reason != nullptr) *reason = ReasonOf(error);
      return false;
    } catch (const std::exception&) {
      if (reason != nullptr) *reason = msg::kReasonUnknown;
      return false;
    }
  }

  std::optional<std::vector<ServiceEntry>> EnumerateServices() override {
    try {
      const ScHandle manager = OpenServiceManager(ServiceManagerAccess::kEnumerate);
      if (!manager) return std::nullopt;
      std::vector<ServiceEntry> services;
      std::vector<BYTE> buffer(kFirstEnumerationBuffer);
      DWORD resume = 0;
      for (;;) {
        DWORD needed = 0;
        DWORD returned = 0;
        const BOOL done = ::EnumServicesStatusExW(
            manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
            static_cast<DWORD>(buffer.size()), &needed, &returned, &resume, nullptr);
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

 private:
  // The request itself: ERROR_SUCCESS, or the system's error code, read before
  // the handles close.
  static DWORD Control(const std::string& serviceName, ServiceAction action) {
    if (serviceName.empty()) return ERROR_INVALID_NAME;
    const ScHandle manager = OpenServiceManager(ServiceManagerAccess::kConnect);
    if (!manager) return ::GetLastError();
    const ScHandle service(::OpenServiceW(manager.get(), Widen(serviceName).c_str(),
                                          SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                                              SERVICE_INTERROGATE | SERVICE_QUERY_STATUS));
    if (!service) return ::GetLastError();
    SERVICE_STATUS status{};
    BOOL done = FALSE;
    switch (action) {
      case ServiceAction::Start:
        done = ::StartServiceW(service.get(), 0, nullptr);
        break;
      case ServiceAction::Stop:
        done = ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        break;
      case ServiceAction::Pause:
        done = ::ControlService(service.get(), SERVICE_CONTROL_PAUSE, &status);
        break;
      case ServiceAction::Continue:
        done = ::ControlService(service.get(), SERVICE_CONTROL_CONTINUE, &status);
        break;
      case ServiceAction::Interrogate:
        done = ::ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status);
        break;
      case ServiceAction::Shutdown:
        done = ::ControlService(service.get(), SERVICE_CONTROL_SHUTDOWN, &status);
        break;
      default:
        return ERROR_INVALID_PARAMETER;
    }
    return done ? ERROR_SUCCESS : ::GetLastError();
  }
};

}  // namespace

std::unique_ptr<ServiceManager> MakeSystemServiceManager(SystemServiceManagerOptions) {
  return std::make_unique<WindowsServiceManager>();
}

}  // namespace veltora
