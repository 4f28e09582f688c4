#include "base/path.h"

namespace veltora {

bool IsSharePath(std::string_view path) {
  return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

bool IsAbsolutePath(std::string_view path) {
  if (IsSharePath(path)) return true;
#ifdef _WIN32
  const bool letter = path.size() >= 3 &&
                      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return letter && path[1] == ':' && IsSeparator(path[2]);
#else
  return !path.empty() && path[0] == '/';
#endif
}

char SeparatorFor(std::string_view folder) {
#ifdef _WIN32
  (void)folder;
  return '\\';
#else
  return IsSharePath(folder) ? '\\' : '/';
#endif
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string WithoutTrailingSeparators(std::string_view folder) {
  std::size_t end = folder.size();
  while (end > 1 && IsSeparator(folder[end - 1])) --end;
  return std::string(folder.substr(0, end));
}

std::string WithTrailingSeparator(std::string_view folder) {
  if (folder.empty()) return std::string();
  std::string out = WithoutTrailingSeparators(folder);
  if (out.size() == 1 && IsSeparator(out[0])) return out;  // the root "/"
  out.push_back(SeparatorFor(folder));
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::size_t skip = 0;
  while (skip < name.size() && IsSeparator(name[skip])) ++skip;
  return WithTrailingSeparator(folder) + std::string(name.substr(skip));
}

std::string BaseName(std::string_view path) {
  const std::size_t cut = path.find_last_of("/\\:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string NameInFolder(std::string_view path) {
#ifdef _WIN32
  const std::size_t cut = path.find_last_of("/\\");
#else
  const std::size_t cut = path.find_last_of(SeparatorFor(path));
#endif
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string StemOf(std::string_view fileName) {
  const std::size_t dot = fileName.find_last_of('.');
  return std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
}

}  // namespace veltora
