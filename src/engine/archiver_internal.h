// What the portable archiver code asks of its platform half
// (archiver_posix.cpp, archiver_win.cpp).
#pragma once

#include <string>
#include <vector>

#include "engine/archiver.h"

namespace veltora::internal {

// The switches 7-Zip needs to read the UTF-8 password from its standard input
// as this platform's command processor delivers it: none on POSIX; on
// Windows "-sccUTF-8", since 7-Zip would otherwise read it in the console's
// code page and a password beyond ASCII would open nothing elsewhere.
extern const std::vector<std::string> kSevenZipInputSwitches;

// The 7-Zip program this platform uses, absolute, or empty when there is none.
std::string FindSevenZip(const std::string& executableFolder, const std::string& searchPath);

// The command file's text for the tasks, in the platform command processor's
// syntax (`batchPath` is the file itself, already ending in ".bat"). False
// when a path cannot be written safely in that syntax.
bool CommandFileText(const Archiver& archiver, int level, const std::string& batchPath,
                     const std::vector<ArchiveTask>& tasks, bool withPassword,
                     std::string& content);

// Writes the resource `name` of type `type` carried by the executable to
// `target`, replacing it; true when the target file exists afterwards. False
// when any argument is empty. A POSIX executable carries no resources, so on
// POSIX the answer is always false and nothing is written; the archiver must be
// installed beside the executable or 7-Zip must be on the PATH.
bool ExtractResourceFile(const std::string& name, const std::string& type,
                         const std::string& target);

}  // namespace veltora::internal
