// `veltora-cli serve`: the headless agent. The composition root of the window
// logic without a window: the same presenter the tray application runs, over
// a view held in memory, ticked once a second by this loop, and ended by
// SIGTERM or SIGINT as a session's end ends the tray application.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>

#include "app/single_instance.h"
#include "base/fs_path.h"
#include "cli/cli.h"
#include "cli/headless_window.h"
#include "cli/messages.h"
#include "cli/stop_signals.h"
#include "settings/settings_database.h"

namespace veltora {
namespace {

constexpr std::chrono::seconds kTick{1};
// How often a waiting service looks whether the folder is free.
constexpr std::chrono::seconds kFolderPoll{5};

// The service started while a tray program (or a console agent) serves the
// folder. Refusing would end the service, and its recovery actions would
// start it again every minute, each time with a line in the run log; instead
// it says so once, counts as running, and waits until the folder's instance
// lock is free. False when a stop came first. The lock is only probed here:
// start-up claims it for good, and a program that takes it in between only
// costs a refused start.
bool WaitForTheFolder(const std::string& appFolder, StopSignals& stopSignals, std::ostream& err,
                      const ServeHooks& hooks) {
  bool said = false;
  for (;;) {
    std::string error;
    bool heldElsewhere = false;
    if (AppFolderLock::TryAcquire(appFolder, kInstanceLockFileName, error, &heldElsewhere) ||
        !heldElsewhere)
      return true;  // free, or a fault that start-up reports in its own words
    if (!said) {
      err << cli_msg::kServiceWaitsForFolder << "\n";
      if (hooks.running) hooks.running();
      said = true;
    }
    if (stopSignals.WaitFor(kFolderPoll)) return false;
  }
}

// Notices a save made by another process (`veltora-cli settings set`, the
// window on the same folder): the settings file's identity, size or
// modification time has changed since the last look.
class SettingsFileWatch {
 public:
  explicit SettingsFileWatch(std::string path) : path_(std::move(path)) { Changed(); }

  bool Changed() {
    // The size and the write time at the file system's own resolution tell a
    // changed file on every platform.
    Snapshot now;
    std::error_code ec;
    const auto file = PathFromUtf8(path_);
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec) {
      const auto written = std::filesystem::last_write_time(file, ec);
      if (!ec) now = {true, size, written.time_since_epoch().count()};
    }
    const bool changed = now != last_;
    last_ = now;
    return changed;
  }

 private:
  struct Snapshot {
    bool exists = false;
    std::uintmax_t size = 0;
    std::int64_t written = 0;
    bool operator==(const Snapshot&) const = default;
  };
  std::string path_;
  Snapshot last_;
};

}  // namespace

int RunServeCommand(const std::string& appFolder, const CliContext& context, std::ostream& err,
                    const ServeHooks& hooks) {
  // Before any thread exists: every thread made below inherits the blocked
  // stop signals, so they reach only the loop's wait.
  StopSignals stopSignals(!hooks.asService);
  if (hooks.asService && !WaitForTheFolder(appFolder, stopSignals, err, hooks)) return kExitOk;
  // The agent's run log has no listener: its lines are in the file, and its
  // messages on standard error.
  HeadlessWindow window(appFolder, context, err);
  MainWindowPresenter& presenter = window.presenter();
  ProcessState& state = window.state();
  AgentView& view = window.view();
  // Where the messages land in the run log, its own alarm line is there already.
  view.SetAlarmEcho(!hooks.asService);
  if (!presenter.OnStartUp()) {
    // The message is out already; what the lock said helps when it was a
    // lock file that cannot be opened rather than another agent.
    if (!window.lockDetail().empty()) err << "veltora-cli serve: " << window.lockDetail() << "\n";
    return window.refusal().empty() ? kExitFault : kExitRefused;
  }
  if (hooks.running) hooks.running();
  auto stopping = [&] {
    if (hooks.stopping) hooks.stopping();
  };

  // The settings as start-up left them; from here on a save by another process
  // is followed once no backup runs (a run works on its own copy, and the
  // agent's own runs change the file too, which only costs a reload). A reload
  // that fails (the file deleted, damaged, unreadable) has said why and keeps
  // the settings in use; the next change of the file tries again, rather than
  // every tick repeating the message.
  SettingsFileWatch watch(ResolveSettingsDatabasePath(appFolder));
  auto followSavedSettings = [&] {
    if (state.backupRunning || !watch.Changed()) return;
    if (!presenter.FollowSavedSettings()) return;
    try {
      state.configured = window.services().openSettings()->HasAccountList();
    } catch (const std::exception&) {
      return;
    }
    // The guard follows the stored option as at start-up.
    state.guardSwitch = state.configured && view.Checked(Control::kGuardSqlServer);
    if (state.guardSwitch)
      window.guard().Start();
    else
      window.guard().Wake();
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
    return presenter.OnCloseRequested();
  };

  using Steady = std::chrono::steady_clock;
  auto nextTick = Steady::now() + kTick;
  bool stopped = false;
  while (!view.ended()) {
    if (stopSignals.WaitFor(nextTick - Steady::now())) {
      if ((stopped = endSession())) break;
      // Refused for an error rather than a backup: the agent goes on.
      if (!stopOwed && hooks.running) hooks.running();
      continue;
    }
    // A tick that came late (a suspended machine, a busy one) is not made up.
    nextTick += kTick;
    if (nextTick <= Steady::now()) nextTick = Steady::now() + kTick;
    // Nothing but this loop starts a run, so none can start between this test
    // and the end of the session.
    if (stopOwed && !state.backupRunning && (stopped = endSession())) break;
    // The stop waits for the backup: the service manager hears that it is
    // still coming, every tick, so that it keeps waiting.
    if (stopOwed) stopping();
    presenter.OnTimerTick();
    followSavedSettings();
  }
  stopping();
  window.runner().Wait();
  window.guard().Stop();
  // The window logic ended the program by itself: that is a fault, never a
  // clean stop, so that the service manager brings the agent back.
  if (!stopped) {
    err << "veltora-cli serve: " << cli_msg::kEndedWithoutStop << "\n";
    return kExitFault;
  }
  return kExitOk;
}

}  // namespace veltora
