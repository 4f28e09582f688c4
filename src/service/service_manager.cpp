#include "service/service_manager.h"

#include <algorithm>

#include "base/text.h"

namespace veltora {

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
