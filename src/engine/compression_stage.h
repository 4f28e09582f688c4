// The compression stage: each backup file (NAME.bak) of the local backup
// folder becomes an archive of the same name, encrypted with the archive
// password, through a command file `rarys.bat` that the platform's command
// processor runs.
//
// The password never appears in the command file, in a command line or in the
// run log: the command file names the environment variable
// VELTORA_ARCHIVE_PASSWORD, which only the command processor's environment
// holds. 7-Zip reads it from standard input (`-p` without a value); the RAR
// console archiver has no such mode here and gets it as "-hp$VAR", expanded by
// the command processor without being parsed again.
#pragma once

#include <optional>
#include <string>

#include "base/line_log.h"

namespace veltora {

inline constexpr char kCommandFileName[] = "rarys.bat";
inline constexpr char kPasswordVariable[] = "VELTORA_ARCHIVE_PASSWORD";

enum class ArchiverKind { kRar, kSevenZip };

struct Archiver {
  ArchiverKind kind = ArchiverKind::kSevenZip;
  std::string path;
  std::string extension;  // ".rar" or ".7z"
};

// Writes the archiver the executable carries to `target`. The POSIX build
// carries none: false.
bool ExtractResourceFile(const std::string& name, const std::string& type,
                         const std::string& target);

// A RAR console archiver beside the executable; else one the executable
// carries, written there; else 7-Zip (7zz, 7z, 7za) from the PATH.
std::optional<Archiver> ChooseArchiver(const std::string& executableFolder);

// The file's name without folder and without its last extension.
std::string FileStem(const std::string& path);
// POSIX has no short names: the trimmed path itself.
std::string ShortPathOf(const std::string& path);
// An archive password the archivers and the settings allow: at most 31
// characters after trimming, none of blank - + / * ?.
bool IsValidArchivePassword(const std::string& password);

// Writes the command file: one archiver line per file matching `mask` directly
// in `sourceFolder` (archives into `archiveFolder`), the line that removes the
// command file, and "exit". Refuses (false, no file) a bad password, missing or
// share folders, and a folder without matching files. The file is owner-only;
// a leftover of an earlier run is removed first.
bool WriteArchiveBatch(const Archiver& archiver, int level, const std::string& batchPath,
                       const std::string& sourceFolder, const std::string& archiveFolder,
                       const std::string& mask, const std::string& password);

struct CompressionInputs {
  int level = 3;
  std::string localFolder;  // with its trailing separator
  std::string password;
  std::string executableFolder;
};

// Runs the stage with its run-log lines. Returns the archive extension when the
// job goes on, nothing when the stage ended the job. The command file is gone
// afterwards on every path.
std::optional<std::string> RunCompressionStage(const CompressionInputs& in, LineLog& log);

}  // namespace veltora
