#include "engine/compression_stage.h"

#include <exception>

#include "base/path.h"
#include "base/text.h"
#include "engine/messages.h"
#include "engine/process.h"
#include "files/file_ops.h"

namespace veltora {
namespace {

// Removes the command file when the stage ends, however it ends: refused,
// failed to start, archiver failed, or an error. The file's own "del" line
// covers only the run that reaches it.
class RemoveOnExit {
 public:
  explicit RemoveOnExit(std::string path) : path_(std::move(path)) {}
  ~RemoveOnExit() { ForceDeleteFile(path_); }
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;

 private:
  std::string path_;
};

}  // namespace

std::optional<std::string> RunCompressionStage(const CompressionInputs& in, LineLog& log) {
  if (in.level == 0) return std::string(".bak");
  try {
    const std::string batch = JoinPath(in.localFolder, kCommandFileName);
    RemoveOnExit cleanup(batch);

    const std::optional<Archiver> archiver =
        in.archiver ? in.archiver : ChooseArchiver(in.executableFolder);
    if (!archiver) {
      log.Append(msg::kArchiverMissing);
      return std::nullopt;
    }
    if (!WriteArchiveBatch(*archiver, in.level, batch, in.localFolder, in.localFolder, "*.bak",
                           in.password)) {
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
