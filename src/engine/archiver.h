// The archiver the compression stage drives, and the command file that drives
// it.
//
// 7-Zip whenever it can be had: on POSIX from the PATH (7zz, then 7z, then
// 7za); on Windows `7zr.exe` beside the executable, written there from the
// copy the executable carries when it is missing. The RAR console archiver
// beside the executable (`rar` on POSIX, `Rar.exe` on Windows) only without
// 7-Zip. The archive extension, and so every name the later stages look for,
// follows the archiver: ".7z" or ".rar" (".bak" when nothing is compressed).
//
// The command file `rarys.bat` keeps its usual shape - one archiver line per
// backup file, a "del" line removing the file itself, "exit" - in the syntax
// of the platform's command processor:
//
// - POSIX: a /bin/sh script (UTF-8, LF line ends, since sh would take a CR as
//   part of a word) with a few shell functions defined first. Every path in it
//   is single-quoted, so blanks, quotes and wildcard characters reach the
//   archiver as one literal word. The script sets an owner-only umask, so an
//   archive is never more readable than its owner alone.
// - Windows: a cmd.exe batch file (CR LF) in plain ASCII whatever the names.
//   cmd.exe runs in the file's folder, which holds the backups and their
//   temporary archives, so these stand in it by their plain names
//   (".veltora-....part"); each backup's own name reaches the archiver in a
//   list file beside its temporary archive (UTF-8, NAME.part.lst), never
//   through cmd.exe, which reads a batch file in the console's code page and
//   expands "%" (Wine's cmd.exe even inside what it inserted from a variable).
//   The archiver's path comes from a variable of cmd.exe's environment
//   (RunArchiveBatch sets it), quoted. A backup outside the file's folder, or
//   an archiver path holding a double quote or a control character, is
//   refused. Under Wine a "%" in the archiver's folder would be expanded.
//
// 7-Zip is told (-spd) not to expand wildcards either, and (-bse1) to write its
// error messages where its progress goes, so that a failure's reason (a full
// disk) reaches the run log. Each backup is archived
// under a temporary name; the command file removes that temporary archive
// when the archiver fails, so what is left after it is an archive whose
// archiver exited 0. The stage then tests it with the password and only then
// renames it to its final name.
//
// The archive password is never written into the file, nor into any command
// line that others can read, and 7-Zip reads it from standard input (`-p`
// without a value). On POSIX the file names the environment variable
// kPasswordVariable, which only the command processor's own environment holds
// (RunAndWait); the script moves it into an unexported shell variable first, so
// the archivers it starts do not inherit it, and feeds it to 7-Zip with sh's
// builtin printf. On Windows no pipe is built inside the batch file (Wine's
// cmd.exe would pass it through a temporary file): the password goes to
// cmd.exe's own standard input, one line each time the file announces the
// next archiver, so that each 7-Zip, which reads its input buffered, finds
// exactly its line there (RunAndWaitFeeding).
// The RAR console archiver takes a password only in its arguments, so with a
// password it is refused (RarCannotTakePassword).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/owner_only_file.h"
#include "base/process.h"

namespace veltora {

inline constexpr char kCommandFileName[] = "rarys.bat";
inline constexpr char kPasswordVariable[] = "VELTORA_ARCHIVE_PASSWORD";
inline constexpr int kMaxArchivePasswordLength = 31;  // characters, not bytes

enum class ArchiverKind { kRar, kSevenZip };

struct Archiver {
  ArchiverKind kind = ArchiverKind::kSevenZip;
  std::string path;       // the program, absolute
  std::string extension;  // ".rar" or ".7z"
};

// The RAR console archiver's file name beside the executable.
#ifdef _WIN32
inline constexpr char kRarProgramName[] = "Rar.exe";
#else
inline constexpr char kRarProgramName[] = "rar";
#endif

// 7-Zip (see above; `searchPath` is a PATH value, used on POSIX); else a RAR
// console archiver beside the executable, or the one the executable carries
// (resource "dll1" of type "file"), written there. Nothing when none of these
// can be had.
std::optional<Archiver> ChooseArchiver(const std::string& executableFolder,
                                       const std::string& searchPath);

// True when this archiver would need the password in its arguments: the RAR
// console archiver with a non-empty password.
bool RarCannotTakePassword(const Archiver& archiver, const std::string& password);

// 7-Zip's -mx value for a compression level: 1..5 map to 1, 3, 5, 7, 9; 0
// (store) to 0. Levels outside 0..5 count as 3.
int SevenZipLevel(int level);

// A password the command file can carry: after trimming, at most 31
// characters, none of blank - + / * ?, and no control character (a line feed
// would cut the password short on its way to 7-Zip's standard input; a
// single-line password field cannot produce one anyway). Empty is valid.
bool IsValidArchivePassword(const std::string& password);

// The file's name without folder and without its last extension ("A.B.bak" ->
// "A.B"; a name without a dot stays whole). Empty for an empty path.
std::string FileStem(const std::string& path);

// One backup to archive: the backup file, the temporary archive the archiver
// writes, and the archive's final name (all absolute paths).
struct ArchiveTask {
  std::string source;
  std::string temporary;
  std::string final;
};

// The folder the command file is written to. POSIX: the agent's private folder
// (`privateFolder`, when given), which nobody else can enter; the shell reads
// the file from the descriptor that wrote it anyway. Windows: the backup
// folder, where cmd.exe runs it (the names in it are relative to that folder,
// see above); it is held there so that nobody can change it.
std::string CommandFileFolder(const std::string& backupFolder, const std::string& privateFolder);

// Writes the command file at `batchPath` (".bat" appended unless it ends so,
// ASCII case ignored): one archiver line per task, in order, each writing the
// task's temporary archive from its source (and removing that archive again
// when the archiver fails); then the line deleting the command file; then
// "exit" with 1 when any archiver failed. The command file's standard output
// carries the archiver's progress between marker lines (archiver_progress.h).
// `withPassword` makes the archiver read the password (7-Zip only). A level
// outside 0..5 counts as 3. A leftover command file from a run that was cut
// off is removed before the new one is created; the new file is readable and
// writable by its owner only from its first byte, and `batch` holds it from
// then on (owner_only_file.h). False (no file) for an empty path or task list,
// or a failed write.
bool WriteArchiveBatch(const Archiver& archiver, int level, const std::string& batchPath,
                       const std::vector<ArchiveTask>& tasks, bool withPassword,
                       HeldCommandFile& batch);

// Runs the command file WriteArchiveBatch wrote for `tasks` through the
// platform's command processor, hidden, the trimmed password reaching each
// archiver as described above; `output` hears the file's standard output.
// The command processor's exit code, or -1 when it cannot be started.
int RunArchiveBatch(const Archiver& archiver, const HeldCommandFile& batch,
                    const std::vector<ArchiveTask>& tasks, const std::string& password,
                    const OutputListener& output = {});

// Tests an archive with the password (none when empty), the password reaching
// the archiver on its standard input. The archiver's exit code: 0 when the
// archive is whole and opens with the password; -1 when it cannot be started.
// `output` hears the archiver's progress output (archiver_progress.h).
int TestArchive(const Archiver& archiver, const std::string& archive, const std::string& password,
                const OutputListener& output = {});

// Takes the content out of an archive (ours hold one backup each) and hands
// its bytes to `content` as the archiver writes them to its standard output,
// so that the caller writes and digests them in one pass; nothing is written
// by the archiver itself. The password reaches it on its standard input. Its
// messages go to its standard error and are dropped (they would be mixed
// with the content): the archiver's exit code is all that is answered, 0 when
// the archive is whole and opened with the password, -1 when it cannot be
// started. TestArchive tells the reason of a failure.
int ExtractArchive(const Archiver& archiver, const std::string& archive,
                   const std::string& password, const OutputListener& content);

}  // namespace veltora
