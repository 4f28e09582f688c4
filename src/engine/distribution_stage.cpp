#include "engine/distribution_stage.h"

#include <algorithm>
#include <exception>

#include "base/path.h"
#include "base/text.h"
#include "engine/backup_job.h"
#include "engine/messages.h"
#include "files/copy_to_share.h"
#include "files/file_ops.h"
#include "files/retention.h"

namespace veltora {

std::string BackupBaseName(int edition, const std::string& entryName) {
  return IsFileEdition(edition) ? StemOf(entryName) : entryName;
}

namespace {

class Distribution {
 public:
  Distribution(const BackupConfig& config, const std::vector<LocalResult>& results,
               const std::string& extension, const DistributionContext& ctx)
      : c_(config), results_(results), ext_(extension), ctx_(ctx) {}

  DistributionOutcome Run() {
    if (!c_.remoteBackup) {
      if (c_.keepCount > 0 && !PruneEach(false)) return out_;
      out_.completed = true;
      return out_;
    }
    try {
      if (!ReachShare() || (c_.keepCount > 0 && !PruneEach(true))) return out_;
      Copy();
    } catch (const std::exception&) {
      ctx_.log.Append(msg::kRemoteUnknownError);
    }
    return out_;
  }

 private:
  // The ticked account sets that were selected when the run started.
  std::vector<std::string> PrunedBaseNames() const {
    std::vector<std::string> names;
    for (const auto& e : c_.accountSets) {
      const auto& sel = c_.selectedAccountSets;
      if (e.ticked && std::find(sel.begin(), sel.end(), e.name) != sel.end())
        names.push_back(BackupBaseName(c_.edition, e.name));
    }
    return names;
  }

  bool PruneEach(bool remote) {
    const RetentionContext rc{ctx_.fs, ctx_.share, ctx_.log};
    for (const auto& base : PrunedBaseNames()) {
      const std::string mask = BackupMaskFor(base, ext_);
      bool ok = false;
      try {
        ok = remote ? PruneLocalAndRemote(rc, c_.remoteUser, c_.remotePassword, c_.localFolder,
                                          c_.remoteFolder, mask, c_.keepCount, true)
                    : PruneLocal(rc, c_.localFolder, mask, c_.keepCount, true);
      } catch (const std::exception&) {
        if (remote) continue;  // one account set's error does not stop the others
        throw;
      }
      const std::string where =
          remote ? c_.localFolder + msg::kPruneAndRemote + c_.remoteFolder : c_.localFolder;
      if (ok) {
        ctx_.log.Append(msg::kPruneOkPrefix + where + msg::kPruneOf + mask + msg::kPruneOkSuffix);
      } else {
        ctx_.log.Append(msg::kPruneFailedPrefix + c_.localFolder + msg::kPruneAndRemote +
                        c_.remoteFolder + msg::kPruneOf + mask + msg::kPruneFailedSuffix);
        return false;
      }
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

  void FolderFailure(const char* reason, const char* line) {
    auto records = ctx_.records.Create();
    try {
      records->Open();
      records->InsertFolderFailure(reason, msg::kRemoteFailedRemark);
    } catch (const std::exception&) {
    }
    records->Close();
    ctx_.log.Append(line);
  }

  void Copy() {
    if (Trim(c_.remoteFolder).empty()) return;
    const CopiedNames copied =
        CopyToShare(ctx_.fs, ctx_.share, ctx_.log, c_.remoteUser, c_.remotePassword, c_.localFolder,
                    c_.remoteFolder, "*" + ext_, ctx_.copyProgress);
    auto records = ctx_.records.Create();
    if (!copied.Started()) {
      try {
        records->Open();
        records->InsertRemoteFailure(c_.remoteFolder);
      } catch (const std::exception&) {
      }
      records->Close();
      return;
    }
    const std::string remote = WithTrailingSeparator(c_.remoteFolder);
    for (const auto& r : results_) {
      const std::string name = BaseName(r.localFile);
      // Decided by the exact file name, not a substring: CME…013000 must not
      // count as copied because ACME…013000 was.
      if (!r.ok() || !copied.Contains(name + ext_)) continue;
      ++out_.reachedShare;
      try {
        records->Open();
        records->InsertRemoteCopy(r.account, remote + name, c_.archivePassword);
      } catch (const std::exception&) {
      }
      records->Close();
    }
    out_.completed = true;
  }

  const BackupConfig& c_;
  const std::vector<LocalResult>& results_;
  const std::string ext_;
  const DistributionContext& ctx_;
  DistributionOutcome out_;
};

}  // namespace

DistributionOutcome RunDistributionStage(const BackupConfig& config,
                                         const std::vector<LocalResult>& results,
                                         const std::string& extension,
                                         const DistributionContext& ctx) {
  return Distribution(config, results, extension, ctx).Run();
}

}  // namespace veltora
