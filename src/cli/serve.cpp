// `veltora-cli serve`: the headless agent. The composition root of the window
// logic without a window: the same presenter the tray application runs, over
// a view held in memory, ticked once a second by this loop, and ended by
// SIGTERM or SIGINT as a session's end ends the tray application.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "app/autostart.h"
#include "app/backup_launcher.h"
#include "app/process_state.h"
#include "base/fs_path.h"
#include "app/run_log.h"
#include "app/single_instance.h"
#include "app/startup_checks.h"
#include "cli/agent_view.h"
#include "cli/backup_composition.h"
#include "cli/cli.h"
#include "cli/stop_signals.h"
#include "files/file_ops.h"
#include "files/folder_listing.h"
#include "files/run_file_systems.h"
#include "files/share_connection.h"
#include "files/temp_names.h"
#include "service/service_manager.h"
#include "service/sql_server_guard.h"
#include "settings/settings_database.h"
#include "ui/main_window_presenter.h"

namespace veltora {
namespace {

constexpr std::chrono::seconds kTick{1};

// Notices a save made by another process (`veltora-cli settings set`, the
// window on the same folder): the settings file's identity, size or
// modification time has changed since the last look.
class SettingsFileWatch {
 public:
  explicit SettingsFileWatch(std::string path) : path_(std::move(path)) { Changed(); }

  bool Changed() {
    Snapshot now;
#ifdef _WIN32
    // No inode: the size and the write time (100 ns steps) tell a new file.
    std::error_code ec;
    const auto file = PathFromUtf8(path_);
    const auto size = std::filesystem::file_size(file, ec);
    const auto written = ec ? std::filesystem::file_time_type() : std::filesystem::last_write_time(file, ec);
    if (!ec) {
      const auto ticks = written.time_since_epoch().count();
      now = {true, 0, static_cast<off_t>(size), static_cast<time_t>(ticks / 10'000'000),
             static_cast<long>(ticks % 10'000'000)};
    }
#else
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0)
      now = {true, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
#endif
    const bool changed = now != last_;
    last_ = now;
    return changed;
  }

 private:
  struct Snapshot {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    time_t seconds = 0;
    long nanoseconds = 0;
    bool operator==(const Snapshot&) const = default;
  };
  std::string path_;
  Snapshot last_;
};

}  // namespace

int RunServeCommand(const std::string& appFolder, const CliContext& context, std::ostream& err) {
  // Before any thread exists: every thread made below inherits the blocked
  // stop signals, so they reach only the loop's wait.
  StopSignals stopSignals;
  // Held from the single-instance check to the very end, after the last run.
  std::unique_ptr<AppFolderLock> instanceLock;

  const std::string executablePath =
      context.executablePath.empty() ? ExecutablePath() : context.executablePath;
  auto clock = std::make_shared<SystemClock>();
  ProcessState state(appFolder);
  // The agent's run log has no listener: its lines are in the file, and its
  // messages on standard error.
  RunLog runLog(state.runLogPath, *clock);
  const auto sqlServer = MakeSqlServerFactory(context.sqlStandinFolder);
  const auto serviceManager = MakeSystemServiceManager({.searchPath = context.searchPath});
  SqlServerGuard guard(*serviceManager, {state.guardSwitch, state.configured, state.guardRunning},
                       runLog);
  ThreadBackupRunner runner(state, [&] {
    return ComposeBackupRun({.context = context,
                             .state = state,
                             .log = runLog,
                             .rotateRunLog = [&runLog] { runLog.Rotate(); },
                             .clock = clock,
                             .sqlServer = *sqlServer,
                             .serviceManager = *serviceManager,
                             .progress = {}});
  });

  // The window thread's own file systems, for the folder checks of saving and
  // loading; made on first use, so that a refused start touches nothing.
  std::unique_ptr<LocalAndSmbFileSystems> files;
  auto fileSystems = [&]() -> LocalAndSmbFileSystems& {
    if (!files)
      files = std::make_unique<LocalAndSmbFileSystems>(
          context.smbPort, kDefaultSmbTimeout, CopyMarker::For(MachineName(), state.appFolder));
    return *files;
  };

  const AutostartPlace autostart{.configRoot = kDefaultAutostartRoot,
                                 .executablePath = executablePath,
                                 .searchPath = context.searchPath};
  std::string refusal;  // why start-up was refused, when it was
  std::string lockDetail;
  auto refuse = [&refusal](std::string answer) {
    if (refusal.empty()) refusal = answer;
    return answer;
  };

  MainWindowServices services{
      .state = state,
      .clock = *clock,
      .runLog = runLog,
      .rotateRunLog = [&] { runLog.Rotate(); },
      .openSettings = [&] { return std::make_unique<SettingsDatabase>(appFolder, clock); },
      .sqlServer = *sqlServer,
      .ensureSqlServerRunning =
          [&] { EnsureSqlServerRunning(*serviceManager, state.guardRunning); },
      .startGuard = [&] { return guard.Start(); },
      .wakeGuard = [&] { guard.Wake(); },
      .backupRunner = runner,
      .folderExists = [&](const std::string& f) { return FolderExists(fileSystems().Router(), f); },
      .isFolderWritable =
          [&](const std::string& f) { return IsFolderWritable(fileSystems().Router(), f); },
      .connectShare =
          [&](const std::string& share, const std::string& user, const std::string& password) {
            return ConnectShare(fileSystems().Share(), runLog, share, user, password);
          },
      .readAutostart = [&] { return ReadAutostart(autostart); },
      .registerAutostart =
          [&](std::string& error) { return RegisterAutostart(autostart, runLog, error); },
      .removeAutostart =
          [&](std::string& error) { return RemoveAutostart(autostart, runLog, error); },
      .refuseBlankInPath = [&] { return refuse(RefuseBlankInPath(executablePath)); },
      .claimSingleInstance =
          [&] { return refuse(ClaimSingleInstance(appFolder, instanceLock, lockDetail)); },
      .refuseNonAdministrator = [&] { return refuse(RefuseNonAdministrator()); },
      .sleep = [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); },
  };

  AgentView view(err);
  MainWindowPresenter presenter(view, services);
  if (!presenter.FormCreate()) {
    // The message is out already; what the lock said helps when it was a
    // lock file that cannot be opened rather than another agent.
    if (!lockDetail.empty()) err << "veltora-cli serve: " << lockDetail << "\n";
    return refusal.empty() ? kExitStartFailed : kExitRefused;
  }

  // The settings as start-up left them; from here on a save by another process
  // is followed once no backup runs (a run works on its own copy, and the
  // agent's own runs change the file too, which only costs a reload). A reload
  // that fails has said why; the next change tries again, rather than every
  // tick repeating the message.
  SettingsFileWatch watch(ResolveSettingsDatabasePath(appFolder));
  auto followSavedSettings = [&] {
    if (state.backupRunning || !watch.Changed()) return;
    if (!presenter.BtnLoadClick()) return;
    try {
      state.configured = services.openSettings()->HasAccountList();
    } catch (const std::exception&) {
      return;
    }
    // The guard follows the stored option as at start-up.
    state.guardSwitch = state.configured && view.Checked(Control::kSafeCheck);
    if (state.guardSwitch)
      guard.Start();
    else
      guard.Wake();
  };

  // The end of the session: refused while a backup runs (the refusal is in
  // the run log), and then made by itself once that backup has ended; refused
  // for an error, the agent goes on as the window does, and the next signal
  // tries again. Accepted, the close follows with its stop lines.
  bool stopOwed = false;
  auto endSession = [&] {
    if (!presenter.QueryEndSession()) {
      stopOwed = state.backupRunning.load();
      return false;
    }
    stopOwed = false;
    return presenter.FormCloseQuery();
  };

  using Steady = std::chrono::steady_clock;
  auto nextTick = Steady::now() + kTick;
  while (!view.ended()) {
    if (stopSignals.WaitFor(nextTick - Steady::now())) {
      if (endSession()) break;
      continue;
    }
    // A tick that came late (a suspended machine, a busy one) is not made up.
    nextTick += kTick;
    if (nextTick <= Steady::now()) nextTick = Steady::now() + kTick;
    // Nothing but this loop starts a run, so none can start between this test
    // and the end of the session.
    if (stopOwed && !state.backupRunning && endSession()) break;
    presenter.Timer1Timer();
    followSavedSettings();
  }
  runner.Wait();
  guard.Stop();
  return kExitOk;
}

}  // namespace veltora
