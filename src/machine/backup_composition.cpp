#include "machine/backup_composition.h"

#include "app/run_log.h"
#include "engine/archiver.h"
#include "files/folder_listing.h"
#include "files/run_file_systems.h"
#include "service/sql_server_guard.h"
#include "settings/settings_database.h"
#include "settings/sqlite_backup_records.h"
#include "sqlserver/odbc_sql_server.h"
#include "sqlserver/standin_sql_server.h"

namespace veltora {
namespace {

class ComposedRun final : public RunServices {
 public:
  explicit ComposedRun(const BackupRunInputs& in)
      : records_(in.state.appFolder, in.clock),
        // Marks this agent's temporary files, on this machine and the share alike.
        marker_(CopyMarker::For(MachineName(), in.state.appFolder)),
        services_{.log = in.log,
                  .clock = *in.clock,
                  .sqlServer = in.sqlServer,
                  .records = records_,
                  .runLogPath = in.state.runLogPath,
                  .rotateRunLog = in.rotateRunLog,
                  .uptimeText = UptimeText,
                  .idleText = IdleText,
                  .ensureSqlServerRunning =
                      [&manager = in.serviceManager, &guardRunning = in.state.guardRunning,
                       &log = in.log] { EnsureSqlServerRunning(manager, guardRunning, log); },
                  .progress = in.progress,
                  .makeFileSystems =
                      [port = in.context.smbPort, marker = marker_] {
                        // The run's own: after one time-out, its share fails fast.
                        return std::make_unique<LocalAndSmbFileSystems>(
                            port, kDefaultSmbTimeout, marker, AfterTimeout::kFailAtOnce);
                      },
                  .archiver = ChooseArchiver(in.context.executableFolder, in.context.searchPath),
                  .marker = marker_,
                  .applicationFolder = in.state.appFolder} {}

  const BackupServices& services() const override { return services_; }

 private:
  SqliteBackupRecordsFactory records_;
  CopyMarker marker_;
  BackupServices services_;
};

}  // namespace

std::unique_ptr<RunServices> ComposeBackupRun(const BackupRunInputs& inputs) {
  return std::make_unique<ComposedRun>(inputs);
}

RestoreServices ComposeRestore(const std::string& appFolder, const MachineContext& context,
                               const SqlServerFactory& sqlServer, ProgressListener progress) {
  const CopyMarker marker = CopyMarker::For(MachineName(), appFolder);
  RestoreServices s;
  s.applicationFolder = appFolder;
  s.openSettings = [appFolder] { return std::make_unique<SettingsDatabase>(appFolder); };
  s.makeFileSystems = [port = context.smbPort, marker] {
    return std::make_unique<LocalAndSmbFileSystems>(port, kDefaultSmbTimeout, marker,
                                                    AfterTimeout::kFailAtOnce);
  };
  s.sqlServer = &sqlServer;
  s.archiver = ChooseArchiver(context.executableFolder, context.searchPath);
  s.marker = marker;
  s.clock = std::make_shared<SystemClock>();
  s.progress = std::move(progress);
  return s;
}

std::unique_ptr<SqlServerFactory> MakeSqlServerFactory(const std::string& standinFolder,
                                                       const std::string& host,
                                                       const std::string& port) {
  if (!standinFolder.empty()) return std::make_unique<StandinSqlServerFactory>(standinFolder);
  return std::make_unique<OdbcSqlServerFactory>(FreeTdsServerFrom(host, port));
}

}  // namespace veltora
