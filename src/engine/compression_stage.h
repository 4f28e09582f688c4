// The compression stage of the backup job: each backup file (NAME.bak) directly
// in the local backup folder becomes an encrypted archive beside it (NAME.7z,
// or NAME.rar with the RAR console archiver), through the command file
// `rarys.bat` that the platform's command processor runs (archiver.h says how,
// and how the password travels).
//
// An archive counts only when its archiver exited 0 and the archive then
// tested good with the password. It is written under a temporary name and
// renamed to its final name only after the test; only then is its backup file
// deleted. A backup whose archive failed stays a ".bak" file and is archived by
// a later run. Every ".bak" file of the folder is archived, not only this
// run's, so leftovers of a run whose compression failed catch up.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "base/line_log.h"
#include "engine/archiver.h"
#include "engine/progress.h"
#include "files/file_system.h"
#include "files/temp_names.h"

namespace veltora {

struct CompressionInputs {
  int level = 3;                     // 0 = no compression (the stage does nothing), 1..5
  std::string localFolder;           // the local backup folder, with its trailing separator
  std::string password;              // the archive password; empty = archives without one
  std::optional<Archiver> archiver;  // the archiver to use; none = no archiver to be had
  // Marks this agent's temporary archives, so that a leftover is recognised as
  // its own and no other agent's file is ever removed.
  CopyMarker marker;
  // The agent's own folder, which only its user can enter, for the command
  // file where the platform runs it from there (CommandFileFolder); empty:
  // the backup folder.
  std::string privateFolder;
};

struct CompressionOutcome {
  std::string extension;  // of the run's backups after the stage: ".bak", ".7z", ".rar"
  // Backup file names (NAME.bak) whose archive is in place and tested good.
  std::set<std::string> archived;
  // Backup file names whose archive failed, with the reason.
  std::map<std::string, std::string> failures;
};

// Runs the stage with its run-log lines. Nothing when the stage ended the job:
// no archiver ("释放Rar.exe文件失败，数据库压缩失败！"), a RAR archiver that
// would need the password in its arguments, no command file ("生成RAR压缩批处理失败，压缩失败！"
// - also for an unusable password or private folder, or no backup file to
// archive), the command file could not be started ("执行RAR压缩批处理失败，压缩失败！"),
// or an unexpected error ("压缩数据库发生错误，压缩失败！" + its text). Otherwise
// the outcome: "执行RAR压缩批处理成功！" only when the command file exited 0 and
// every archive is in place, else the failure line with the exit code and the
// count of failed archives; then one line for each backup whose archive
// failed, with what the archiver said went wrong where it said it (a full
// disk). The
// command file and every temporary archive are gone when this returns, on every
// path, and the password appears in no line. `progress` hears the packing of
// each backup (item: NAME.bak) and the test of each archive (item: the
// archive's final name).
std::optional<CompressionOutcome> RunCompressionStage(const CompressionInputs& in,
                                                      const FileSystemRouter& fs, LineLog& log,
                                                      const ProgressListener& progress = {});

}  // namespace veltora
