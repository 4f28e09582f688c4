// Platform queries on POSIX.
#include <limits.h>
#include <unistd.h>

#include <string>

#include "files/folder_listing.h"

namespace veltora {

std::string MachineName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

}  // namespace veltora
