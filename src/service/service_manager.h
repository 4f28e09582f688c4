// The system's service manager as the agent needs it: read a service's state
// as a text, start, stop, pause or continue it, list the installed services.
// Each platform implements ServiceManager in its own file; the POSIX one
// drives systemctl.
//
// No operation throws for a failure of the service manager: failures are told
// by the results alone ("错误", false, no list, 0), so a caller cannot tell a
// missing service from a refused request.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltora {

enum class ServiceAction { Start, Stop, Pause, Continue };

struct ServiceEntry {
  std::string name;         // what GetServiceInfoText and ControlServiceByName take
  std::string displayName;  // the service's description
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // The current state of `serviceName` as one of the texts of
  // service_msg (运行中, 停止, 暂停, ...); "错误" for an empty name, a service
  // that does not exist, or a query that failed.
  virtual std::string GetServiceInfoText(const std::string& serviceName) = 0;

  // Asks the manager to carry out `action`; true when the request was
  // accepted. Never waits for the service to reach its new state.
  virtual bool ControlServiceByName(const std::string& serviceName, ServiceAction action) = 0;

  // Every installed service in any state, in the manager's order; none when
  // the list cannot be read whole.
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
