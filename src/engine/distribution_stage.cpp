#include "engine/distribution_stage.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "base/path.h"
#include "base/text.h"
#include "engine/messages.h"
#include "files/copy_to_share.h"
#include "files/file_ops.h"
#include "files/retention.h"

namespace veltora {

namespace msg = engine_msg;

std::string BackupBaseName(int edition, const std::string& entryName) {
  return IsFileEdition(edition) ? StemOf(entryName) : entryName;
}

namespace {

class Distribution {
 public:
  Distribution(const BackupConfig& config, std::vector<LocalResult>& results,
               const std::string& extension, const DistributionContext& ctx)
      : c_(config), results_(results), ext_(extension), ctx_(ctx) {}

  bool Run() {
    bool completed = true;
    bool shareReached = false;
    if (c_.remoteBackup) {
      try {
        shareReached = ReachShare();
        completed = shareReached && Copy();
      } catch (const std::exception&) {
        ctx_.log.Append(msg::kRemoteUnknownError);
        completed = false;
      }
    }
    return PruneEach(shareReached) && completed;
  }

 private:
  // This run's good backup of the series, if any, on each side.
  PruneSides VerifiedSides(const std::string& series) const {
    PruneSides sides;
    for (const auto& r : results_) {
      if (r.series != series || !r.succeeded) continue;
      sides.local = sides.local || c_.compressionLevel == 0 || r.archived;
      sides.remote = sides.remote || r.onShare;
    }
    return sides;
  }

  // The ticked account sets that were selected when the run started, each
  // pruned on the sides where this run's backup of it is verified.
  bool PruneEach(bool shareReached) {
    if (c_.keepCount <= 0) return true;
    const RetentionContext rc{ctx_.fs, ctx_.share, ctx_.log};
    const auto& selected = c_.selectedAccountSets;
    for (const auto& e : c_.accountSets) {
      if (!e.ticked || std::find(selected.begin(), selected.end(), e.name) == selected.end())
        continue;
      const BackupSeries series{BackupBaseName(c_.edition, e.name), ext_};
      PruneSides sides = VerifiedSides(series.baseName);
      sides.remote = sides.remote && shareReached;
      if (!sides.local && !sides.remote) continue;
      bool ok = false;
      try {
        ok = sides.remote
                 ? PruneLocalAndRemote(rc, c_.remoteUser, c_.remotePassword, c_.localFolder,
                                       c_.remoteFolder, series, c_.keepCount, sides)
                 : PruneLocal(rc, c_.localFolder, series, c_.keepCount);
      } catch (const std::exception&) {
        ok = false;
      }
      const std::string where =
          sides.remote ? c_.localFolder + msg::kPruneAndRemote + c_.remoteFolder : c_.localFolder;
      if (!ok) {
        ctx_.pruneFailed.insert(series.baseName);
        ctx_.log.Append(msg::kPruneFailedPrefix + c_.localFolder + msg::kPruneAndRemote +
                        c_.remoteFolder + msg::kPruneOf + series.Mask() + msg::kPruneFailedSuffix);
        return false;
      }
      ctx_.log.Append(msg::kPruneOkPrefix + where + msg::kPruneOf + series.Mask() +
                      msg::kPruneOkSuffix);
    }
    return true;
  }

  // A share path is connected under the configured account; a blank folder
  // cannot be reached; any other folder (a mounted one) is used as it is.
  bool ReachShare() {
    const std::string remote = Trim(c_.remoteFolder);
    const bool reached = !remote.empty() && (!IsSharePath(remote) ||
                                             ConnectShare(ctx_.share, ctx_.log, c_.remoteFolder,
                                                          c_.remoteUser, c_.remotePassword));
    if (!reached) {
      FolderFailure(msg::kRemoteUnreachable, msg::kRemoteUnreachableLine);
      return false;
    }
    if (!FolderExists(ctx_.fs, remote)) {
      FolderFailure(msg::kRemoteMissing, msg::kRemoteMissingLine);
      return false;
    }
    return true;
  }

  // A row that cannot be written is counted and its reason goes to the log.
  template <typename Insert>
  void Row(Insert insert) {
    if (const auto lost = WriteRow(ctx_.records, ctx_.rowsLost, insert))
      ctx_.log.Append(msg::kRowFailed + *lost);
  }

  void FolderFailure(const char* reason, const char* line) {
    Row([&](BackupRecords& r) { r.InsertFolderFailure(reason, msg::kRemoteFailedRemark); });
    ctx_.log.Append(line);
  }

  // True when the copy ran; each result that reached the share is marked and
  // gets its row.
  bool Copy() {
    if (Trim(c_.remoteFolder).empty()) return false;
    const CopiedNames copied =
        CopyToShare(ctx_.fs, ctx_.share, ctx_.log, c_.remoteUser, c_.remotePassword, c_.localFolder,
                    c_.remoteFolder, "*" + ext_, CopyProgressReports());
    if (!copied.Started()) {
      Row([&](BackupRecords& r) { r.InsertRemoteFailure(c_.remoteFolder); });
      return false;
    }
    const std::string remote = WithTrailingSeparator(c_.remoteFolder);
    // A copy carries the password only when it is an archive.
    const std::string password = c_.compressionLevel == 0 ? std::string() : c_.archivePassword;
    for (auto& r : results_) {
      // Decided by the exact file name, not a substring: CME…013000 must not
      // count as copied because ACME…013000 was.
      if (!r.succeeded || !copied.Contains(r.backupName + ext_)) continue;
      r.onShare = true;
      Row([&](BackupRecords& rec) {
        rec.InsertRemoteCopy(r.account, remote + r.backupName, password);
      });
    }
    return true;
  }

  // Each copy's passes as share-copy and share-verify steps of its file;
  // empty when nobody listens.
  NamedCopyProgress CopyProgressReports() {
    if (!ctx_.progress) return {};
    return [this](const std::string& name, CopyPass pass, std::uint64_t done, std::uint64_t total) {
      const ProgressStage stage =
          pass == CopyPass::kWrite ? ProgressStage::kShareCopy : ProgressStage::kShareVerify;
      if (!step_ || stepName_ != name || stepStage_ != stage) {
        step_.emplace(ctx_.progress, stage, name, total);
        step_->Start();
        stepName_ = name;
        stepStage_ = stage;
      }
      step_->Bytes(done, total);
    };
  }

  const BackupConfig& c_;
  std::vector<LocalResult>& results_;
  const std::string ext_;
  const DistributionContext& ctx_;
  std::optional<StepProgress> step_;  // the copy step under way
  std::string stepName_;
  ProgressStage stepStage_ = ProgressStage::kShareCopy;
};

}  // namespace

bool RunDistributionStage(const BackupConfig& config, std::vector<LocalResult>& results,
                          const std::string& extension, const DistributionContext& ctx) {
  return Distribution(config, results, extension, ctx).Run();
}

}  // namespace veltora
