#include "engine/backup_job.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <set>
#include <string_view>

#include "base/path.h"
#include "base/text.h"
#include "engine/backup_stamps.h"
#include "engine/compression_stage.h"
#include "engine/distribution_stage.h"
#include "engine/messages.h"

namespace veltora {

namespace msg = engine_msg;

int BackupRunSummary::CompleteSets(const BackupConfig& config) const {
  int n = 0;
  for (const auto& r : results)
    n += r.succeeded && (config.compressionLevel == 0 || r.archived) &&
                 (!config.remoteBackup || r.onShare) && shortSeries.count(r.series) == 0
             ? 1
             : 0;
  return n;
}

int BackupRunSummary::ShortSets(const BackupConfig& config) const {
  int n = ticked - CompleteSets(config);
  for (const std::string& series : shortSeries)
    n += std::none_of(results.begin(), results.end(),
                      [&](const LocalResult& r) { return r.series == series; })
             ? 1
             : 0;
  return n;
}

bool BackupRunSummary::Complete(const BackupConfig& config) const {
  return jobCompleted && ticked > 0 && rowsLost == 0 && ShortSets(config) == 0;
}

namespace {

// The longest file name, in bytes, the local file systems and shares the
// agent writes to accept.
constexpr std::size_t kMaxFileNameBytes = 255;
// The longest extension a backup ends with (".bak", ".rar", ".7z").
constexpr std::size_t kLongestExtension = 4;

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (auto p : parts) out += p;
  return out;
}

// Why a backup base name cannot name a file in the backup folder, or empty.
// Names are data: one that holds a separator or is "." or ".." would put the
// backup somewhere else.
std::string BadBaseName(const std::string& base, const std::string& stamp) {
  if (base.find_first_of("/\\") != std::string::npos || base == "." || base == ".." ||
      base.find('\0') != std::string::npos)
    return msg::kNameLeavesFolder;
  if (base.size() + stamp.size() + kLongestExtension > kMaxFileNameBytes) return msg::kNameTooLong;
  return {};
}

// The whole job: the local stage, compression and distribution. Each stage
// answers whether the job goes on; the first that says no ends it.
class BackupJob {
 public:
  BackupJob(BackupConfig& config, const BackupServices& services, BackupRunSummary& summary)
      : config_(config), s_(services), summary_(summary), stamps_(services.clock) {}

  void Run() { summary_.jobCompleted = RunStages(); }

 private:
  void Log(const std::string& line) { s_.log.Append(line); }

  bool RunStages() {
    // The remote folder's separator is added first thing; the local folder's
    // once it is known to exist.
    if (!config_.remoteFolder.empty())
      config_.remoteFolder = WithTrailingSeparator(config_.remoteFolder);
    for (const auto& entry : config_.accountSets) summary_.ticked += entry.ticked ? 1 : 0;
    if (summary_.ticked == 0) {
      Log(msg::kNothingTicked);
      return false;
    }
    files_ = s_.makeFileSystems();
    std::unique_ptr<SqlServerConnection> sql;
    try {
      if (!CheckAndConnect(sql)) return false;
    } catch (const std::exception& e) {
      // The connection (or another step before the backups) failed.
      RecordSqlConnectFailure(e.what());
      if (sql) sql->Close();
      return false;
    }
    try {
      if (IsSqlEdition(config_.edition)) {
        BackupDatabases(*sql);
        sql->Close();
      } else {
        BackupFiles();
      }
      const bool compressed = Compress();
      RecordResults();
      return compressed && Distribute();
    } catch (const std::exception& e) {
      Log(Cat({msg::kJobFailedLine, e.what()}));
      if (sql) sql->Close();
      return false;
    }
  }

  const FileSystemRouter& Files() const { return files_->Router(); }

  // A stamp for `base` whose backup and archive names are free in the folder.
  std::string NextStamp(const std::string& base) {
    return stamps_.Next(base, [&](const std::string& name) {
      const std::string path = config_.localFolder + name;
      return FileExists(Files(), path + ".bak") ||
             (s_.archiver && FileExists(Files(), path + s_.archiver->extension));
    });
  }

  bool CheckAndConnect(std::unique_ptr<SqlServerConnection>& sql) {
    if (config_.localBackup) {
      if (!FolderExists(Files(), config_.localFolder))
        return FolderFailure(msg::kLocalFolderInvalid, msg::kLocalFolderInvalidLine);
      if (!IsFolderWritable(Files(), config_.localFolder))
        return FolderFailure(msg::kLocalFolderNotWritable, msg::kLocalFolderNotWritableLine);
    }
    // Once a run: the agent writes and reads back files in these folders, and
    // another user who may replace files there may swap one in the gap.
    for (const std::string& folder :
         {config_.localBackup ? config_.localFolder : std::string(), s_.applicationFolder})
      if (!folder.empty() && !IsSharePath(folder) && IsFolderOpenToOthers(folder))
        Log(Cat({msg::kFolderOpenToOthersPrefix, folder, msg::kFolderOpenToOthersSuffix}));
    if (IsSqlEdition(config_.edition) && s_.ensureSqlServerRunning) s_.ensureSqlServerRunning();

    auto records = s_.records.Create();
    try {
      records->Open();
    } catch (const std::exception& e) {
      Log(Cat({msg::kRecordsOpenFailed, e.what()}));
      return false;
    }
    records->Close();

    config_.localFolder = WithTrailingSeparator(config_.localFolder);
    if (IsSqlEdition(config_.edition)) {
      sql = s_.sqlServer.Create(config_.timeouts);
      sql->Connect(config_.sqlUser, config_.sqlPassword, "master");
    }
    return true;
  }

  template <typename Insert>
  std::optional<std::string> Row(Insert insert) {
    return WriteRow(s_.records, summary_.rowsLost, insert);
  }

  // A row whose failure has no line of its own: the reason goes to the log.
  template <typename Insert>
  void RowOrLine(Insert insert) {
    if (const auto lost = Row(insert)) Log(msg::kRowFailed + *lost);
  }

  // An early failure of a whole folder: one row, one line; the job ends.
  bool FolderFailure(const char* reason, const char* line) {
    RowOrLine([&](BackupRecords& r) { r.InsertFolderFailure(reason, msg::kBackupFailedRemark); });
    Log(line);
    return false;
  }

  void RecordSqlConnectFailure(const std::string& error) {
    RowOrLine([&](BackupRecords& r) {
      r.InsertFolderFailure(msg::kSqlConnectFailedRow, msg::kBackupFailedRemark);
    });
    Log(Cat({msg::kSqlConnectFailedLine, error}));
  }

  // Runs one step in its own trap: a failure is logged and the next step runs.
  template <typename Step, typename OnOk, typename OnFail>
  static void Trap(Step step, OnOk onOk, OnFail onFail) {
    try {
      step();
    } catch (const std::exception& e) {
      onFail(std::string(e.what()));
      return;
    }
    onOk();
  }

  static LocalResult Entry(const std::string& account, const std::string& series) {
    LocalResult r;
    r.account = account;
    r.series = series;
    return r;
  }

  void Failed(LocalResult result, const std::string& reason) {
    result.localFile = msg::kLocalFailedPrefix + reason;
    summary_.results.push_back(std::move(result));
  }

  // A name that cannot be a backup file's name: a failure entry and a line.
  bool RefuseBadName(const LocalResult& result, const std::string& shownName,
                     const std::string& stamp) {
    const std::string why = BadBaseName(result.series, stamp);
    if (why.empty()) return false;
    Log(Cat({msg::kBadNamePrefix, shownName, msg::kBadNameMiddle, msg::kReason, why}));
    Failed(result, why);
    return true;
  }

  void Succeeded(LocalResult result, const std::string& stamp) {
    result.backupName = result.series + stamp;
    result.localFile = config_.localFolder + result.backupName;
    result.succeeded = true;
    summary_.results.push_back(std::move(result));
  }

  void BackupDatabases(SqlServerConnection& sql) {
    // Asked once a run: which backup and option statements the server knows.
    const std::optional<SqlServerVersion> version = AskServerVersion(sql);
    for (const auto& entry : config_.accountSets) {
      if (!entry.ticked) continue;
      const std::string& name = entry.name;
      if (name.empty()) continue;  // skipped without a record or a line
      const std::string stamp = NextStamp(name);
      const LocalResult result = Entry(name, name);
      if (RefuseBadName(result, name, stamp)) continue;
      auto option = [&](DatabaseOptionStep step) {
        sql.Execute(DatabaseOptionStatement(step, entry.database, version));
      };

      Trap([&] { option(DatabaseOptionStep::kBulkCopyOn); },
           [&] {
             Log(Cat({msg::kBulkCopyOk, name, msg::kBulkCopySuffix}));
           },
           [&](const std::string& err) {
             Log(Cat({msg::kBulkCopyFailed, name, msg::kBulkCopySuffix, msg::kReason, err}));
           });

      // The server writes under a temporary name, renamed once the statement
      // succeeded: a statement cut off never leaves a partial backup under a
      // backup's name for the later stages to archive and count.
      const std::string file = config_.localFolder + name + stamp + ".bak";
      const std::string temporary =
          config_.localFolder + TemporaryCopyName(s_.marker, name + stamp + ".bak");
      // The server tells nothing while it writes: the step shows its start and
      // its end.
      StepProgress step(s_.progress, ProgressStage::kLocalBackup, name);
      step.Start();
      Trap(
          [&] {
            ForceDeleteFile(Files(), temporary);
            sql.Execute(BackupDatabaseStatement(entry.database, temporary, version));
            if (const FileOutcome renamed = Files().For(file).Rename(temporary, file); !renamed)
              throw std::runtime_error("cannot rename the backup file into place: " +
                                       renamed.error);
          },
          [&] {
            step.Done();
            Log(Cat({msg::kBackupOkPrefix, name, msg::kBackupDatabase, entry.database, msg::kTo,
                     config_.localFolder, msg::kBackupOkSuffix}));
            Succeeded(result, stamp);
            // The server wrote the file where nothing of ours could watch:
            // it is read once here, before the archiver takes it.
            summary_.results.back().content = DigestOfLocalFile(file);
          },
          [&](const std::string& err) {
            ForceDeleteFile(Files(), temporary);
            Failed(result, err);
            Log(Cat({msg::kBackupPrefix, name, msg::kBackupDatabase, entry.database, msg::kTo,
                     config_.localFolder, msg::kBackupFailedSuffix, msg::kReason, err}));
          });

      Trap([&] { option(DatabaseOptionStep::kAutoShrinkOn); },
           [&] {
             Log(Cat({msg::kShrinkOkPrefix, name, msg::kShrinkDatabase, entry.database,
                      msg::kShrinkOkSuffix}));
           },
           [&](const std::string& err) {
             Log(Cat({msg::kShrinkFailedPrefix, name, msg::kShrinkDatabase, entry.database,
                      msg::kShrinkFailedSuffix, msg::kReason, err}));
           });

      Trap([&] { option(DatabaseOptionStep::kTruncateLogOff); },
           [&] {
             Log(Cat({msg::kTruncOk, name, msg::kTruncSuffix}));
           },
           [&](const std::string& err) {
             Log(Cat({msg::kTruncFailed, name, msg::kTruncSuffix, msg::kReason, err}));
           });
    }
  }

  void BackupFiles() {
    for (const auto& entry : config_.accountSets) {
      if (!entry.ticked) continue;
      const std::string source = JoinPath(config_.accountFolder, entry.name);
      const LocalResult result = Entry(source, StemOf(entry.name));
      const std::string stamp = NextStamp(result.series);
      if (RefuseBadName(result, source, stamp)) continue;
      if (!FileExists(Files(), source)) {
        Log(Cat({msg::kSourceGonePrefix, source, msg::kSourceGoneSuffix}));
        LocalResult gone = result;
        gone.localFile = msg::kSourceGoneEntry;
        summary_.results.push_back(std::move(gone));
        continue;
      }
      // A copy that fails without raising (a full disk, a locked source, a
      // link) is a failure entry with its reason, never a success; the copy
      // never leaves a partial file under the backup's name.
      const std::string target = config_.localFolder + result.series + stamp + ".bak";
      StepProgress step(s_.progress, ProgressStage::kLocalBackup, entry.name,
                        s_.progress ? FileSizeOf(source) : 0);
      step.Start();
      const FileOutcome copied =
          Files().For(target).CopyFromLocal(source, target, false, step.ForCopyWrites());
      if (copied.ok) {
        step.Done();
        Succeeded(result, stamp);
        summary_.results.back().content = DigestOfLocalFile(target);
        Log(Cat({msg::kFileBackupOkPrefix, source, msg::kFileBackupOkSuffix}));
      } else {
        Failed(result, copied.error);
        Log(Cat({msg::kFileBackupOkPrefix, source, msg::kFileBackupFailedSuffix, msg::kReason,
                 copied.error}));
      }
    }
  }

  // False when the stage ended the job.
  bool Compress() {
    if (config_.compressionLevel == 0) return true;
    const std::string privateFolder = s_.applicationFolder.empty()
                                          ? std::string()
                                          : JoinPath(s_.applicationFolder, kPrivateFolderName);
    const auto outcome =
        RunCompressionStage({config_.compressionLevel, config_.localFolder, config_.archivePassword,
                             s_.archiver, s_.marker, privateFolder},
                            Files(), s_.log, s_.progress);
    if (!outcome) return false;
    extension_ = outcome->extension;
    std::set<std::string> ours;
    for (auto& r : summary_.results) {
      if (!r.succeeded) continue;
      const std::string bak = r.backupName + ".bak";
      ours.insert(bak);
      r.archived = outcome->archived.count(bak) != 0;
      if (!r.archived) {
        const auto failure = outcome->failures.find(bak);
        r.archiveFailure = failure != outcome->failures.end() ? failure->second : "";
      }
    }
    for (const std::string& bak : outcome->archived)
      if (ours.count(bak) == 0) RecordLeftover(StemOf(bak));
    // A leftover whose archive failed again stays a ".bak" for a later run,
    // and its set fell short in this one.
    for (const auto& [bak, reason] : outcome->failures)
      if (ours.count(bak) == 0) summary_.shortSeries.insert(SeriesOf(StemOf(bak)));
    return true;
  }

  // A backup file that an earlier run left behind (it was killed or the power
  // went before its archive was made, or compression was off then) is
  // archived with this run's: it gets its row now, so that no archive stands
  // without one, under the account set whose backups its name begins with.
  static std::string SeriesOf(const std::string& backupName) {
    return backupName.size() > kBackupStampLength
               ? backupName.substr(0, backupName.size() - kBackupStampLength)
               : backupName;
  }

  void RecordLeftover(const std::string& backupName) {
    const std::string series = SeriesOf(backupName);
    std::string account = series;
    for (const auto& entry : config_.accountSets) {
      if (IsSqlEdition(config_.edition) ? entry.name == series : StemOf(entry.name) == series) {
        account = IsSqlEdition(config_.edition) ? entry.name
                                                : JoinPath(config_.accountFolder, entry.name);
        break;
      }
    }
    const std::string localFile = config_.localFolder + backupName;
    auto lost = Row([&](BackupRecords& rec) {
      rec.InsertLocalResult(account, localFile, config_.archivePassword, true);
    });
    if (!lost) lost = RecordOwn(backupName, series);
    Log(Cat({msg::kLeftoverArchivedPrefix, localFile, ".bak", msg::kLeftoverArchivedSuffix}));
    Log(lost ? msg::kResultRowFailed + *lost : std::string(msg::kResultRowWritten));
  }

  // One row per result: the local backup (with the password only when an
  // archive carries it), and for a backup whose archive failed, a failure row
  // with the reason. A row that cannot be written is said in the run log and
  // makes the run incomplete.
  void RecordResults() {
    const bool compressing = config_.compressionLevel != 0;
    for (auto& r : summary_.results) {
      const std::string password = r.archived ? config_.archivePassword : std::string();
      auto lost = Row([&](BackupRecords& rec) {
        rec.InsertLocalResult(r.account, r.localFile, password, r.succeeded);
      });
      if (!lost && r.succeeded && compressing && !r.archived)
        lost = Row([&](BackupRecords& rec) {
          rec.InsertLocalResult(r.account, msg::kArchiveFailedRowPrefix + r.archiveFailure, "",
                                false);
        });
      else if (!lost && r.succeeded)
        lost = RecordOwn(r.backupName, r.series, &r);
      Log(lost ? msg::kResultRowFailed + *lost : std::string(msg::kResultRowWritten));
    }
  }

  // The backup (or archive) in the local folder is this application folder's
  // own: the only kind its retention there may count and delete.
  std::optional<std::string> RecordOwn(const std::string& backupName, const std::string& series,
                                       LocalResult* result = nullptr) {
    const std::string stamp = backupName.substr(std::min(series.size(), backupName.size()));
    auto lost = Row([&](BackupRecords& rec) {
      rec.RecordOwnArchive(ArchiveSide::kLocal, config_.localFolder, backupName + extension_,
                           stamp);
    });
    if (lost || result == nullptr || !result->content) return lost;
    // Without compression the backup is its own archive; otherwise the
    // archive is read once after the archiver tested it.
    const auto archive = extension_ == ".bak"
                             ? result->content
                             : DigestOfLocalFile(config_.localFolder + backupName + extension_);
    if (!archive) return lost;
    result->digests = BackupDigests{backupName + ".bak", result->content->sha256,
                                    result->content->bytes, archive->sha256, archive->bytes};
    return Row([&](BackupRecords& rec) {
      rec.RecordDigests(ArchiveSide::kLocal, config_.localFolder, backupName + extension_, stamp,
                        *result->digests);
    });
  }

  bool Distribute() {
    return RunDistributionStage(config_, summary_.results, extension_,
                                {s_.log, Files(), files_->Share(), s_.records, s_.progress,
                                 summary_.rowsLost, summary_.shortSeries, stamps_});
  }

  BackupConfig& config_;
  const BackupServices& s_;
  BackupRunSummary& summary_;
  StampAllocator stamps_;
  std::unique_ptr<RunFileSystems> files_;
  std::string extension_ = ".bak";
};

// Clears the backup-running flag however the run ends.
class RunningFlagRelease {
 public:
  explicit RunningFlagRelease(std::atomic<bool>& flag) : flag_(flag) {}
  ~RunningFlagRelease() { flag_.store(false); }
  RunningFlagRelease(const RunningFlagRelease&) = delete;
  RunningFlagRelease& operator=(const RunningFlagRelease&) = delete;

 private:
  std::atomic<bool>& flag_;
};

void CopyRunLogToShare(const std::string& remoteFolder, const BackupServices& s) {
  const std::string name = NameInFolder(s.runLogPath);
  // Without a remote folder there is nowhere to copy to: the copy fails rather
  // than landing in the current folder.
  bool ok = false;
  if (!remoteFolder.empty() && s.makeFileSystems) {
    const auto files = s.makeFileSystems();
    ok = CopyFileOver(files->Router(), s.runLogPath, remoteFolder + name);
  }
  s.log.Append(Cat({msg::kCopyRunLogPrefix, s.runLogPath, msg::kCopyRunLogMiddle, remoteFolder,
                    name, ok ? msg::kCopyRunLogOk : msg::kCopyRunLogFailed}));
}

}  // namespace

BackupRunSummary RunBackupJob(BackupConfig config, const BackupServices& services) {
  BackupRunSummary summary;
  BackupJob(config, services, summary).Run();
  return summary;
}

std::optional<BackupRunSummary> BackupThreadProc(const BackupConfig& config, BackupFlags flags,
                                                 const BackupServices& s) {
  if (!flags.configured.load()) return std::nullopt;
  if (flags.backupRunning.exchange(true)) return std::nullopt;
  const RunningFlagRelease release(flags.backupRunning);
  return RunClaimedBackup(config, flags.configured, s);
}

std::optional<BackupRunSummary> RunClaimedBackup(const BackupConfig& config,
                                                 const std::atomic<bool>& configured,
                                                 const BackupServices& s) {
  if (!configured.load()) return std::nullopt;
  try {
    s.log.Append(config.caption);
    s.log.Append(Cat({msg::kUptimePrefix, s.uptimeText ? s.uptimeText() : std::string()}));
    s.log.Append(Cat({msg::kIdlePrefix, s.idleText ? s.idleText() : std::string()}));
    s.log.Append(msg::kThreadStarted);

    BackupRunSummary summary = RunBackupJob(config, s);

    auto records = s.records.Create();
    try {
      records->Open();
      records->MakeSpareCopy();
    } catch (const std::exception&) {
      // The spare copy is best effort; the run's outcome stands.
    }
    records->Close();

    // Nothing ticked is no failure of the thread: the job said why it did
    // nothing.
    if (summary.ticked == 0 || summary.Complete(config)) {
      s.log.Append(msg::kThreadSucceeded);
    } else {
      s.log.Append(
          Cat({msg::kThreadFinishedWithFailuresPrefix, std::to_string(summary.ShortSets(config)),
               msg::kThreadFinishedWithFailuresSuffix}));
    }
    if (s.rotateRunLog) s.rotateRunLog();
    return summary;
  } catch (const std::exception& e) {
    s.log.Append(Cat({msg::kThreadFailed, e.what()}));
    if (s.rotateRunLog) s.rotateRunLog();
    CopyRunLogToShare(
        config.remoteFolder.empty() ? std::string() : WithTrailingSeparator(config.remoteFolder),
        s);
    return BackupRunSummary{};
  }
}

}  // namespace veltora
