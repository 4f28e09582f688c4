#include "engine/archiver.h"

#include <exception>

#include "base/path.h"
#include "base/text.h"
#include "engine/archiver_progress.h"
#include "engine/process.h"
#include "files/file_ops.h"

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
          (withPassword ? " -mhe=on -p" : "") + " -spd -y -bso0 -bsp1 -- \"$2\" \"$1\"";
    if (withPassword)
      run = "printf '%s\\n' \"$" + std::string(kScriptPasswordVariable) + "\" | " + run;
  }
  return std::string("pack() {\n  item=$((item + 1))\n  printf '\\n") + kPackMarker +
         " %d\\n' \"$item\" || :\n  rm -f -- \"$2\"\n  if " + run + "; then\n    printf '\\n" +
         kPackedMarker +
         " %d\\n' \"$item\" || :\n  else\n    status=1\n    rm -f -- \"$2\"\n  fi\n}\n";
}

}  // namespace

std::optional<Archiver> ChooseArchiver(const std::string& executableFolder,
                                       const std::string& searchPath) {
  for (const char* sevenZip : {"7zz", "7z", "7za"}) {
    std::string path = FindProgramOnPath(sevenZip, searchPath);
    if (!path.empty()) return Archiver{ArchiverKind::kSevenZip, std::move(path), ".7z"};
  }
  if (!Trim(executableFolder).empty()) {
    const std::string rar = JoinPath(executableFolder, kRarProgramName);
    if (FileExists(rar) || ExtractResourceFile("dll1", "file", rar))
      return Archiver{ArchiverKind::kRar, rar, ".rar"};
  }
  return std::nullopt;
}

bool RarCannotTakePassword(const Archiver& archiver, const std::string& password) {
  return archiver.kind == ArchiverKind::kRar && !Trim(password).empty();
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
  const std::string name = NameInFolder(Trim(path));
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool WriteArchiveBatch(const Archiver& archiver, int level, const std::string& batchPathArg,
                       const std::vector<ArchiveTask>& tasks, bool withPassword) {
  try {
    if (level < 0 || level > 5) level = 3;
    std::string batchPath = Trim(batchPathArg);
    if (batchPath.empty() || tasks.empty()) return false;
    const std::string tail =
        batchPath.size() >= 4 ? batchPath.substr(batchPath.size() - 4) : batchPath;
    if (!EqualsIgnoreAsciiCase(Trim(tail), ".bat")) batchPath += ".bat";

    std::string content = "umask 077\n";
    content += "del() { rm -f -- \"$1\"; }\n";
    content += std::string(kScriptPasswordVariable) + "=${" + kPasswordVariable + "-}; unset " +
               kPasswordVariable + "\nstatus=0\nitem=0\n";
    content += PackFunction(archiver, level, withPassword);
    for (const ArchiveTask& task : tasks)
      content += "pack " + ShellQuote(task.source) + " " + ShellQuote(task.temporary) + "\n";
    content += "del " + ShellQuote(batchPath) + "\n";
    content += "exit $status\n";

    // A leftover of a run that was cut off goes first; the new file is then
    // created exclusively, so nothing planted in between is written through.
    ForceDeleteFile(batchPath);
    return WriteOwnerOnlyFile(batchPath, content) && FileExists(batchPath);
  } catch (const std::exception&) {
    return false;
  }
}

int TestArchive(const Archiver& archiver, const std::string& archive, const std::string& password,
                const OutputListener& output) {
  const std::string pw = Trim(password);
  if (archiver.kind == ArchiverKind::kRar)
    return RunProgram(archiver.path, {"t", "--", archive}, {}, output);
  // 7-Zip asks for the password of an encrypted archive on its standard
  // input ("-p" without a value would test with an empty password instead).
  // Without a password the input is empty, and an encrypted archive fails.
  return RunProgram(archiver.path, {"t", "-spd", "-bso0", "-bsp1", "--", archive},
                    pw.empty() ? std::string() : pw + "\n", output);
}

}  // namespace veltora
