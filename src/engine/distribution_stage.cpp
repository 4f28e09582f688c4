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
  // The folder as the own-archive table spells it on each side.
  const std::string& Folder(ArchiveSide side) const {
    return side == ArchiveSide::kLocal ? c_.localFolder : c_.remoteFolder;
  }

  // This application folder's own archives on one side, read once a run;
  // nothing when they cannot be read (the line says why).
  const OwnArchives* Own(ArchiveSide side) {
    auto& own = side == ArchiveSide::kLocal ? ownLocal_ : ownShare_;
    if (!own) {
      auto records = ctx_.records.Create();
      try {
        records->Open();
        own = records->ListOwnArchives(side, Folder(side));
        records->Close();
      } catch (const std::exception& e) {
        records->Close();
        ctx_.log.Append(msg::kOwnListFailedPrefix + Folder(side) + msg::kOwnListFailedSuffix +
                        msg::kReason + e.what());
        return nullptr;
      }
    }
    return &*own;
  }

  void RecordOwn(ArchiveSide side, const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    const std::string stem = fileName.substr(0, dot);
    const std::string stamp =
        stem.size() >= kBackupStampLength ? stem.substr(stem.size() - kBackupStampLength) : "";
    Row([&](BackupRecords& r) { r.RecordOwnArchive(side, Folder(side), fileName, stamp); });
    // The share copy was read back equal to the local archive before it took
    // its name, so it has the local archive's digests.
    for (const auto& r : results_)
      if (r.succeeded && r.digests && r.backupName + ext_ == fileName)
        Row([&](BackupRecords& rec) {
          rec.RecordDigests(side, Folder(side), fileName, stamp, *r.digests);
        });
    auto& own = side == ArchiveSide::kLocal ? ownLocal_ : ownShare_;
    if (own) own->files.insert(fileName);
  }

  void ForgetOwn(ArchiveSide side, const std::string& fileName) {
    Row([&](BackupRecords& r) { r.ForgetOwnArchive(side, Folder(side), fileName); });
    auto& own = side == ArchiveSide::kLocal ? ownLocal_ : ownShare_;
    if (own) own->files.erase(fileName);
  }

  // This run's verified backups of the series on one side, as the rules of
  // its pruning begin.
  PruneRules Verified(ArchiveSide side, const std::string& series, const std::string& now) const {
    PruneRules rules;
    rules.nowStamp = now;
    for (const auto& r : results_) {
      if (r.series != series || !r.succeeded) continue;
      const bool verified =
          side == ArchiveSide::kLocal ? c_.compressionLevel == 0 || r.archived : r.onShare;
      if (verified) rules.verified.insert(r.backupName + ext_);
    }
    return rules;
  }

  // Only the side's own archives count. False when they cannot be read: the
  // rules then count none as own.
  bool AddOwnership(PruneRules& rules, ArchiveSide side) {
    const OwnArchives* own = Own(side);
    if (own == nullptr) return false;
    rules.isOwn = [own](const std::string& name) { return own->Contains(name); };
    rules.deleted = [this, side](const std::string& name) { ForgetOwn(side, name); };
    return true;
  }

  // The ticked account sets that were selected when the run started, each
  // pruned on the sides where this run's backup of it is verified.
  bool PruneEach(bool shareReached) {
    if (c_.keepCount <= 0) return true;
    const RetentionContext rc{ctx_.fs, ctx_.share, ctx_.log};
    const std::string now = ctx_.stamps.Now();
    const auto& selected = c_.selectedAccountSets;
    for (const auto& e : c_.accountSets) {
      if (!e.ticked || std::find(selected.begin(), selected.end(), e.name) == selected.end())
        continue;
      const BackupSeries series{BackupBaseName(c_.edition, e.name), ext_};
      PruneRules local = Verified(ArchiveSide::kLocal, series.baseName, now);
      PruneRules remote = Verified(ArchiveSide::kShare, series.baseName, now);
      const PruneSides sides{!local.verified.empty(), !remote.verified.empty() && shareReached};
      if (!sides.local && !sides.remote) continue;
      // A side whose own archives cannot be read loses nothing, and the
      // pruning counts as failed.
      bool ok = (!sides.local || AddOwnership(local, ArchiveSide::kLocal)) &&
                (!sides.remote || AddOwnership(remote, ArchiveSide::kShare));
      try {
        ok = (sides.remote
                  ? PruneLocalAndRemote(rc, c_.remoteUser, c_.remotePassword, c_.localFolder,
                                        c_.remoteFolder, series, c_.keepCount, sides, local, remote)
                  : PruneLocal(rc, c_.localFolder, series, c_.keepCount, local)) &&
             ok;
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
  // gets its row. Every copy of an own archive is recorded as own on the share.
  bool Copy() {
    if (Trim(c_.remoteFolder).empty()) return false;
    const CopiedNames copied =
        CopyToShare(ctx_.fs, ctx_.share, ctx_.log, c_.remoteUser, c_.remotePassword, c_.localFolder,
                    c_.remoteFolder, "*" + ext_, CopyProgressReports(),
                    [this](const std::string& name) { return Restamp(name); });
    if (!copied.Started()) {
      Row([&](BackupRecords& r) { r.InsertRemoteFailure(c_.remoteFolder); });
      return false;
    }
    const std::string remote = WithTrailingSeparator(c_.remoteFolder);
    for (auto& r : results_) {
      // Decided by the exact file name, not a substring: CME…013000 must not
      // count as copied because ACME…013000 was.
      if (!r.succeeded || !copied.Contains(r.backupName + ext_)) continue;
      r.onShare = true;
      Row([&](BackupRecords& rec) {
        rec.InsertRemoteCopy(r.account, remote + r.backupName, Password());
      });
    }
    // An earlier run's own archive that reaches the share only now is as much
    // this folder's own there; anything else the local folder held is not.
    const OwnArchives* ownLocal = Own(ArchiveSide::kLocal);
    for (const std::string& name : copied.Names()) {
      const bool thisRun = std::any_of(results_.begin(), results_.end(), [&](const auto& r) {
        return r.onShare && r.backupName + ext_ == name;
      });
      if (thisRun || (ownLocal && ownLocal->Contains(name))) RecordOwn(ArchiveSide::kShare, name);
    }
    return true;
  }

  // A copy carries the password only when it is an archive.
  std::string Password() const {
    return c_.compressionLevel == 0 ? std::string() : c_.archivePassword;
  }

  // The share holds a file under the name of `name` (a local file about to be
  // copied). When it is this run's backup, another agent took its name (the
  // same account-set name in the same second): the local backup takes the
  // next free second, gets its row under the new name, and goes to the share
  // under it. Anything else there is an earlier copy: empty.
  std::string Restamp(const std::string& name) {
    const auto r = std::find_if(results_.begin(), results_.end(), [&](const LocalResult& x) {
      return x.succeeded && x.backupName + ext_ == name;
    });
    if (r == results_.end()) return {};
    const std::string remote = WithTrailingSeparator(c_.remoteFolder);
    const std::string stamp = ctx_.stamps.Next(r->series, [&](const std::string& candidate) {
      const std::string local = c_.localFolder + candidate;
      return FileExists(ctx_.fs, local + ".bak") || FileExists(ctx_.fs, local + ext_) ||
             FileExists(ctx_.fs, remote + candidate + ext_);
    });
    const std::string backupName = r->series + stamp;
    const std::string from = c_.localFolder + name;
    const std::string to = c_.localFolder + backupName + ext_;
    if (const FileOutcome renamed = ctx_.fs.For(to).Rename(from, to); !renamed) {
      ctx_.log.Append(msg::kNameTakenPrefix + remote + name + msg::kNameTakenRenameFailed +
                      msg::kReason + renamed.error);
      return {};
    }
    ctx_.log.Append(msg::kNameTakenPrefix + remote + name + msg::kNameTakenRenamed + backupName +
                    ext_ + msg::kNameTakenRenamedSuffix);
    r->backupName = backupName;
    r->localFile = c_.localFolder + backupName;
    // The row of the old name stays; this one names the file as it now is.
    const std::string password = r->archived ? c_.archivePassword : std::string();
    Row([&](BackupRecords& rec) {
      rec.InsertLocalResult(r->account, r->localFile, password, true);
    });
    ForgetOwn(ArchiveSide::kLocal, name);
    RecordOwn(ArchiveSide::kLocal, backupName + ext_);
    return backupName + ext_;
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
  std::optional<OwnArchives> ownLocal_;  // read by Own()
  std::optional<OwnArchives> ownShare_;
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
