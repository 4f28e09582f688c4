#include "engine/backup_job.h"

#include <exception>
#include <memory>
#include <set>
#include <string_view>

#include "base/path.h"
#include "base/text.h"
#include "engine/compression_stage.h"
#include "engine/distribution_stage.h"
#include "engine/messages.h"

namespace veltora {

bool LocalResult::ok() const { return UpperAscii(succeeded) == msg::kTrue; }

int BackupRunSummary::Succeeded() const {
  int n = 0;
  for (const auto& r : results) n += r.ok() ? 1 : 0;
  return n;
}

bool BackupRunSummary::Complete(const BackupConfig& config) const {
  const int ok = Succeeded();
  return jobCompleted && attempted > 0 && ok == attempted &&
         (config.compressionLevel == 0 || archived == ok) &&
         (!config.remoteBackup || reachedShare == ok);
}

namespace {

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (auto p : parts) out += p;
  return out;
}

std::string ErrorText(const std::exception& e) { return e.what(); }

// Ends the job early; the thread's closing steps still run.
struct JobEnded {};

// Hands out backup stamps, one per account set, taken just before its backup.
// Two backups of one run that would get the same file name in the same second
// get the next free second instead, so that neither overwrites the other. The
// names are compared without regard to ASCII case, as Windows and shares do.
class StampAllocator {
 public:
  explicit StampAllocator(const Clock& clock) : clock_(clock) {}

  // The stamp for `base`, unique within this run.
  std::string Next(const std::string& base) {
    auto when = clock_.Now();
    for (;;) {
      std::string stamp = BackupStamp(ToLocalTime(when));
      if (used_.insert(UpperAscii(base + stamp)).second) return stamp;
      when += std::chrono::seconds(1);
    }
  }

 private:
  const Clock& clock_;
  std::set<std::string> used_;
};

class LocalStage {
 public:
  LocalStage(BackupConfig& config, const BackupServices& services, BackupRunSummary& summary)
      : config_(config), s_(services), summary_(summary), stamps_(services.clock) {}

  void Run() {
    std::unique_ptr<SqlServerConnection> sql;
    try {
      try {
        RunChecksAndConnect(sql);
      } catch (const JobEnded&) {
        throw;
      } catch (const std::exception& e) {
        // The connection (or any other step before the backups) failed.
        RecordSqlConnectFailure(ErrorText(e));
        if (sql) sql->Close();
        throw JobEnded{};
      }
      if (IsSqlEdition(config_.edition)) {
        BackupDatabases(*sql);
        sql->Close();
      } else {
        BackupFiles();
      }
      RecordResults();
      Compress();
      Distribute();
      summary_.jobCompleted = true;
    } catch (const JobEnded&) {
      summary_.jobCompleted = false;
    } catch (const std::exception& e) {
      s_.log.Append(Cat({msg::kJobFailedLine, ErrorText(e)}));
      if (sql) sql->Close();
      summary_.jobCompleted = false;
    }
  }

 private:
  void Log(const std::string& line) { s_.log.Append(line); }

  void RunChecksAndConnect(std::unique_ptr<SqlServerConnection>& sql) {
    // The remote folder's separator is added first thing; the local folder's
    // once it is known to exist.
    if (!config_.remoteFolder.empty())
      config_.remoteFolder = WithTrailingSeparator(config_.remoteFolder);

    for (const auto& entry : config_.accountSets)
      if (entry.ticked) ++ticked_;
    if (ticked_ == 0) {
      Log(msg::kNothingTicked);
      throw JobEnded{};
    }
    if (config_.localBackup) {
      if (!FolderExists(config_.localFolder)) {
        FolderFailure(msg::kLocalFolderInvalid, msg::kLocalFolderInvalidLine);
      } else if (!IsFolderWritable(config_.localFolder)) {
        FolderFailure(msg::kLocalFolderNotWritable, msg::kLocalFolderNotWritableLine);
      }
    }
    if (IsSqlEdition(config_.edition) && s_.ensureSqlServerRunning) s_.ensureSqlServerRunning();

    records_ = s_.records.Create();
    try {
      records_->Open();
    } catch (const std::exception& e) {
      Log(Cat({msg::kRecordsOpenFailed, ErrorText(e)}));
      throw JobEnded{};
    }
    records_->Close();

    config_.localFolder = WithTrailingSeparator(config_.localFolder);
    if (IsSqlEdition(config_.edition)) {
      sql = s_.sqlServer.Create(config_.timeouts);
      sql->Connect(config_.sqlUser, config_.sqlPassword, "master");
    }
  }

  // An early failure of a whole folder: one row, one line, the job ends.
  void FolderFailure(const char* reason, const char* line) {
    auto records = s_.records.Create();
    try {
      records->Open();
      records->InsertFolderFailure(reason, msg::kBackupFailedRemark);
    } catch (const std::exception&) {
      // The line below still tells the user; the row is best effort.
    }
    records->Close();
    Log(line);
    throw JobEnded{};
  }

  void RecordSqlConnectFailure(const std::string& error) {
    try {
      if (!records_) records_ = s_.records.Create();
      records_->Open();
      records_->InsertFolderFailure(msg::kSqlConnectFailedRow, msg::kBackupFailedRemark);
    } catch (const std::exception&) {
    }
    if (records_) records_->Close();
    Log(Cat({msg::kSqlConnectFailedLine, error}));
  }

  // Runs one step in its own trap: a failure is logged and the next step runs.
  template <typename Step, typename OnOk, typename OnFail>
  static void Trap(Step step, OnOk onOk, OnFail onFail) {
    try {
      step();
    } catch (const std::exception& e) {
      onFail(ErrorText(e));
      return;
    }
    onOk();
  }

  void BackupDatabases(SqlServerConnection& sql) {
    for (const auto& entry : config_.accountSets) {
      if (!entry.ticked) continue;
      const std::string& name = entry.name;
      if (name.empty()) continue;  // skipped without a record or a line
      ++summary_.attempted;
      const std::string stamp = stamps_.Next(name);
      const std::string db = QuoteSqlLiteral(entry.database);

      Trap([&] { sql.Execute("exec sp_dboption " + db + ",'select into/bulkcopy','true'"); },
           [&] {
             Log(Cat({msg::kBulkCopyOk, name, msg::kBulkCopySuffix}));
           },
           [&](const std::string& err) {
             Log(Cat({msg::kBulkCopyFailed, name, msg::kBulkCopySuffix, msg::kReason, err}));
           });

      const std::string base = config_.localFolder + name + stamp;
      const std::string file = base + ".bak";
      Trap(
          [&] {
            if (FileExists(file)) ForceDeleteFile(file);
            sql.Execute("backup database " + QuoteSqlIdentifier(entry.database) +
                        " to disk=" + QuoteSqlLiteral(file) + " with init");
          },
          [&] {
            Log(Cat({msg::kBackupOkPrefix, name, msg::kBackupDatabase, entry.database, msg::kTo,
                     config_.localFolder, msg::kBackupOkSuffix}));
            summary_.results.push_back({name, base, msg::kTrue});
          },
          [&](const std::string& err) {
            summary_.results.push_back({name, msg::kLocalFailedPrefix + err, msg::kFalse});
            Log(Cat({msg::kBackupPrefix, name, msg::kBackupDatabase, entry.database, msg::kTo,
                     config_.localFolder, msg::kBackupFailedSuffix, msg::kReason, err}));
          });

      Trap([&] { sql.Execute("EXEC sp_dboption " + db + ",'autoshrink','TRUE'"); },
           [&] {
             Log(Cat({msg::kShrinkOkPrefix, name, msg::kShrinkDatabase, entry.database,
                      msg::kShrinkOkSuffix}));
           },
           [&](const std::string& err) {
             Log(Cat({msg::kShrinkFailedPrefix, name, msg::kShrinkDatabase, entry.database,
                      msg::kShrinkFailedSuffix, msg::kReason, err}));
           });

      Trap([&] { sql.Execute("EXEC sp_dboption " + db + ",'trunc. log on chkpt','false'"); },
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
      ++summary_.attempted;
      const std::string source = JoinPath(config_.accountFolder, entry.name);
      const std::string stem = StemOf(entry.name);
      const std::string base = config_.localFolder + stem + stamps_.Next(stem);
      if (!FileExists(source)) {
        Log(Cat({msg::kSourceGonePrefix, source, msg::kSourceGoneSuffix}));
        summary_.results.push_back({source, msg::kSourceGoneEntry, msg::kFalse});
        continue;
      }
      // A copy that fails without raising (a full disk, a locked source) is a
      // failure entry with its reason, never a success; the safe copy leaves
      // no partial file under the backup's name.
      const CopyOutcome copied = CopyFileSafely(source, base + ".bak", s_.copyProgress);
      if (copied.ok) {
        summary_.results.push_back({source, base, msg::kTrue});
        Log(Cat({msg::kFileBackupOkPrefix, source, msg::kFileBackupOkSuffix}));
      } else {
        summary_.results.push_back({source, msg::kLocalFailedPrefix + copied.error, msg::kFalse});
        Log(Cat({msg::kFileBackupOkPrefix, source, msg::kFileBackupFailedSuffix, msg::kReason,
                 copied.error}));
      }
    }
  }

  void Compress() {
    if (config_.compressionLevel == 0) return;
    const auto extension = RunCompressionStage({config_.compressionLevel, config_.localFolder,
                                                config_.archivePassword, s_.executableFolder},
                                               s_.log);
    if (!extension) throw JobEnded{};
    summary_.extension = *extension;
    // The archiver's own failures are not reported by the command file's run;
    // what counts is whether each backup's archive is there.
    for (const auto& r : summary_.results)
      if (r.ok() && FileExists(r.localFile + summary_.extension)) ++summary_.archived;
  }

  void Distribute() {
    const DistributionOutcome out =
        RunDistributionStage(config_, summary_.results, summary_.extension,
                             {s_.log, s_.files, s_.share, s_.records, s_.copyProgress});
    summary_.reachedShare = out.reachedShare;
    if (!out.completed) throw JobEnded{};
  }

  void RecordResults() {
    try {
      records_->Open();
      for (const auto& r : summary_.results) {
        records_->InsertLocalResult(r.account, r.localFile,
                                    r.ok() ? config_.archivePassword : std::string(), r.ok());
        Log(msg::kResultRowWritten);
      }
      records_->Close();
    } catch (const std::exception& e) {
      records_->Close();
      Log(Cat({msg::kResultRowFailed, ErrorText(e)}));
    }
  }

  BackupConfig& config_;
  const BackupServices& s_;
  BackupRunSummary& summary_;
  StampAllocator stamps_;
  std::unique_ptr<BackupRecords> records_;
  int ticked_ = 0;
};

void CopyRunLogToShare(const BackupConfig& config, const BackupServices& s) {
  const std::string name = FileNameIfExists(s.runLogPath);
  // Without a remote folder there is nowhere to copy to: the copy fails rather
  // than landing in the current folder.
  const bool ok = !config.remoteFolder.empty() &&
                  CopyFileOver(s.files, s.runLogPath, config.remoteFolder + name);
  s.log.Append(Cat({msg::kCopyRunLogPrefix, s.runLogPath, msg::kCopyRunLogMiddle,
                    config.remoteFolder, name, ok ? msg::kCopyRunLogOk : msg::kCopyRunLogFailed}));
}

}  // namespace

BackupRunSummary RunBackupJob(BackupConfig config, const BackupServices& services) {
  BackupRunSummary summary;
  LocalStage(config, services, summary).Run();
  return summary;
}

std::optional<BackupRunSummary> BackupThreadProc(const BackupConfig& config, BackupFlags flags,
                                                 const BackupServices& s) {
  if (!flags.configured.load()) return std::nullopt;
  if (flags.backupRunning.exchange(true)) return std::nullopt;

  BackupConfig remote;  // only the remote folder matters to the error path
  remote.remoteFolder = WithTrailingSeparator(config.remoteFolder);
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

    s.log.Append(msg::kThreadSucceeded);
    if (s.rotateRunLog) s.rotateRunLog();
    flags.backupRunning.store(false);
    return summary;
  } catch (...) {
    s.log.Append(msg::kThreadFailed);
    if (s.rotateRunLog) s.rotateRunLog();
    flags.backupRunning.store(false);
    CopyRunLogToShare(remote, s);
    return BackupRunSummary{};
  }
}

}  // namespace veltora
