// One backup run: the backup thread's procedure and the job's local stage.
//
// The run works on a BackupConfig captured by its starter and on connections
// of its own (a fresh SQL Server client and a fresh settings-database handle
// per run), so the window thread can go on using its own while a run is under
// way. Every outcome goes to the run log and the backup table; nothing throws
// out of BackupThreadProc.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/line_log.h"
#include "engine/backup_config.h"
#include "engine/backup_records.h"
#include "sqlserver/sql_server_connection.h"
#include "files/file_ops.h"
#include "files/file_system.h"
#include "files/share_connection.h"

namespace veltora {

// What the run needs from outside; created by the front end's composition root.
struct BackupServices {
  LineLog& log;
  const Clock& clock;
  const SqlServerFactory& sqlServer;
  const BackupRecordsFactory& records;
  std::string runLogPath;
  std::function<void()> rotateRunLog;       // rotation after each run
  std::function<std::string()> uptimeText;  // "3时25分7秒"
  std::function<std::string()> idleText;
  std::function<void()> ensureSqlServerRunning;  // may be empty
  CopyProgress copyProgress;                     // progress of long file copies; may be empty
  const FileSystemRouter& files;                 // local folders and the share
  ShareConnector& share;
  std::string executableFolder;  // where a RAR archiver would lie
};

// The process-wide flags the thread coordinates through.
struct BackupFlags {
  std::atomic<bool>& configured;
  std::atomic<bool>& backupRunning;
};

// One account set's local result. `localFile` is the backup's path without
// ".bak" on success, the failure text otherwise; `succeeded` is "TRUE" or "False".
struct LocalResult {
  std::string account;
  std::string localFile;
  std::string succeeded;
  bool ok() const;
};

// What a run did, for front ends that report it (the command line's exit code).
struct BackupRunSummary {
  bool jobCompleted = false;  // false when a stage ended the job early
  int attempted = 0;          // ticked account sets the job set out to back up
  std::vector<LocalResult> results;
  std::string extension = ".bak";  // of the run's backups after compression
  int archived = 0;                // successful backups now in an archive
  int reachedShare = 0;            // successful backups now on the share
  int Succeeded() const;
  // Every ticked account set went through every stage that is on: backed up,
  // archived when compressing, and on the share when remote backup is on.
  bool Complete(const BackupConfig& config) const;
};

// Runs one backup pass synchronously on the calling thread. Returns nothing
// when the configured flag is clear or another run holds the running flag
// (claimed by an atomic exchange, cleared on every path).
std::optional<BackupRunSummary> BackupThreadProc(const BackupConfig& config, BackupFlags flags,
                                                 const BackupServices& services);

// The job's local stage on its own: the checks, one backup per ticked account
// set, and the local result rows. Exposed for tests; BackupThreadProc runs it.
BackupRunSummary RunBackupJob(BackupConfig config, const BackupServices& services);

}  // namespace veltora
