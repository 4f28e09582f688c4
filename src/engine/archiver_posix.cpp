// The command file on POSIX: a /bin/sh script, and the archiver from the PATH.
#include <exception>

#include "base/process.h"
#include "base/text.h"
#include "engine/archiver.h"
#include "engine/archiver_internal.h"
#include "engine/archiver_progress.h"

namespace veltora {
namespace {

// The unexported shell variable the script keeps the password in.
constexpr char kScriptPasswordVariable[] = "veltora_archive_password";

// One word for /bin/sh: single quotes, inside which nothing is special; a
// single quote itself is written '\''.
std::string ShellQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out.push_back(c);
  }
  out += '\'';
  return out;
}

// The shell function `pack SOURCE TEMPORARY` for this archiver: archives the
// source into the temporary archive; on failure removes that archive and
// marks the file's exit status. It frames the archiver's progress output with
// the marker lines (archiver_progress.h); a marker that cannot be written
// changes nothing else.
std::string PackFunction(const Archiver& archiver, int level, bool withPassword) {
  const std::string program = ShellQuote(archiver.path);
  std::string run;
  if (archiver.kind == ArchiverKind::kRar) {
    // No -df: the stage deletes the backup once its archive tested good. No
    // -r: with -ep1 it would take same-named files from subfolders too.
    run = program + " a -ac -av -dh -k -m" + std::to_string(level) + " -ep1 -- \"$2\" \"$1\"";
  } else {
    run = program + " a -t7z -mx" + std::to_string(SevenZipLevel(level)) +
          (withPassword ? " -mhe=on -p" : "") + " -spd -y -bso0 -bsp1 -bse1 -- \"$2\" \"$1\"";
    if (withPassword)
      run = "printf '%s\\n' \"$" + std::string(kScriptPasswordVariable) + "\" | " + run;
  }
  return std::string("pack() {\n  item=$((item + 1))\n  printf '\\n") + kPackMarker +
         " %d\\n' \"$item\" || :\n  rm -f -- \"$2\"\n  if " + run + "; then\n    printf '\\n" +
         kPackedMarker +
         " %d\\n' \"$item\" || :\n  else\n    status=1\n    rm -f -- \"$2\"\n  fi\n}\n";
}

}  // namespace

namespace internal {

const std::vector<std::string> kSevenZipInputSwitches;

std::string FindSevenZip(const std::string&, const std::string& searchPath) {
  for (const char* sevenZip : {"7zz", "7z", "7za"}) {
    std::string path = FindProgramOnPath(sevenZip, searchPath);
    if (!path.empty()) return path;
  }
  return {};
}

bool CommandFileText(const Archiver& archiver, int level, const std::string& batchPath,
                     const std::vector<ArchiveTask>& tasks, bool withPassword,
                     std::string& content) {
  content = "umask 077\n";
  content += "del() { rm -f -- \"$1\"; }\n";
  content += std::string(kScriptPasswordVariable) + "=${" + kPasswordVariable + "-}; unset " +
             kPasswordVariable + "\nstatus=0\nitem=0\n";
  content += PackFunction(archiver, level, withPassword);
  for (const ArchiveTask& task : tasks)
    content += "pack " + ShellQuote(task.source) + " " + ShellQuote(task.temporary) + "\n";
  content += "del " + ShellQuote(batchPath) + "\n";
  content += "exit $status\n";
  return true;
}

bool ExtractResourceFile(const std::string& name, const std::string& type,
                         const std::string& target) {
  // A POSIX executable carries no resources; nothing is written.
  (void)name;
  (void)type;
  (void)target;
  return false;
}

}  // namespace internal

std::string CommandFileFolder(const std::string& backupFolder, const std::string& privateFolder) {
  return privateFolder.empty() ? backupFolder : privateFolder;
}

int RunArchiveBatch(const Archiver&, const HeldCommandFile& batch, const std::vector<ArchiveTask>&,
                    const std::string& password, const OutputListener& output) {
  return RunAndWait(batch, {{kPasswordVariable, Trim(password)}}, output);
}

}  // namespace veltora
