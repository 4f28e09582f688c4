#include <filesystem>
#include <system_error>

#include "machine/machine_context.h"

namespace veltora {

std::string ExecutablePath() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string ExecutableFolder() {
  const std::string exe = ExecutablePath();
  return exe.empty() ? std::string() : std::filesystem::path(exe).parent_path().string();
}

}  // namespace veltora
