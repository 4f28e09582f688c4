// Files that only their owner may read and write. The settings database holds
// passwords in plain text, so it and every copy of it are created owner-only
// from the first byte rather than tightened afterwards.
#pragma once

#include <string>

namespace veltora {

// Creates an empty file readable and writable by its owner only. Fails (throws
// std::runtime_error) when anything already exists at the path, so that two
// writers can never share one new file.
void CreateOwnerOnlyFile(const std::string& path);

// Restricts an existing file to its owner (read and write); throws on failure.
void MakeOwnerOnly(const std::string& path);

}  // namespace veltora
