// The system's service manager as the agent needs it: read a service's state,
// type or accepted controls as a text, start, stop, pause, continue,
// interrogate or shut down a service, list the installed services.
// Each platform implements ServiceManager in its own file; the POSIX one
// drives systemctl.
//
// No operation throws for a failure of the service manager: failures are told
// by the results alone ("错误", false, no list, 0), so a caller cannot tell a
// missing service from a refused request.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltora {

// Interrogate asks a running service to report its state again; Shutdown is
// the notice the system itself sends at its end, which the service manager
// refuses from a program (the request is passed on and answered false).
enum class ServiceAction { Start, Stop, Pause, Continue, Interrogate, Shutdown };

// What GetServiceInfoText reads of a service.
enum class ServiceInfo {
  State,             // the current state: 运行中, 停止, 暂停, ...
  Type,              // the service's type: 专用线程, 共享线程, ...
  ControlsAccepted,  // the controls it accepts now: 允许停止, ...
};

// The texts of the service manager's numbers, each compared as a whole
// value: a state (1..7), a type (0x1, 0x2, 0x10, 0x20, 0x100) and the
// controls accepted (0, 1 stop, 2 pause and continue, 4 shutdown). A value
// outside its table (a combination of types or of controls included) reads
// "未知状态", "未知类型：N" or "未知状态：N" with N in decimal.
std::string ServiceStateText(std::uint32_t state);
std::string ServiceTypeText(std::uint32_t type);
std::string ServiceControlsText(std::uint32_t controls);

// The access kinds of opening the service manager and the rights each asks
// for: 1 all access (0xF003F), 2 connect (0x1), 3 create a service (0x2),
// 4 enumerate the services (0x4), 5 query the lock status (0x10). None for any
// other kind: no manager is opened with it.
enum class ServiceManagerAccess {
  kAll = 1,
  kConnect = 2,
  kCreateService = 3,
  kEnumerate = 4,
  kQueryLockStatus = 5,
};
std::optional<std::uint32_t> ServiceManagerAccessRight(int accessKind);

struct ServiceEntry {
  std::string name;         // what GetServiceInfoText and ControlServiceByName take
  std::string displayName;  // the service's description
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // What `info` asks of `serviceName`, as one of the texts of service_msg
  // (by default the current state: 运行中, 停止, 暂停, ...); "错误" for an
  // empty name, a service that does not exist, or a query that failed.
  virtual std::string GetServiceInfoText(const std::string& serviceName,
                                         ServiceInfo info = ServiceInfo::State) = 0;

  // Asks the manager to carry out `action`; true when the request was
  // accepted. Never waits for the service to reach its new state. When it
  // fails and `reason` is given, the reason goes there as a text for the run
  // log: a refused access says that administrator rights are needed
  // (service_msg::kAccessDenied).
  virtual bool ControlServiceByName(const std::string& serviceName, ServiceAction action,
                                    std::string* reason = nullptr) = 0;

  // Every installed service in any state, in the manager's order; none when
  // the list cannot be read whole. Services only: no driver is listed.
  virtual std::optional<std::vector<ServiceEntry>> EnumerateServices() = 0;
};

// The names of the services whose name or display name contains `searchText`.
// With `ignoreCase`, the three texts are trimmed and ASCII upper-cased before
// the test and the upper-cased name is answered; without it they are compared
// as they are. Each service appears once. None when the search text is empty,
// the enumeration failed or found no service at all.
std::optional<std::vector<std::string>> FindServices(ServiceManager& manager,
                                                     const std::string& searchText,
                                                     bool ignoreCase);

// How many services FindServices answers; 0 when it answers none.
int CountServices(ServiceManager& manager, const std::string& searchText, bool ignoreCase);

// The units that stand for service names which are not unit names themselves,
// keyed by the service name in ASCII capitals.
using ServiceUnitNames = std::map<std::string, std::string>;

// SQL Server's default instance runs as the unit mssql-server.
ServiceUnitNames DefaultServiceUnitNames();

struct SystemServiceManagerOptions {
  std::string searchPath;  // a PATH value: where the service manager's tool is looked for
  ServiceUnitNames unitNames = DefaultServiceUnitNames();
  // A tool that has not finished by then is ended and its call fails.
  std::chrono::milliseconds commandTimeout{30000};
};

// The platform's service manager (POSIX: systemctl from `searchPath`; when it
// is not there, every operation fails).
std::unique_ptr<ServiceManager> MakeSystemServiceManager(SystemServiceManagerOptions options);

}  // namespace veltora
