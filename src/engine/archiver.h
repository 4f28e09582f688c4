// The archiver the compression stage drives, and the command file that drives
// it.
//
// Two archivers serve: the RAR console archiver where one is present beside
// the executable (`rar` on POSIX, `Rar.exe` on Windows), else 7-Zip from the
// PATH (7zz, then 7z, then 7za). The archive extension, and so every mask the
// later stages use to find a run's archives, follows the archiver: ".rar" or
// ".7z" (".bak" when nothing is compressed).
//
// The command file `rarys.bat` is, on POSIX, a /bin/sh script (UTF-8, LF line
// ends, since sh would take a CR as part of a word). It keeps the documented
// shape - one archiver line per backup file, a "del" line removing the file
// itself, "exit" - with a first line defining `del` for sh. Every path in it is
// single-quoted, so blanks and quotes reach the archiver whole.
//
// The archive password is never written into the file, nor into any command
// line that others can read (/proc/PID/cmdline): the file names the environment
// variable kPasswordVariable, which only the command processor's own
// environment holds (RunAndWait). The script moves it into an unexported shell
// variable first, so the archivers it starts do not inherit it. 7-Zip reads it
// from standard input (`-p` without a value, fed by sh's builtin printf). The
// RAR console archiver has no such mode here, so its line carries
// "-hp$password" as one word expanded by sh without being parsed again: the
// password reaches it byte for byte but is visible in its argument list while it
// runs. That is why 7-Zip is the archiver of the POSIX build.
#pragma once

#include <optional>
#include <string>

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

// A RAR console archiver beside the executable is used; else the one the
// executable carries (resource "dll1" of type "file"), written there; else
// 7-Zip found in the directories of `searchPath` (a PATH value). Nothing when
// none of these can be had.
std::optional<Archiver> ChooseArchiver(const std::string& executableFolder,
                                       const std::string& searchPath);
// The same with this process's PATH.
std::optional<Archiver> ChooseArchiver(const std::string& executableFolder);

// The extension of a run's backups after the stage, with its dot: ".bak" when
// the level is 0 (nothing is compressed), else the archiver's.
std::string ArchiveExtension(int level, const Archiver& archiver);
// "*" + ArchiveExtension: the mask of the retention and the copy.
std::string ArchiveMask(int level, const Archiver& archiver);

// 7-Zip's -mx value for a compression level: 1..5 map to 1, 3, 5, 7, 9; 0
// (store) to 0. Levels outside 0..5 count as 3, as in WriteArchiveBatch.
int SevenZipLevel(int level);

// A password the command file can carry: after trimming, at most 31
// characters, none of blank - + / * ?, and no control character (a line feed
// would cut the password short on its way to 7-Zip's standard input; a
// single-line password field cannot produce one anyway). Empty is valid.
bool IsValidArchivePassword(const std::string& password);

// The file's name without folder and without its last extension ("A.B.bak" ->
// "A.B"; a name without a dot stays whole). For a path naming no file the same
// rule is applied to the trimmed path text itself, folders included. Empty for
// an empty path.
std::string FileStem(const std::string& path);

// Writes the command file at `batchPath` (".bat" appended unless it ends so,
// ASCII case ignored): one archiver line per regular file matching `mask`
// directly in `sourceFolder`, in the listing's order, each archived as
// stem + extension in `archiveFolder`; then the line deleting the command file;
// then "exit". Returns whether the file exists afterwards.
//
// Refused (false, no file written, a leftover left for the caller): a password
// that IsValidArchivePassword rejects; an empty path, folder or mask; a folder
// that does not exist or is a share path; a listing that fails or finds
// nothing. A level outside 0..5 counts as 3. A leftover command file from a run
// that was cut off is removed before the new one is created; the new file is
// readable and writable by its owner only from its first byte. A link, a
// device or a folder matching the mask is never archived: the archiver deletes
// what it archived and must not reach through a link.
bool WriteArchiveBatch(const Archiver& archiver, int level, const std::string& batchPath,
                       const std::string& sourceFolder, const std::string& archiveFolder,
                       const std::string& mask, const std::string& password);

}  // namespace veltora
