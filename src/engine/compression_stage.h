// The compression stage of the backup job: each backup file (NAME.bak) of the
// local backup folder becomes an encrypted archive beside it (NAME.7z or
// NAME.rar, after the archiver in use), through the command file `rarys.bat`
// that the platform's command processor runs (archiver.h says how, and how the
// password travels). The archiver deletes each backup once it is in its
// archive; a backup it fails on stays a ".bak" file for a later run.
#pragma once

#include <optional>
#include <string>

#include "base/line_log.h"
#include "engine/archiver.h"

namespace veltora {

struct CompressionInputs {
  int level = 3;                 // 0 = no compression (the stage does nothing), 1..5
  std::string localFolder;       // the local backup folder, with its trailing separator
  std::string password;          // the archive password; empty = archives without one
  std::string executableFolder;  // where a RAR console archiver is looked for
  // The archiver to use; when empty the stage chooses one (ChooseArchiver).
  std::optional<Archiver> archiver = std::nullopt;
};

// Runs the stage with its run-log lines. Returns the extension of the run's
// backups when the job goes on (".bak" for level 0, the archiver's otherwise),
// nothing when the stage ended the job: no archiver ("释放Rar.exe文件失败，数据库压缩失败！"),
// no command file ("生成RAR压缩批处理失败，压缩失败！"), the command file could not
// be started ("执行RAR压缩批处理失败，压缩失败！"), or an unexpected error
// ("压缩数据库发生错误，压缩失败！" + its text). As documented, an archiver that
// ran but failed does not end the job; the caller learns it from the archives
// that are missing. The command file is gone when this returns, on every path,
// and the password appears in no line.
std::optional<std::string> RunCompressionStage(const CompressionInputs& in, LineLog& log);

}  // namespace veltora
