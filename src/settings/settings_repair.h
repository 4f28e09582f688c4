// When the settings database cannot be used: what exactly is wrong, what the
// user can do about it, and putting the spare copy setlog.dlb back.
#pragma once

#include <string>
#include <string_view>

#include "base/clock.h"

namespace veltora {

// Empty when the file at path is a valid settings database: it opens, PRAGMA
// integrity_check answers ok, the tables bakset, accountlist and baklog exist
// and bakset holds exactly one row. Otherwise what is wrong, in one line.
// Only looks: neither the file nor anything beside it is changed, and it
// works in a read-only folder.
std::string FindSettingsFileDefect(const std::string& path);

enum class SettingsFault {
  kNone,            // the database opens for writing; the trouble lies elsewhere
  kMissing,         // no Setlog.dll in the folder, in any letter case
  kUnreadable,      // the file cannot be opened at all (permissions, a folder)
  kDamaged,         // garbage, truncated, malformed, a table or the row missing
  kFolderReadOnly,  // valid, but the folder refuses the files written beside it
  kNotWritable,     // valid, but refuses writing for another reason
};

struct SettingsDiagnosis {
  SettingsFault fault = SettingsFault::kNone;
  std::string folder;
  std::string path;    // the database file looked at
  std::string detail;  // what is wrong with it, empty for kNone and kMissing
  std::string sparePath;
  bool spareValid = false;
  std::string spareDefect;  // why the spare copy is no good, when it is not
};

// Looks at the settings database of appFolder after opening or reading it
// failed. Changes nothing (a probe file may be created and removed to tell a
// read-only folder).
SettingsDiagnosis DiagnoseSettingsDatabase(std::string_view appFolder);

// Two lines without a final line break: the problem, naming the file, and
// what to do (for kNone only the problem, built from errorText).
std::string DescribeSettingsProblem(const SettingsDiagnosis& diagnosis, std::string_view errorText);

struct RestoreOutcome {
  std::string restoredPath;   // the settings database now in place
  std::string keptAsidePath;  // where the replaced file went; empty when there was none
};

// Puts the spare copy back as the settings database of appFolder. Refuses,
// changing nothing, when the spare copy is missing or not valid, or when the
// current database is valid (it holds newer settings and history than any
// copy). The current file, with its journal files, is kept under a new name,
// file + ".broken-" + YYYYMMDDHHNNSS from the clock (then "-2", "-3", ...),
// that never replaces anything; the spare copy is copied into place under a
// temporary name and renamed once complete, owner-only. Throws
// std::runtime_error with a message for the user; on a failure half-way the
// moved files are moved back.
RestoreOutcome RestoreSpareCopy(std::string_view appFolder, const Clock& clock);

}  // namespace veltora
