#include "engine/compression_stage.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

#include "base/path.h"
#include "base/process.h"
#include "base/text.h"
#include "engine/archiver_progress.h"
#include "engine/messages.h"
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

// The command file's output as compression reports: the archiver's
// percentages for the backup that the last marker line named.
class PackingProgress {
 public:
  PackingProgress(const ProgressListener& listener, const std::vector<std::string>& names,
                  const std::vector<std::uint64_t>& sizes)
      : listener_(listener), names_(names), sizes_(sizes) {}

  // What RunAndWait hands the output to; empty when nobody listens.
  OutputListener Output() {
    if (!listener_) return {};
    return [this](std::string_view chunk) { Feed(chunk); };
  }

 private:
  void Feed(std::string_view chunk) {
    for (const ArchiverEvent& e : parser_.Feed(chunk)) {
      const auto index = static_cast<std::size_t>(e.value) - 1;
      switch (e.kind) {
        case ArchiverEvent::Kind::kItemStarted:
          step_.reset();
          if (e.value >= 1 && index < names_.size()) {
            step_.emplace(listener_, ProgressStage::kCompression, names_[index], sizes_[index]);
            step_->Start();
            current_ = e.value;
          }
          break;
        case ArchiverEvent::Kind::kItemPacked:
          if (step_ && e.value == current_) step_->Done();
          break;
        case ArchiverEvent::Kind::kPercent:
          if (step_) step_->Percent(e.value);
          break;
      }
    }
  }

  const ProgressListener& listener_;
  const std::vector<std::string>& names_;
  const std::vector<std::uint64_t>& sizes_;
  ArchiverOutputParser parser_;
  std::optional<StepProgress> step_;
  int current_ = 0;
};

// The test of one archive as archive-test reports.
int TestWithProgress(const Archiver& archiver, const ArchiveTask& task, const std::string& password,
                     const ProgressListener& listener) {
  if (!listener) return TestArchive(archiver, task.temporary, password);
  StepProgress step(listener, ProgressStage::kArchiveTest, NameInFolder(task.final),
                    FileSizeOf(task.temporary));
  step.Start();
  ArchiverOutputParser parser;
  const int tested = TestArchive(archiver, task.temporary, password, [&](std::string_view chunk) {
    for (const ArchiverEvent& e : parser.Feed(chunk))
      if (e.kind == ArchiverEvent::Kind::kPercent) step.Percent(e.value);
  });
  if (tested == 0) step.Done();
  return tested;
}

bool IsBackupFileName(const std::string& name) {
  return name.size() > 4 &&
         EqualsIgnoreAsciiCase(std::string_view(name).substr(name.size() - 4), ".bak");
}

}  // namespace

std::optional<CompressionOutcome> RunCompressionStage(const CompressionInputs& in,
                                                      const FileSystemRouter& fs, LineLog& log,
                                                      const ProgressListener& progress) {
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
    std::vector<std::uint64_t> sizes;
    if (progress)
      for (const ArchiveTask& task : tasks) sizes.push_back(FileSizeOf(task.source));
    PackingProgress packing(progress, names, sizes);
    const int exitCode = RunArchiveBatch(archiver, batch, tasks, in.password, packing.Output());
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
      } else if (const int tested = TestWithProgress(archiver, task, in.password, progress);
                 tested != 0) {
        reason = msg::kArchiveTestFailed + std::to_string(tested);
      } else if (!FlushToDisk(task.temporary)) {
        // The backup file goes next: its archive must be on the disk first.
        reason = msg::kArchiveNotFlushed;
      } else if (const FileOutcome renamed = fs.For(task.final).Rename(task.temporary, task.final);
                 !renamed) {
        reason = msg::kArchiveNotRenamed + std::string("：") + renamed.error;
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
