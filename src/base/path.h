// Joining folders and names. One helper decides the separator so that no code
// appends separators by hand: a share path (\\server\share\dir) always takes
// "\", on Windows every path does, and a local POSIX path takes "/".
#pragma once

#include <string>
#include <string_view>

namespace veltora {

bool IsSharePath(std::string_view path);
// A path that names the same place from any working folder: a share path, or
// on Windows a drive letter with a separator (D:\bak; D:bak and \bak
// depend on the current drive and its folder), elsewhere one from "/".
bool IsAbsolutePath(std::string_view path);
char SeparatorFor(std::string_view folder);
bool IsSeparator(char c);
// The folder with exactly one separator of its kind at the end.
std::string WithTrailingSeparator(std::string_view folder);
// The folder without any trailing separators (a root keeps one).
std::string WithoutTrailingSeparators(std::string_view folder);
// folder + exactly one separator + name.
std::string JoinPath(std::string_view folder, std::string_view name);
// The part after the last separator (either kind) or colon.
std::string BaseName(std::string_view path);
// The name after the last separator of the path's own kind (SeparatorFor):
// unlike BaseName, a local POSIX name holding "\\" or ":" stays whole.
std::string NameInFolder(std::string_view path);
// A file name without its last extension ("ABC.AIS" -> "ABC").
std::string StemOf(std::string_view fileName);

}  // namespace veltora
