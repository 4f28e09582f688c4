// Moving a file to a new name without ever replacing what is there.
#pragma once

#include <string>

namespace veltora {

// Renames from to to in one step when nothing exists at to; answers false and
// changes nothing when something does. Throws std::runtime_error (with the
// system's text) on any other failure. Both names in one folder.
bool RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace veltora
