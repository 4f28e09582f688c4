#include "engine/compression_stage.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "base/path.h"
#include "base/text.h"
#include "engine/messages.h"
#include "engine/process.h"
#include "files/file_ops.h"

namespace veltora {

namespace msg = engine_msg;
namespace {

// Removes whatever the stage leaves behind, however it ends: the command file
// (its own "del" line covers only a run that reaches it) and the temporary
// archives.
class Cleanup {
 public:
  Cleanup(const FileSystemRouter& fs, std::vector<std::string> paths)
      : fs_(fs), paths_(std::move(paths)) {}
  ~Cleanup() {
    for (const auto& p : paths_) ForceDeleteFile(fs_, p);
  }
  void Add(const std::string& path) { paths_.push_back(path); }
  Cleanup(const Cleanup&) = delete;
  Cleanup& operator=(const Cleanup&) = delete;

 private:
  const FileSystemRouter& fs_;
  std::vector<std::string> paths_;
};

bool IsBackupFileName(const std::string& name) {
  return name.size() > 4 &&
         EqualsIgnoreAsciiCase(std::string_view(name).substr(name.size() - 4), ".bak");
}

}  // namespace

std::optional<CompressionOutcome> RunCompressionStage(const CompressionInputs& in,
                                                      const FileSystemRouter& fs, LineLog& log) {
  if (in.level == 0) return CompressionOutcome{".bak", {}, {}};
  try {
    const std::string folder = WithTrailingSeparator(in.localFolder);
    const std::string batch = folder + kCommandFileName;
    Cleanup cleanup(fs, {batch});

    if (!in.archiver) {
      log.Append(msg::kArchiverMissing);
      return std::nullopt;
    }
    const Archiver& archiver = *in.archiver;
    if (RarCannotTakePassword(archiver, in.password)) {
      log.Append(msg::kRarNeedsPasswordInArguments);
      return std::nullopt;
    }

    // This agent's leftovers of a run that was cut off go first.
    std::vector<FolderEntry> entries;
    if (!fs.For(folder).ReadFolder(WithoutTrailingSeparators(folder), entries)) {
      log.Append(msg::kBatchFailed);
      return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    std::vector<ArchiveTask> tasks;
    std::vector<std::string> names;
    for (const FolderEntry& e : entries) {
      if (e.isFolder || e.isLink) continue;  // a link is never archived, nor deleted through
      if (IsTemporaryCopyName(e.name, in.marker)) {
        ForceDeleteFile(fs, folder + e.name);
      } else if (IsBackupFileName(e.name)) {
        const std::string final = folder + StemOf(e.name) + archiver.extension;
        tasks.push_back(
            {folder + e.name, folder + TemporaryCopyName(in.marker, NameInFolder(final)), final});
        names.push_back(e.name);
        cleanup.Add(tasks.back().temporary);
      }
    }
    if (!IsValidArchivePassword(in.password) ||
        !WriteArchiveBatch(archiver, in.level, batch, tasks, !Trim(in.password).empty())) {
      log.Append(msg::kBatchFailed);
      return std::nullopt;
    }
    log.Append(msg::kBatchWritten);
    const int exitCode = RunAndWait(batch, {{kPasswordVariable, Trim(in.password)}});
    if (exitCode == -1) {
      log.Append(msg::kBatchRunFailed);
      return std::nullopt;
    }
    log.Append(msg::kBatchRan);

    CompressionOutcome out{archiver.extension, {}, {}};
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      const ArchiveTask& task = tasks[i];
      std::string reason;
      if (!FileExists(fs, task.temporary)) {
        reason = msg::kArchiveNotMade + std::to_string(exitCode);
      } else if (const int tested = TestArchive(archiver, task.temporary, in.password);
                 tested != 0) {
        reason = msg::kArchiveTestFailed + std::to_string(tested);
      } else if (!FlushToDisk(task.temporary)) {
        // The backup file goes next: its archive must be on the disk first.
        reason = msg::kArchiveNotFlushed;
      } else if (!fs.For(task.final).Rename(task.temporary, task.final)) {
        reason = msg::kArchiveNotRenamed;
      }
      if (reason.empty()) {
        // The archive holds the backup now; the backup file may go.
        ForceDeleteFile(fs, task.source);
        out.archived.insert(names[i]);
      } else {
        log.Append(msg::kArchiveFailedPrefix + task.source + msg::kArchiveFailedSuffix +
                   msg::kReason + reason);
        out.failures[names[i]] = reason;
      }
    }
    return out;
  } catch (const std::exception& e) {
    log.Append(std::string(msg::kCompressionError) + e.what());
    return std::nullopt;
  }
}

}  // namespace veltora
