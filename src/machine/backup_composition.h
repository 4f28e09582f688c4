// The composition of one backup run for the command line's front ends:
// `veltora-cli backup` makes one run with it on its own thread, and the agent's
// runner makes a fresh one for every run it starts.
#pragma once

#include <memory>
#include <string>

#include "app/process_state.h"
#include "base/clock.h"
#include "base/line_log.h"
#include "engine/progress.h"
#include "files/file_system.h"
#include "machine/backup_launcher.h"
#include "machine/machine_context.h"
#include "service/service_manager.h"
#include "sqlserver/sql_server_connection.h"
#include "ui/restore.h"

namespace veltora {

// What the runs of one process share. Everything referred to must outlive
// every run composed from it.
struct BackupRunInputs {
  const MachineContext& context;
  const ProcessState& state;  // the application folder, the run-log path, guardRunning
  LineLog& log;
  std::function<void()> rotateRunLog;
  std::shared_ptr<const Clock> clock;
  const SqlServerFactory& sqlServer;
  ServiceManager& serviceManager;
  ProgressListener progress;  // may be empty
};

// The services of one run: the settings database's backup table, fresh file
// systems (local and SMB on the context's port) per run, the archiver found
// beside the executable or on the PATH, the temporary-file marker of this
// machine and application folder, and the SQL Server start check through the
// service manager (skipped while the guard runs).
std::unique_ptr<RunServices> ComposeBackupRun(const BackupRunInputs& inputs);

// The services of restores and test restores from `appFolder`, as a backup
// run of the same folder would have them: its settings database, fresh file
// systems with this agent's marker, the archiver. `sqlServer` must outlive
// them; `backUpFirst` is left to the caller.
RestoreServices ComposeRestore(const std::string& appFolder, const MachineContext& context,
                               const SqlServerFactory& sqlServer, ProgressListener progress);

// The stand-in when a folder is named; otherwise FreeTDS to the local default
// instance, or to `host` and `port` (VELTORA_SQLSERVER_HOST and
// VELTORA_SQLSERVER_PORT) when named.
std::unique_ptr<SqlServerFactory> MakeSqlServerFactory(const std::string& standinFolder,
                                                       const std::string& host,
                                                       const std::string& port);

}  // namespace veltora
