// One backup run: the backup thread's procedure and the job it runs.
//
// The run works on a BackupConfig captured by its starter and on connections
// and file systems of its own (a fresh SQL Server client, a fresh
// settings-database handle and fresh file systems per run), so the window
// thread can go on using its own while a run is under way. Every outcome goes
// to the run log and the backup table; nothing throws out of BackupThreadProc.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/line_log.h"
#include "engine/archiver.h"
#include "engine/backup_config.h"
#include "engine/backup_records.h"
#include "engine/local_result.h"
#include "engine/progress.h"
#include "files/file_ops.h"
#include "files/file_system.h"
#include "files/temp_names.h"
#include "sqlserver/sql_server_connection.h"

namespace veltora {

// The agent's own subfolder of its application folder, which only its user
// can enter.
inline constexpr char kPrivateFolderName[] = "veltora-private";

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
  ProgressListener progress;                     // progress of the long steps; may be empty
  // Fresh file systems (local folders and the share) for each run.
  std::function<std::unique_ptr<RunFileSystems>()> makeFileSystems;
  std::optional<Archiver> archiver;  // none: no archiver to be had
  // Marks this agent's temporary files (its application folder's own).
  CopyMarker marker;
  // The application folder; the command file goes to its private subfolder
  // kPrivateFolderName (where the platform allows). Empty: the backup folder.
  std::string applicationFolder;
};

// The process-wide flags the thread coordinates through.
struct BackupFlags {
  std::atomic<bool>& configured;
  std::atomic<bool>& backupRunning;
};

// What a run did, for front ends that report it (the command line's exit code).
struct BackupRunSummary {
  int ticked = 0;                    // ticked account sets when the run started
  bool jobCompleted = false;         // false when a stage ended the job early
  std::vector<LocalResult> results;  // one per account set the job set out to back up
  int rowsLost = 0;                  // backup-table rows that could not be written
  // Series (backup base names) that fell short beyond their own result: a
  // leftover backup whose archive failed again, a pruning that failed.
  std::set<std::string> shortSeries;
  // Account sets that went through every stage that is on: backed up, archived
  // when compressing, verified on the share when remote backup is on, and
  // none of their series' short.
  int CompleteSets(const BackupConfig& config) const;
  // The account sets the closing line names as fallen short: the ticked ones
  // not complete, and the short series that no result of this run stands for.
  int ShortSets(const BackupConfig& config) const;
  // The run did all it was asked: every ticked set complete, every row written.
  bool Complete(const BackupConfig& config) const;
};

// Runs one backup pass synchronously on the calling thread. Returns nothing
// when the configured flag is clear or another run holds the running flag
// (claimed by an atomic exchange, released on every path).
std::optional<BackupRunSummary> BackupThreadProc(const BackupConfig& config, BackupFlags flags,
                                                 const BackupServices& services);

// The same pass for a starter that has claimed the backup-running flag itself
// (one exchange, before it created the thread) and releases it when this
// returns. Nothing when the configured flag is clear.
std::optional<BackupRunSummary> RunClaimedBackup(const BackupConfig& config,
                                                 const std::atomic<bool>& configured,
                                                 const BackupServices& services);

// The job on its own, without the thread's opening and closing lines.
BackupRunSummary RunBackupJob(BackupConfig config, const BackupServices& services);

}  // namespace veltora
