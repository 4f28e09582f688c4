// The command file on Windows: a cmd.exe batch file in plain ASCII whose paths
// come from environment variables, and 7zr.exe beside the executable.
// windows.h first: the other Windows headers need its types.
// clang-format off
#include <windows.h>
// clang-format on

#include <cctype>
#include <exception>

#include "base/owner_only_file.h"
#include "base/path.h"
#include "base/process.h"
#include "base/text.h"
#include "base/wide_text.h"
#include "engine/archiver.h"
#include "engine/archiver_internal.h"
#include "engine/archiver_progress.h"
#include "files/file_ops.h"

namespace veltora {
namespace {

constexpr char kSevenZipProgramName[] = "7zr.exe";
// The archiver the executable carries, as a resource of type "file".
constexpr char kSevenZipResource[] = "sevenzip";

// The variable of cmd.exe's environment that carries the archiver's path.
constexpr char kArchiverVariable[] = "VELTORA_ARCHIVER";

// The file beside a temporary archive that names its source to the archiver.
std::string ListFileOf(const std::string& temporary) { return temporary + ".lst"; }

// Characters a name may hold to stand in a batch line as it is: the
// temporary names (".veltora-....part") and "rarys.bat" are made of these.
bool IsPlainName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return false;
  return true;
}

// The folder part of a path, separators of either kind; empty without one.
std::string FolderPart(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// A path cmd.exe and the archiver take whole: no double quote (no Windows
// name holds one; it would end the quoted word) and no control character (a
// line break would end the line).
bool IsWritablePath(const std::string& path) {
  if (Trim(path).empty()) return false;
  for (unsigned char c : path)
    if (c == '"' || c < 0x20) return false;
  return true;
}

// The archiver's line for one task: the archive and the list file by their
// plain names in the command file's folder (cmd.exe's current folder). No
// "--": after it the archivers take "@NAME" as a file's name, not a list; the
// plain names begin with neither "-" nor "@" but the list's own.
std::string ArchiverCall(const Archiver& archiver, int level, bool withPassword,
                         const ArchiveTask& task) {
  const std::string archive = "\"" + NameInFolder(task.temporary) + "\"";
  const std::string list = "\"@" + NameInFolder(ListFileOf(task.temporary)) + "\"";
  std::string call = std::string("\"%") + kArchiverVariable + "%\"";
  if (archiver.kind == ArchiverKind::kRar) {
    // No -df: the stage deletes the backup once its archive tested good. No
    // -r: with -ep1 it would take same-named files from subfolders too.
    return call + " a -ac -av -dh -k -m" + std::to_string(level) + " -ep1 -scfl " + archive + " " +
           list;
  }
  call += " a -t7z -mx" + std::to_string(SevenZipLevel(level));
  if (withPassword) call += " -mhe=on -p";
  for (const std::string& s : internal::kSevenZipInputSwitches) call += " " + s;
  return call + " -scsUTF-8 -spd -y -bso0 -bsp1 -bse1 " + archive + " " + list;
}

// Removes the list files of the tasks however the run ends.
class ListFiles {
 public:
  explicit ListFiles(const std::vector<ArchiveTask>& tasks) : tasks_(tasks), held_(tasks.size()) {}
  ~ListFiles() {
    held_.clear();
    for (const ArchiveTask& task : tasks_) ForceDeleteFile(ListFileOf(task.temporary));
  }
  ListFiles(const ListFiles&) = delete;
  ListFiles& operator=(const ListFiles&) = delete;

  // Writes each task's list file: the source's name in UTF-8 (it lies in the
  // current folder), so the name never passes through cmd.exe, which would
  // read it in the console's code page and expand a "%" in it (Wine's cmd.exe
  // even in what it inserted from a variable). Each is held like the command
  // file, so that nobody swaps in a list naming another file to be archived
  // under the backup's name.
  bool Write() {
    for (std::size_t i = 0; i < tasks_.size(); ++i) {
      const std::string list = ListFileOf(tasks_[i].temporary);
      ForceDeleteFile(list);
      if (!held_[i].Write(list, NameInFolder(tasks_[i].source) + "\r\n")) return false;
    }
    return true;
  }

 private:
  const std::vector<ArchiveTask>& tasks_;
  std::vector<HeldCommandFile> held_;
};

}  // namespace

namespace internal {

const std::vector<std::string> kSevenZipInputSwitches = {"-sccUTF-8"};

std::string FindSevenZip(const std::string& executableFolder, const std::string&) {
  if (Trim(executableFolder).empty()) return {};
  const std::string path = JoinPath(executableFolder, kSevenZipProgramName);
  if (FileExists(path) || ExtractResourceFile(kSevenZipResource, "file", path)) return path;
  return {};
}

bool CommandFileText(const Archiver& archiver, int level, const std::string& batchPath,
                     const std::vector<ArchiveTask>& tasks, bool withPassword,
                     std::string& content) {
  // Everything but the archiver lies in the command file's folder, where
  // cmd.exe runs, and is named there by a plain name.
  const std::string folder = FolderPart(batchPath);
  if (!IsWritablePath(archiver.path) || folder.empty() || !IsPlainName(NameInFolder(batchPath)))
    return false;
  for (const ArchiveTask& task : tasks)
    if (!IsWritablePath(task.source) || FolderPart(task.source) != folder ||
        FolderPart(task.temporary) != folder || !IsPlainName(NameInFolder(task.temporary)))
      return false;
  const std::string eol = "\r\n";
  content = "@echo off" + eol + "set status=0" + eol;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const std::string archive = "\"" + NameInFolder(tasks[i].temporary) + "\"";
    const std::string n = std::to_string(i + 1);
    content += "echo." + eol + "echo " + kPackMarker + " " + n + eol;
    content += "del /f /q " + archive + " 2>nul" + eol;
    content += ArchiverCall(archiver, level, withPassword, tasks[i]) + eol;
    content += "if errorlevel 1 (set status=1& del /f /q " + archive + " 2>nul) else (echo." +
               "& echo " + kPackedMarker + " " + n + ")" + eol;
  }
  // One line: cmd.exe reads each line from the file when it comes to it, and
  // the file is gone once "del" has run.
  content += "del /f /q \"" + NameInFolder(batchPath) + "\" & exit %status%" + eol;
  return true;
}

bool ExtractResourceFile(const std::string& name, const std::string& type,
                         const std::string& target) {
  try {
    if (Trim(name).empty() || Trim(type).empty() || Trim(target).empty()) return false;
    // Resource names and types match without regard to case.
    HRSRC resource = ::FindResourceW(nullptr, Widen(name).c_str(), Widen(type).c_str());
    if (resource == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(nullptr, resource);
    const DWORD size = ::SizeofResource(nullptr, resource);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) return false;
    // Written under a temporary name and renamed, so a half-written program is
    // never taken for the archiver.
    const std::string temporary = target + ".part";
    ForceDeleteFile(temporary);
    if (!WriteOwnerOnlyFile(temporary, std::string_view(static_cast<const char*>(bytes), size)))
      return false;
    const std::wstring wideTarget = Widen(target);
    ::SetFileAttributesW(wideTarget.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::MoveFileExW(Widen(temporary).c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      ForceDeleteFile(temporary);
      return false;
    }
    return FileExists(target);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace internal

std::string CommandFileFolder(const std::string& backupFolder, const std::string&) {
  return backupFolder;
}

int RunArchiveBatch(const Archiver& archiver, const HeldCommandFile& batch,
                    const std::vector<ArchiveTask>& tasks, const std::string& password,
                    const OutputListener& output) {
  ListFiles lists(tasks);
  if (!lists.Write()) return -1;
  const EnvironmentAdditions environment = {{kArchiverVariable, archiver.path}};
  const std::string pw = Trim(password);
  if (pw.empty() || archiver.kind == ArchiverKind::kRar)
    return RunAndWait(batch, environment, output);
  // The cue is the marker line with its blank: "@packed N" is no cue.
  return RunAndWaitFeeding(batch, environment, std::string(kPackMarker) + " ", pw + "\r\n", output);
}

}  // namespace veltora
