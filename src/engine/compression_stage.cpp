#include "engine/compression_stage.h"

#include <cstdlib>
#include <exception>
#include <sstream>
#include <vector>

#include "base/path.h"
#include "base/text.h"
#include "engine/messages.h"
#include "engine/process.h"
#include "files/file_ops.h"
#include "files/folder_listing.h"

namespace veltora {
namespace {

// A word for /bin/sh: single quotes, with ' written as '\''.
std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out.push_back(c);
  }
  return out + "'";
}

constexpr int kSevenZipLevels[] = {0, 1, 3, 5, 7, 9};

std::string ArchiverLine(const Archiver& a, int level, const std::string& archiveFolder,
                         const std::string& stem, const std::string& sourceFolder,
                         const std::string& name, bool withPassword) {
  const std::string archive = ShellQuote(JoinPath(archiveFolder, stem + a.extension));
  const std::string source = ShellQuote(JoinPath(sourceFolder, name));
  const std::string pw = std::string("\"$") + kPasswordVariable + "\"";
  if (a.kind == ArchiverKind::kRar) {
    return ShellQuote(a.path) + " a " + archive + " -ac -av -df -dh -k -m" + std::to_string(level) +
           (withPassword ? " \"-hp$" + std::string(kPasswordVariable) + "\"" : "") + " -ep1 -r " +
           source + " </dev/null || status=1";
  }
  const std::string args = " a -t7z -mx" + std::to_string(kSevenZipLevels[level]) +
                           (withPassword ? " -mhe=on -p" : "") + " -sdel -y -bd -- " + archive +
                           " " + source;
  if (withPassword)
    return "printf '%s\\n' " + pw + " | " + ShellQuote(a.path) + args + " || status=1";
  return ShellQuote(a.path) + args + " </dev/null || status=1";
}

std::optional<std::string> FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    const std::string candidate = JoinPath(dir, program);
    if (FileExists(candidate)) return candidate;
  }
  return std::nullopt;
}

// Removes the command file when the stage ends, however it ends.
struct RemoveOnExit {
  std::string path;
  ~RemoveOnExit() { ForceDeleteFile(path); }
};

}  // namespace

bool ExtractResourceFile(const std::string& name, const std::string& type,
                         const std::string& target) {
  (void)name;
  (void)type;
  (void)target;
  return false;
}

std::optional<Archiver> ChooseArchiver(const std::string& executableFolder) {
  for (const char* rar : {"rar", "Rar.exe", "rar.exe"}) {
    const std::string beside = JoinPath(executableFolder, rar);
    if (FileExists(beside)) return Archiver{ArchiverKind::kRar, beside, ".rar"};
  }
  const std::string carried = JoinPath(executableFolder, "Rar.exe");
  if (ExtractResourceFile("dll1", "file", carried))
    return Archiver{ArchiverKind::kRar, carried, ".rar"};
  for (const char* sevenZip : {"7zz", "7z", "7za"})
    if (auto path = FindOnPath(sevenZip)) return Archiver{ArchiverKind::kSevenZip, *path, ".7z"};
  return std::nullopt;
}

std::string FileStem(const std::string& path) { return StemOf(BaseName(Trim(path))); }

std::string ShortPathOf(const std::string& path) { return Trim(path); }

bool IsValidArchivePassword(const std::string& password) {
  const std::string p = Trim(password);
  return p.size() <= 31 && p.find_first_of(" -+/*?") == std::string::npos;
}

bool WriteArchiveBatch(const Archiver& archiver, int level, const std::string& batchPathArg,
                       const std::string& sourceArg, const std::string& archiveArg,
                       const std::string& maskArg, const std::string& passwordArg) {
  if (!IsValidArchivePassword(passwordArg)) return false;
  if (level < 0 || level > 5) level = 3;
  std::string batchPath = Trim(batchPathArg);
  if (batchPath.empty()) return false;
  if (!EqualsIgnoreAsciiCase(
          Trim(batchPath.size() >= 4 ? batchPath.substr(batchPath.size() - 4) : batchPath), ".bat"))
    batchPath += ".bat";
  const std::string source = ShortPathOf(sourceArg);
  const std::string archive = ShortPathOf(archiveArg);
  const std::string mask = Trim(maskArg);
  if (source.empty() || archive.empty() || mask.empty() || IsSharePath(source) ||
      IsSharePath(archive) || !FolderExists(source) || !FolderExists(archive))
    return false;

  std::vector<std::string> files;
  if (!ListFolderEntries(&files, source, mask, false, kNoAttributeFilter, false, kFilesOnly) ||
      files.empty())
    return false;

  // LF line ends: /bin/sh would take a CR as part of the last word.
  std::string content = "del() { rm -f -- \"$1\"; }\nstatus=0\n";
  const bool withPassword = !Trim(passwordArg).empty();
  int lines = 0;
  for (const auto& path : files) {
    const std::string stem = FileStem(path);
    const std::string name = FileNameIfExists(path);
    if (stem.empty() || name.empty()) continue;
    content += ArchiverLine(archiver, level, archive, stem, source, name, withPassword) + "\n";
    ++lines;
  }
  if (lines == 0) return false;
  content += "del " + ShellQuote(batchPath) + "\nexit $status\n";
  return WriteOwnerOnlyFile(batchPath, content) && FileExists(batchPath);
}

std::optional<std::string> RunCompressionStage(const CompressionInputs& in, LineLog& log) {
  const std::string batch = JoinPath(in.localFolder, kCommandFileName);
  RemoveOnExit cleanup{batch};
  try {
    const auto archiver = ChooseArchiver(in.executableFolder);
    if (!archiver) {
      log.Append(msg::kArchiverMissing);
      return std::nullopt;
    }
    if (!WriteArchiveBatch(*archiver, in.level, batch, in.localFolder, in.localFolder, "*.bak",
                           in.password)) {
      ForceDeleteFile(batch);  // a leftover of an earlier run never stays
      log.Append(msg::kBatchFailed);
      return std::nullopt;
    }
    log.Append(msg::kBatchWritten);
    if (RunAndWait(batch, {{kPasswordVariable, Trim(in.password)}}) == -1) {
      log.Append(msg::kBatchRunFailed);
      return std::nullopt;
    }
    log.Append(msg::kBatchRan);
    return archiver->extension;
  } catch (const std::exception& e) {
    log.Append(std::string(msg::kCompressionError) + e.what());
    return std::nullopt;
  }
}

}  // namespace veltora
