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

// The command file's output: the archiver's percentages for the backup that
// the last marker line named (for a listener), and the messages it wrote for
// each backup (for the reason of a failure).
class PackingOutput {
 public:
  PackingOutput(const ProgressListener& listener, const std::vector<std::string>& names,
                const std::vector<std::uint64_t>& sizes)
      : listener_(listener), names_(names), sizes_(sizes), messages_(names.size()) {}

  OutputListener Output() {
    return [this](std::string_view chunk) { Feed(chunk); };
  }
  // What the archiver said went wrong for the backup at `index`.
  std::string ErrorOf(std::size_t index) const { return ArchiverErrorText(messages_[index]); }

 private:
  void Feed(std::string_view chunk) {
    for (ArchiverEvent& e : parser_.Feed(chunk)) {
      const auto index = static_cast<std::size_t>(current_) - 1;
      switch (e.kind) {
        case ArchiverEvent::Kind::kItemStarted:
          step_.reset();
          current_ =
              e.value >= 1 && static_cast<std::size_t>(e.value) <= names_.size() ? e.value : 0;
          if (current_ != 0 && listener_) {
            const auto started = static_cast<std::size_t>(current_) - 1;
            step_.emplace(listener_, ProgressStage::kCompression, names_[started], sizes_[started]);
            step_->Start();
          }
          break;
        case ArchiverEvent::Kind::kItemPacked:
          if (step_ && e.value == current_) step_->Done();
          break;
        case ArchiverEvent::Kind::kPercent:
          if (step_) step_->Percent(e.value);
          break;
        case ArchiverEvent::Kind::kMessage:
          // The error comes near the start; a chatty archiver is cut off.
          if (current_ != 0 && messages_[index].size() < kMessagesKept)
            messages_[index].push_back(std::move(e.text));
          break;
      }
    }
  }

  static constexpr std::size_t kMessagesKept = 64;
  const ProgressListener& listener_;
  const std::vector<std::string>& names_;
  const std::vector<std::uint64_t>& sizes_;
  std::vector<std::vector<std::string>> messages_;
  ArchiverOutputParser parser_;
  std::optional<StepProgress> step_;
  int current_ = 0;
};

// The test of one archive, as archive-test reports: the tester's exit code
// and what it said went wrong.
struct TestResult {
  int code = -1;
  std::string error;
};

TestResult TestWithProgress(const Archiver& archiver, const ArchiveTask& task,
                            const std::string& password, const ProgressListener& listener) {
  std::optional<StepProgress> step;
  if (listener) {
    step.emplace(listener, ProgressStage::kArchiveTest, NameInFolder(task.final),
                 FileSizeOf(task.temporary));
    step->Start();
  }
  ArchiverOutputParser parser;
  std::vector<std::string> messages;
  const int tested = TestArchive(archiver, task.temporary, password, [&](std::string_view chunk) {
    for (ArchiverEvent& e : parser.Feed(chunk)) {
      if (e.kind == ArchiverEvent::Kind::kPercent && step) step->Percent(e.value);
      if (e.kind == ArchiverEvent::Kind::kMessage) messages.push_back(std::move(e.text));
    }
  });
  if (tested == 0 && step) step->Done();
  return {tested, ArchiverErrorText(messages)};
}

// A reason with what the archiver said, when it said anything.
std::string WithArchiverWords(std::string reason, const std::string& said) {
  return said.empty() ? reason : reason + msg::kArchiverSaid + said;
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
    const std::string batchFolder = CommandFileFolder(folder, in.privateFolder);
    const std::string batchPath = WithTrailingSeparator(batchFolder) + kCommandFileName;
    // A command file that an earlier version left in the backup folder goes
    // too.
    Cleanup cleanup(fs, {batchPath, folder + kCommandFileName});

    if (!in.archiver) {
      log.Append(msg::kArchiverMissing);
      return std::nullopt;
    }
    const Archiver& archiver = *in.archiver;
    if (RarCannotTakePassword(archiver, in.password)) {
      log.Append(msg::kRarNeedsPasswordInArguments);
      return std::nullopt;
    }
    if (std::string reason;
        WithoutTrailingSeparators(batchFolder) != WithoutTrailingSeparators(folder) &&
        !MakePrivateFolder(WithoutTrailingSeparators(batchFolder), reason)) {
      log.Append(std::string(msg::kBatchFailed) + msg::kReason + msg::kPrivateFolderUnusable +
                 batchFolder + "：" + reason);
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
    HeldCommandFile batch;
    if (!IsValidArchivePassword(in.password) ||
        !WriteArchiveBatch(archiver, in.level, batchPath, tasks, !Trim(in.password).empty(),
                           batch)) {
      log.Append(msg::kBatchFailed);
      return std::nullopt;
    }
    log.Append(msg::kBatchWritten);
    std::vector<std::uint64_t> sizes;
    if (progress)
      for (const ArchiveTask& task : tasks) sizes.push_back(FileSizeOf(task.source));
    PackingOutput packing(progress, names, sizes);
    const int exitCode = RunArchiveBatch(archiver, batch, tasks, in.password, packing.Output());
    if (exitCode == -1) {
      log.Append(msg::kBatchRunFailed);
      return std::nullopt;
    }

    CompressionOutcome out{archiver.extension, {}, {}};
    std::vector<std::string> failureLines;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      const ArchiveTask& task = tasks[i];
      std::string reason;
      if (!FileExists(fs, task.temporary)) {
        reason =
            WithArchiverWords(msg::kArchiveNotMade + std::to_string(exitCode), packing.ErrorOf(i));
      } else if (const TestResult tested = TestWithProgress(archiver, task, in.password, progress);
                 tested.code != 0) {
        reason =
            WithArchiverWords(msg::kArchiveTestFailed + std::to_string(tested.code), tested.error);
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
        failureLines.push_back(msg::kArchiveFailedPrefix + task.source + msg::kArchiveFailedSuffix +
                               msg::kReason + reason);
        out.failures[names[i]] = reason;
      }
    }
    // The batch succeeded only when its command processor did and every
    // archive it was to make is in place: an archiver killed halfway, or an
    // archive that failed its test, is no success of the batch.
    if (exitCode == 0 && out.failures.empty()) {
      log.Append(msg::kBatchRan);
    } else {
      std::string reason = msg::kBatchExitCode + std::to_string(exitCode);
      if (!out.failures.empty())
        reason += msg::kBatchArchivesFailedPrefix + std::to_string(out.failures.size()) +
                  msg::kBatchArchivesFailedSuffix;
      log.Append(msg::kBatchRunFailed + std::string(msg::kReason) + reason);
    }
    for (const std::string& line : failureLines) log.Append(line);
    return out;
  } catch (const std::exception& e) {
    log.Append(std::string(msg::kCompressionError) + e.what());
    return std::nullopt;
  }
}

}  // namespace veltora
