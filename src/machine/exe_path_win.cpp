#include <windows.h>

#include <string>

#include "base/wide_text.h"
#include "machine/machine_context.h"

namespace veltora {

std::string ExecutablePath() {
  // The buffer grows until the whole path fits: a long path is truncated
  // silently otherwise.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return std::string();
    path.resize(path.size() * 2);
  }
  return Narrow(path);
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const std::size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return std::string();
  // A drive root keeps its separator: "C:\".
  return path.substr(0, cut == 2 && path[1] == ':' ? cut + 1 : cut);
}

}  // namespace veltora
