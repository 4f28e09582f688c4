// Running the archiver's command file through the platform's command
// processor, and writing that file so only its owner can read it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace veltora {

using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs the command file with the command processor (/bin/sh on POSIX), hidden
// (no terminal: standard streams go to /dev/null), with `extra` added to the
// program's environment, and waits without a time-out. The exit code, or -1
// when the process cannot be started. Values in `extra` reach only the child's
// environment, which only its owner can read; never its command line.
int RunAndWait(const std::string& commandFile, const Environment& extra);

// Creates `path` anew (a leftover is removed first) readable and writable by
// its owner only, and writes `content`. False on any failure, leaving no file.
bool WriteOwnerOnlyFile(const std::string& path, const std::string& content);

}  // namespace veltora
