// Windows only: the access list that makes a file owner-only, as text.
#pragma once

#include <string>

namespace veltora {

// The security descriptor, in SDDL, that CreateOwnerOnlyFile and MakeOwnerOnly
// give a file: a protected access list (nothing inherited from the folder)
// granting full access to the user this process runs as and to SYSTEM, and
// nothing to anyone else. `path` only names the file in an error. Throws
// std::runtime_error when the process's user cannot be read.
std::wstring OwnerOnlySecurityDescriptorText(const std::string& path);

}  // namespace veltora
