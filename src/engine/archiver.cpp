#include "engine/archiver.h"

#include <exception>

#include "base/owner_only_file.h"
#include "base/path.h"
#include "base/process.h"
#include "base/text.h"
#include "engine/archiver_internal.h"
#include "engine/archiver_progress.h"
#include "files/file_ops.h"

namespace veltora {
namespace {

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

}  // namespace

std::optional<Archiver> ChooseArchiver(const std::string& executableFolder,
                                       const std::string& searchPath) {
  if (std::string sevenZip = internal::FindSevenZip(executableFolder, searchPath);
      !sevenZip.empty())
    return Archiver{ArchiverKind::kSevenZip, std::move(sevenZip), ".7z"};
  if (!Trim(executableFolder).empty()) {
    const std::string rar = JoinPath(executableFolder, kRarProgramName);
    if (FileExists(rar) || internal::ExtractResourceFile("dll1", "file", rar))
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
                       const std::vector<ArchiveTask>& tasks, bool withPassword,
                       HeldCommandFile& batch) {
  try {
    if (level < 0 || level > 5) level = 3;
    std::string batchPath = Trim(batchPathArg);
    if (batchPath.empty() || tasks.empty()) return false;
    const std::string tail =
        batchPath.size() >= 4 ? batchPath.substr(batchPath.size() - 4) : batchPath;
    if (!EqualsIgnoreAsciiCase(Trim(tail), ".bat")) batchPath += ".bat";

    std::string content;
    if (!internal::CommandFileText(archiver, level, batchPath, tasks, withPassword, content))
      return false;

    // A leftover of a run that was cut off goes first; the new file is then
    // created exclusively, so nothing planted in between is written through.
    ForceDeleteFile(batchPath);
    return batch.Write(batchPath, content);
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
  std::vector<std::string> arguments = {"t", "-spd", "-bso0", "-bsp1", "-bse1"};
  for (const std::string& s : internal::kSevenZipInputSwitches) arguments.push_back(s);
  arguments.insert(arguments.end(), {"--", archive});
  return RunProgram(archiver.path, arguments, pw.empty() ? std::string() : pw + "\n", output);
}

int ExtractArchive(const Archiver& archiver, const std::string& archive,
                   const std::string& password, const OutputListener& content) {
  const std::string pw = Trim(password);
  if (archiver.kind == ArchiverKind::kRar)
    return RunProgram(archiver.path, {"p", "-inul", "--", archive}, {}, content);
  // -so sends the content to standard output and every message to standard
  // error; -bd keeps the percentage off both.
  std::vector<std::string> arguments = {"e", "-so", "-spd", "-bd"};
  for (const std::string& s : internal::kSevenZipInputSwitches) arguments.push_back(s);
  arguments.insert(arguments.end(), {"--", archive});
  return RunProgram(archiver.path, arguments, pw.empty() ? std::string() : pw + "\n", content);
}

}  // namespace veltora
