// The services of a main window on this machine: the process state, the run
// log, SQL Server, the service manager and the guard, the backup runner, the
// instance lock, the file systems of the folder checks, autostart and the
// start-up checks, gathered as the MainWindowServices that a presenter takes.
// Shared by the front ends' composition roots: the command line's in-memory
// window and the tray application's Win32 window.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "app/power_control.h"
#include "app/process_state.h"
#include "app/run_log.h"
#include "app/single_instance.h"
#include "engine/progress.h"
#include "files/run_file_systems.h"
#include "machine/backup_launcher.h"
#include "machine/machine_context.h"
#include "service/service_manager.h"
#include "service/sql_server_guard.h"
#include "sqlserver/sql_server_connection.h"
#include "ui/main_window_presenter.h"

namespace veltora {

struct MachineServicesOptions {
  // Hears every run-log line as it is written (the command line echoes them).
  RunLog::Listener runLogListener;
  // Hears the progress of the runs the window starts.
  ProgressListener progress;
  // Hears the end of each run the window starts (after a scheduled run's
  // test restore).
  ThreadBackupRunner::RunEnded runEnded;
  // The clock of the window, its runs and its run log; null: the system's.
  std::shared_ptr<const Clock> clock = nullptr;
  // Start-up makes the executable's folder the current folder (the window
  // program); the command line keeps the folder it was started in.
  bool enterExecutableFolder = false;
  // How long a save waits for another one of the folder to end before it is
  // refused as in progress.
  std::chrono::milliseconds settingsLockWait = kSettingsLockWait;
  // The tray program: when the folder's instance lock is held elsewhere and
  // the agent's service runs, start-up does not refuse but makes the window
  // the service's window (MainWindowServices::servesAsServiceWindow). The
  // headless agent keeps refusing a second agent.
  bool mayServeAsServiceWindow = false;
  // The service manager and the power control; null: the system's.
  std::shared_ptr<ServiceManager> serviceManager = nullptr;
  std::shared_ptr<PowerControl> power = nullptr;
};

// A scheduled run (not "立即备份") ends with the weekly test restore when it
// is due (weekly_test_restore.h), on the run's thread while the run still
// holds the backup-running flag and the run lock: no backup starts and no
// pruning happens while it reads the archives.
class MachineServices {
 public:
  MachineServices(const std::string& appFolder, const MachineContext& context,
                  MachineServicesOptions options = {});
  ~MachineServices();
  MachineServices(const MachineServices&) = delete;
  MachineServices& operator=(const MachineServices&) = delete;

  const MainWindowServices& services() const { return *services_; }
  ProcessState& state() { return state_; }
  RunLog& runLog() { return runLog_; }
  ThreadBackupRunner& runner() { return runner_; }
  SqlServerGuard& guard() { return guard_; }
  // A fresh connection to the application folder's settings database.
  std::unique_ptr<SettingsDatabase> OpenSettings() const;
  // The window's SQL Server client factory, for the restores it starts.
  const SqlServerFactory& sqlServer() const { return *sqlServer_; }
  // The folder's settings lock for one save (the holdSettingsLock service):
  // taken within the settings-lock wait, or null with `busy` (another save
  // holds it) or `error`. While a hold is alive, asking again answers it, so
  // the command line can hold the lock from its load and its window's save
  // still gets it.
  std::shared_ptr<void> HoldSettingsLock(bool& busy, std::string& error);
  // The first start-up refusal the window met (blank path, another instance,
  // no administrator); empty when none, also when the instance lock failed for
  // a fault (its message is out, and lockDetail() says why). What the instance lock said, for
  // the log of a refused start.
  const std::string& refusal() const { return refusal_; }
  const std::string& lockDetail() const { return lockDetail_; }

 private:
  LocalAndSmbFileSystems& FileSystems();

  const std::string appFolder_;
  // A copy: callers pass temporaries, and the runs read it long after.
  const MachineContext context_;
  const std::string executablePath_;
  std::shared_ptr<const Clock> clock_;
  ProcessState state_;
  RunLog runLog_;
  std::unique_ptr<SqlServerFactory> sqlServer_;
  std::shared_ptr<ServiceManager> serviceManager_;
  std::shared_ptr<PowerControl> power_;
  SqlServerGuard guard_;
  ThreadBackupRunner runner_;
  // Held from the single-instance check for the window's whole life.
  std::unique_ptr<AppFolderLock> instanceLock_;
  // The window thread's own file systems for the folder checks, made on first
  // use so that a refused start touches nothing.
  std::unique_ptr<LocalAndSmbFileSystems> files_;
  std::string refusal_;
  std::string lockDetail_;
  bool serviceWindow_ = false;
  std::chrono::milliseconds settingsLockWait_;
  std::weak_ptr<AppFolderLock> settingsLock_;
  std::unique_ptr<MainWindowServices> services_;
};

}  // namespace veltora
