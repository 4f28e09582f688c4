// Files that only their owner may read and write. The settings database holds
// passwords in plain text, and the archiver's command file the archive
// password, so they are created owner-only from the first byte rather than
// tightened afterwards. On Windows such a file gets an access list of the user
// this process runs as and SYSTEM alone.
#pragma once

#include <string>
#include <string_view>

namespace veltora {

// Creates an empty file readable and writable by its owner only. Fails (throws
// std::runtime_error) when anything already exists at the path, so that two
// writers can never share one new file.
void CreateOwnerOnlyFile(const std::string& path);

// Restricts an existing file to its owner (read and write); throws on failure.
void MakeOwnerOnly(const std::string& path);

// Creates `path` anew, readable and writable by its owner only from its first
// byte, and writes `content` to it. Fails when anything (a file, a link) is
// already there, so the caller removes a leftover first; a partly written file
// is removed again. Returns false on any failure.
bool WriteOwnerOnlyFile(const std::string& path, std::string_view content);

}  // namespace veltora
