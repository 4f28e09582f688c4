#include <sys/stat.h>

#include "support/temp_dir.h"

namespace veltora::testing {

bool IsOwnerOnly(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600;
}

bool OwnerOnlyObservable() { return true; }

}  // namespace veltora::testing
