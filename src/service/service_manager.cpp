#include "service/service_manager.h"

#include <algorithm>

#include "base/text.h"
#include "service/messages.h"

namespace veltora {

namespace msg = service_msg;

std::string ServiceStateText(std::uint32_t state) {
  switch (state) {
    case 1:
      return msg::kStopped;
    case 2:
      return msg::kStartPending;
    case 3:
      return msg::kStopPending;
    case 4:
      return msg::kRunning;
    case 5:
      return msg::kContinuePending;
    case 6:
      return msg::kPausePending;
    case 7:
      return msg::kPaused;
    default:
      return msg::kUnknownState;
  }
}

std::string ServiceTypeText(std::uint32_t type) {
  switch (type) {
    case 0x1:
      return msg::kKernelDriver;
    case 0x2:
      return msg::kFileSystemDriver;
    case 0x10:
      return msg::kOwnProcess;
    case 0x20:
      return msg::kSharedProcess;
    case 0x100:
      return msg::kInteractiveProcess;
    default:
      return msg::kUnknownTypePrefix + std::to_string(type);
  }
}

std::string ServiceControlsText(std::uint32_t controls) {
  switch (controls) {
    case 0:
      return msg::kAcceptsNone;
    case 1:
      return msg::kAcceptsStop;
    case 2:
      return msg::kAcceptsPauseContinue;
    case 4:
      return msg::kAcceptsShutdown;
    default:
      return msg::kUnknownControlsPrefix + std::to_string(controls);
  }
}

std::optional<std::uint32_t> ServiceManagerAccessRight(int accessKind) {
  switch (static_cast<ServiceManagerAccess>(accessKind)) {
    case ServiceManagerAccess::kAll:
      return 0xF003F;
    case ServiceManagerAccess::kConnect:
      return 0x1;
    case ServiceManagerAccess::kCreateService:
      return 0x2;
    case ServiceManagerAccess::kEnumerate:
      return 0x4;
    case ServiceManagerAccess::kQueryLockStatus:
      return 0x10;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> FindServices(ServiceManager& manager,
                                                     const std::string& searchText,
                                                     bool ignoreCase) {
  const std::string needle = ignoreCase ? UpperAscii(Trim(searchText)) : searchText;
  // A search text of blanks alone would otherwise match every service.
  if (needle.empty()) return std::nullopt;
  const auto services = manager.EnumerateServices();
  if (!services || services->empty()) return std::nullopt;
  std::vector<std::string> found;
  for (const auto& service : *services) {
    const std::string name = ignoreCase ? UpperAscii(Trim(service.name)) : service.name;
    const std::string display =
        ignoreCase ? UpperAscii(Trim(service.displayName)) : service.displayName;
    if (name.find(needle) == std::string::npos && display.find(needle) == std::string::npos)
      continue;
    // A manager may list one service twice (a unit known both as a file and
    // as loaded); it is still one service.
    if (std::find(found.begin(), found.end(), name) == found.end()) found.push_back(name);
  }
  return found;
}

int CountServices(ServiceManager& manager, const std::string& searchText, bool ignoreCase) {
  const auto found = FindServices(manager, searchText, ignoreCase);
  return found ? static_cast<int>(found->size()) : 0;
}

ServiceUnitNames DefaultServiceUnitNames() { return {{"MSSQLSERVER", "mssql-server"}}; }

}  // namespace veltora
