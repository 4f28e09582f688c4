#include "engine/archiver.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "base/path.h"
#include "base/text.h"
#include "engine/process.h"
#include "files/file_ops.h"
#include "files/folder_listing.h"

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

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

// A regular file itself, not a link to one.
bool IsPlainFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::regular;
}

std::string ArchiverLine(const Archiver& archiver, int level, const std::string& archiveFolder,
                         const std::string& stem, const std::string& sourceFolder,
                         const std::string& name, bool withPassword) {
  const std::string archive = ShellQuote(archiveFolder + stem + archiver.extension);
  const std::string source = ShellQuote(sourceFolder + name);
  const std::string program = ShellQuote(archiver.path);
  const std::string password = std::string("\"$") + kScriptPasswordVariable + "\"";
  // The archiver's failure is kept for the file's exit status; the next line
  // still runs.
  const std::string keepFailure = " || status=1";
  if (archiver.kind == ArchiverKind::kRar) {
    return program + " a " + archive + " -ac -av -df -dh -k -m" + std::to_string(level) +
           (withPassword ? " \"-hp$" + std::string(kScriptPasswordVariable) + "\"" : "") +
           " -ep1 -r " + source + keepFailure;
  }
  const std::string args = " a -t7z -mx" + std::to_string(SevenZipLevel(level)) +
                           (withPassword ? " -mhe=on -p" : "") + " -sdel -y -bd -- " + archive +
                           " " + source;
  if (withPassword) return "printf '%s\\n' " + password + " | " + program + args + keepFailure;
  return program + args + keepFailure;
}

}  // namespace

std::optional<Archiver> ChooseArchiver(const std::string& executableFolder,
                                       const std::string& searchPath) {
  if (!Trim(executableFolder).empty()) {
    const std::string rar = JoinPath(executableFolder, kRarProgramName);
    if (FileExists(rar) || ExtractResourceFile("dll1", "file", rar))
      return Archiver{ArchiverKind::kRar, rar, ".rar"};
  }
  for (const char* sevenZip : {"7zz", "7z", "7za"}) {
    std::string path = FindProgramOnPath(sevenZip, searchPath);
    if (!path.empty()) return Archiver{ArchiverKind::kSevenZip, std::move(path), ".7z"};
  }
  return std::nullopt;
}

std::optional<Archiver> ChooseArchiver(const std::string& executableFolder) {
  return ChooseArchiver(executableFolder, ProcessSearchPath());
}

std::string ArchiveExtension(int level, const Archiver& archiver) {
  return level == 0 ? std::string(".bak") : archiver.extension;
}

std::string ArchiveMask(int level, const Archiver& archiver) {
  return "*" + ArchiveExtension(level, archiver);
}

int SevenZipLevel(int level) {
  static constexpr int kLevels[] = {0, 1, 3, 5, 7, 9};
  if (level < 0 || level > 5) level = 3;
  return kLevels[level];
}

bool IsValidArchivePassword(const std::string& password) {
  const std::string p = Trim(password);
  if (Utf8Length(p) > kMaxArchivePasswordLength) return false;
  for (unsigned char c : p)
    if (c < 0x20 || c == 0x7F || c == ' ' || c == '-' || c == '+' || c == '/' || c == '*' ||
        c == '?')
      return false;
  return true;
}

std::string FileStem(const std::string& path) {
  const std::string p = Trim(path);
  if (p.empty()) return {};
  std::string name = p;
  if (FileExists(p) && !FolderOfExistingFile(p).empty()) name = FileNameIfExists(p);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool WriteArchiveBatch(const Archiver& archiver, int level, const std::string& batchPathArg,
                       const std::string& sourceFolderArg, const std::string& archiveFolderArg,
                       const std::string& maskArg, const std::string& passwordArg) {
  try {
    if (!IsValidArchivePassword(passwordArg)) return false;
    const std::string password = Trim(passwordArg);
    if (level < 0 || level > 5) level = 3;

    std::string batchPath = Trim(batchPathArg);
    if (batchPath.empty()) return false;
    const std::string tail =
        batchPath.size() >= 4 ? batchPath.substr(batchPath.size() - 4) : batchPath;
    if (!EqualsIgnoreAsciiCase(Trim(tail), ".bat")) batchPath += ".bat";

    const std::string sourceFolder = Trim(sourceFolderArg);
    const std::string archiveFolder = Trim(archiveFolderArg);
    const std::string mask = Trim(maskArg);
    if (sourceFolder.empty() || archiveFolder.empty() || mask.empty()) return false;
    if (IsSharePath(sourceFolder) || IsSharePath(archiveFolder)) return false;
    if (!FolderExists(sourceFolder) || !FolderExists(archiveFolder)) return false;
    const std::string shortSource = ShortPathOf(sourceFolder);
    const std::string shortArchive = ShortPathOf(archiveFolder);
    if (shortSource.empty() || shortArchive.empty() || !FolderExists(shortSource) ||
        !FolderExists(shortArchive))
      return false;
    const std::string archiveDir = WithTrailingSeparator(shortArchive);

    std::vector<std::string> files;
    if (!ListFolderEntries(&files, sourceFolder, mask, false, kNoAttributeFilter, false,
                           kFilesOnly) ||
        files.empty())
      return false;

    std::string content = "del() { rm -f -- \"$1\"; }\n";
    content += std::string(kScriptPasswordVariable) + "=${" + kPasswordVariable + "-}; unset " +
               kPasswordVariable + "\nstatus=0\n";
    for (const auto& path : files) {
      if (!IsPlainFile(path)) continue;
      // Names as the file system stores them: a trimmed name could name
      // another file.
      const std::string stem = FileStem(path);
      const std::string name = FileNameIfExists(path);
      const std::string folder = ShortPathOf(FolderOfExistingFile(path));
      if (Trim(stem).empty() || name.empty() || folder.empty() || !FolderExists(folder)) continue;
      content += ArchiverLine(archiver, level, archiveDir, stem, WithTrailingSeparator(folder),
                              name, !password.empty()) +
                 "\n";
    }
    const std::string batchFolder = ShortPathOf(std::filesystem::path(batchPath).parent_path());
    if (!batchFolder.empty() && FolderExists(batchFolder))
      content += "del " + ShellQuote(JoinPath(batchFolder, BaseName(batchPath))) + "\n";
    content += "exit $status\n";

    // A leftover of a run that was cut off goes first; the new file is then
    // created exclusively, so nothing planted in between is written through.
    ForceDeleteFile(batchPath);
    if (!WriteOwnerOnlyFile(batchPath, content)) return false;
    return FileExists(batchPath);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace veltora
