// std::filesystem paths from and to the program's UTF-8 strings. A path made
// from a plain std::string is read in the system's narrow code page, which on
// Windows is no UTF-8, so a Chinese name would name another file; these go
// through char8_t, which every platform reads as UTF-8.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace veltora {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace veltora
