#include <unistd.h>

#include "app/startup_checks.h"

namespace veltora {

// The effective id decides what the process may open and change, so it is the
// one asked; the groups a user belongs to give no rights over /etc by
// themselves.
bool IsAdministrator() { return ::geteuid() == 0; }

bool MakeCurrentFolder(const std::string& folder) {
  return !folder.empty() && ::chdir(folder.c_str()) == 0;
}

}  // namespace veltora
