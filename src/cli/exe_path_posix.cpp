#include <filesystem>
#include <system_error>

#include "cli/cli.h"

namespace veltora {

std::string ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace veltora
