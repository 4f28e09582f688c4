// The shell of the main window: start-up, closing and the end of the session,
// the tray menu, the one-second timer, "立即备份", the start-with-the-system
// box and the backup log button. Loading, saving and the field handlers live
// in the other files of the presenter.
#include "ui/main_window_presenter.h"

#include <exception>
#include <thread>
#include <utility>

#include "app/messages.h"
#include "service/messages.h"
#include "ui/messages.h"
#include "ui/presenter_support.h"

namespace veltora {
namespace {

using namespace std::chrono_literals;

// The close wait polls the guard this often while the window stays responsive.
constexpr std::chrono::milliseconds kGuardPollInterval = 500ms;
// The working set is trimmed on every this many timer ticks.
constexpr int kTicksPerTrim = 60;
// The service's window asks the service manager for the service's state on
// every this many ticks: often enough to see a stop soon, rarely enough to
// cost nothing.
constexpr int kTicksPerServiceLook = 5;

std::string Refusal(const std::function<std::string()>& check) { return check ? check() : ""; }

}  // namespace

MainWindowPresenter::MainWindowPresenter(MainWindowView& view, MainWindowServices services)
    : view_(view), s_(std::move(services)), schedule_{s_.runLog}, backupWatch_{s_.runLog} {}

void MainWindowPresenter::Guarded(const std::function<void()>& body) noexcept {
  ui_detail::Guarded(s_.runLog, body);
}

bool MainWindowPresenter::OnStartUp() {
  // The command file and the older tools break on a blank in the path: refuse
  // before anything is touched, so nothing is logged and no lock is taken.
  if (const std::string refusal = Refusal(s_.refuseBlankInPath); !refusal.empty()) {
    view_.ShowNotice(refusal);
    view_.EndProgram();
    return false;
  }

  try {
    ClearPasswordGroup();
    if (s_.enterExecutableFolder) s_.enterExecutableFolder();

    // Nothing runs yet: no start handled this minute, none owed, no backup.
    schedule_.ResetFlags();
    s_.state.backupRunning = false;
    quitConfirmed_ = false;
    scheduleStopped_ = false;

    for (const auto* check : {&s_.claimSingleInstance, &s_.refuseNonAdministrator}) {
      if (const std::string refusal = Refusal(*check); !refusal.empty()) {
        view_.ShowWarning(refusal);
        view_.EndProgram();
        return false;
      }
    }
    serviceWindow_ = s_.servesAsServiceWindow && s_.servesAsServiceWindow();
    ticksUntilServiceLook_ = 0;

    // The box starts off, so only a registration of this executable changes
    // it; that change registers again, as a click would.
    if (s_.readAutostart) {
      const AutostartRegistration registration = s_.readAutostart();
      const bool on = registration.exists && registration.namesThisExecutable;
      const bool wasOn = view_.Checked(Control::kAutostart);
      view_.SetChecked(Control::kAutostart, on);
      if (on && !wasOn) AutostartClicked();
    }

    s_.state.guardSwitch = false;
    s_.state.guardRunning = false;
    std::unique_ptr<SettingsDatabase> db;
    try {
      db = s_.openSettings();
    } catch (const std::exception& e) {
      view_.ShowNotice(std::string(ui_msg::kStartupDatabaseError) + e.what());
      s_.runLog.Append(std::string(ui_msg::kStartupFailed) + e.what());
      if (s_.rotateRunLog) s_.rotateRunLog();
      view_.EndProgram();
      return false;
    }

    const bool configured = db->HasAccountList();
    db.reset();
    if (configured) {
      s_.state.configured = true;
      view_.SetTrayVisible(true);
      view_.HideToTray();
    } else {
      view_.ShowWarning(ui_msg::kNotConfigured);
      view_.SetTrayVisible(false);
      view_.ShowNormal();
    }

    // Loading as "读取设置" does, but a failure is start-up's to report: in
    // the run log, not in a box.
    if (!LoadIntoView()) {
      // The settings could not be opened a second time: the load has said so
      // and asked for the end.
      s_.runLog.Append(std::string(ui_msg::kStartupFailed) + ui_msg::kLoadOpenFailed);
      if (s_.rotateRunLog) s_.rotateRunLog();
      return false;
    }
    ShowNextBackupLabel();
    schedule_.SetBackupTimeText(view_.Text(Control::kBackupTime));
    StartGuardAtStartup();
    // The alarm line of the day is not repeated by a restart.
    if (s_.runLogDayOf) backupWatch_.SetAlarmDay(s_.runLogDayOf(ui_msg::kBackupAlarmPrefix));

    s_.runLog.Append(ui_msg::kStartupSucceeded);
    if (s_.rotateRunLog) s_.rotateRunLog();
  } catch (const std::exception& e) {
    // The program goes on with the window as far as start-up got.
    s_.runLog.Append(std::string(ui_msg::kStartupFailed) + e.what());
    if (s_.rotateRunLog) s_.rotateRunLog();
  }
  return true;
}

// A configured program whose guard option is stored on keeps SQL Server
// running from the start, not only after the next save. The guard's start
// claims the guard-running flag itself, so a save later starts no second one.
void MainWindowPresenter::StartGuardAtStartup() {
  // The service's window leaves the guard to the service.
  if (serviceWindow_ || !s_.state.configured || !view_.Checked(Control::kGuardSqlServer)) return;
  s_.state.guardSwitch = true;
  if (!s_.state.guardRunning && s_.startGuard) s_.startGuard();
}

void MainWindowPresenter::ShowNextBackupLabel() {
  view_.SetNextBackupText(NextBackupLabel(schedule_.NextBackupTime()));
  ArmWakeTimer();
}

// A machine asleep at the backup time would miss it: the timer wakes it. Only
// the process that runs the schedule arms it, and only for a time still to
// come (a due time already passed is being made up now). A time asked for
// once is not asked again, so a refusal is tried anew only when the time
// moves, and its line is written once until a setting succeeds.
void MainWindowPresenter::ArmWakeTimer() {
  if (serviceWindow_ || !s_.setWakeTimer || !s_.state.configured) return;
  const DateTime next = schedule_.NextBackupTime();
  if (wakeTimerAt_ == next || next <= ToDateTime(s_.clock.LocalNow())) return;
  wakeTimerAt_ = next;
  std::string error;
  if (s_.setWakeTimer(FromDateTime(next), error)) {
    wakeTimerFailed_ = false;
    return;
  }
  if (!wakeTimerFailed_) s_.runLog.Append(app_msg::kWakeTimerFailed + error);
  wakeTimerFailed_ = true;
}

void MainWindowPresenter::ShowServiceStatus(bool running) {
  if (running) {
    // This window's own "立即备份".
    view_.SetStatus(ui_msg::kStatusRunning, StatusColour::kRed);
    ticksUntilServiceLook_ = 0;
    return;
  }
  if (ticksUntilServiceLook_-- > 0) return;
  ticksUntilServiceLook_ = kTicksPerServiceLook - 1;
  const std::string state =
      s_.agentServiceState ? s_.agentServiceState() : std::string(service_msg::kError);
  // A stopped or failed service would leave the folder without backups while
  // this window runs: once the folder is free, the window is its agent, with
  // the settings and the last start as the service left them in the file.
  if (state != service_msg::kRunning && s_.takeOverFromService && s_.takeOverFromService()) {
    serviceWindow_ = false;
    s_.runLog.Append(ui_msg::kTookOverFromService);
    FollowSavedSettings();
    StartGuardAtStartup();
    ShowNextBackupLabel();
    view_.SetStatus(ui_msg::kStatusIdle, StatusColour::kGreen);
    return;
  }
  view_.SetStatus(ui_msg::kStatusServiceHead + state + ui_msg::kStatusServiceTail,
                  state == service_msg::kRunning ? StatusColour::kGreen : StatusColour::kRed);
}

// Clears the guard switch and waits until the guard thread has seen it. The
// schedule is stopped first: the window handles its messages meanwhile, and
// neither its timer nor "立即备份" may start a backup that the end would cut
// off.
void MainWindowPresenter::WaitForGuardToEnd(bool keepQuitOff) {
  scheduleStopped_ = true;
  while (s_.state.guardRunning) {
    s_.state.guardSwitch = false;
    if (s_.wakeGuard) s_.wakeGuard();
    view_.ProcessPendingMessages();
    if (keepQuitOff) quitConfirmed_ = false;
    if (s_.sleep) {
      s_.sleep(kGuardPollInterval);
    } else {
      std::this_thread::sleep_for(kGuardPollInterval);
    }
  }
}

bool MainWindowPresenter::OnCloseRequested() {
  // A close request that arrives while an earlier one waits for the guard
  // (its messages are being handled) is that same close.
  if (scheduleStopped_) return false;
  try {
    if (view_.HiddenInTray()) quitConfirmed_ = true;
    if (!quitConfirmed_) {
      view_.SetTrayVisible(true);
      view_.HideToTray();
      return false;
    }
    if (s_.state.backupRunning) {
      quitConfirmed_ = false;
      view_.ShowWarning(ui_msg::kCloseRefusedBackupRunning);
      return false;
    }
    WaitForGuardToEnd(false);
    s_.state.guardSwitch = false;
    if (s_.state.configured.exchange(false)) s_.runLog.Append(ui_msg::kServiceStopped);
    s_.runLog.Append(ui_msg::kProgramStopped);
    s_.runLog.Append(ui_msg::kProtectionReleased);
    view_.EndProgram();
    return true;
  } catch (const std::exception&) {
    scheduleStopped_ = false;
    s_.runLog.Append(ui_msg::kCloseFailed);
    return false;
  }
}

bool MainWindowPresenter::QueryEndSession() {
  const bool wasStopped = scheduleStopped_;
  try {
    quitConfirmed_ = false;
    if (s_.state.backupRunning) {
      s_.runLog.Append(ui_msg::kEndSessionRefused);
      return false;
    }
    WaitForGuardToEnd(true);
    // The session may still be cancelled by another program: the schedule
    // goes on until a close really ends this one.
    scheduleStopped_ = wasStopped;
    s_.runLog.Append(ui_msg::kEndSessionAccepted);
    quitConfirmed_ = true;
    return true;
  } catch (const std::exception& e) {
    scheduleStopped_ = wasStopped;
    s_.runLog.Append(std::string(ui_msg::kEndSessionFailed) + e.what());
    quitConfirmed_ = false;
    return false;
  }
}

void MainWindowPresenter::ExitProgramClicked() {
  quitConfirmed_ = true;
  OnCloseRequested();
}

void MainWindowPresenter::TrayRestoreClicked() {
  try {
    view_.ShowNormal();
  } catch (const std::exception&) {
  }
}

// "退出自动备份" ends the program the way "退出程序" does: refused while a
// backup runs, after the guard has ended, with the stop lines.
void MainWindowPresenter::TrayExitClicked() {
  quitConfirmed_ = true;
  OnCloseRequested();
}

void MainWindowPresenter::OnTimerTick() {
  if (scheduleStopped_) return;
  try {
    const bool running = s_.state.backupRunning;
    if (serviceWindow_) {
      ShowServiceStatus(running);
    } else if (running) {
      view_.SetStatus(ui_msg::kStatusRunning, StatusColour::kRed);
    } else {
      view_.SetStatus(ui_msg::kStatusIdle, StatusColour::kGreen);
    }
    // A resident agent that backs up once a day need not hold its pages in
    // between: every 60th tick they go back to the system.
    if (++ticksSinceTrim_ >= kTicksPerTrim || ticksSinceTrim_ < 0) {
      ticksSinceTrim_ = 0;
      if (s_.trimWorkingSet) s_.trimWorkingSet();
    }
    // The service runs the schedule; its window would make a second one.
    if (!serviceWindow_) {
      const TickResult tick =
          schedule_.Tick(ToDateTime(s_.clock.LocalNow()), s_.state.configured, running, *this);
      if (tick.labelChanged) ShowNextBackupLabel();
    }
    WatchBackups(ToDateTime(s_.clock.LocalNow()), running);
  } catch (const std::exception&) {
    // The next tick tries again.
  }
}

// Whether the ticked account sets have recent complete backups: looked at
// hourly and as soon as a run has ended, so the tray clears after the backup
// that makes up for a gap. Only a configured program watches.
void MainWindowPresenter::WatchBackups(DateTime now, bool running) {
  if (sawBackupRunning_ && !running) backupWatch_.LookSoon();
  sawBackupRunning_ = running;
  if (!s_.state.configured || running) return;
  const auto change =
      backupWatch_.Check(now, [&] { return AssessBackups(*s_.openSettings(), now); });
  if (change) view_.SetBackupAlarm(change->overdue, change->announce);
}

// Only the schedule starts through here: its runs are the scheduled ones.
StartOutcome MainWindowPresenter::StartBackup() { return StartRun(true); }

StartOutcome MainWindowPresenter::StartRun(bool scheduled) {
  startFailure_.clear();
  if (scheduleStopped_) return StartOutcome::kFailed;
  try {
    BackupConfig config = config_;
    config.scheduled = scheduled;
    const StartOutcome outcome = s_.backupRunner.Start(config);
    if (outcome == StartOutcome::kFailed) startFailure_ = s_.backupRunner.StartFailure();
    return outcome;
  } catch (const std::exception&) {
    return StartOutcome::kFailed;
  }
}

void MainWindowPresenter::RecordScheduledStart() {
  try {
    s_.openSettings()->UpdateLastBackupDay();
  } catch (const std::exception&) {
    // The run has started all the same; the next load reads an older time.
  }
}

StartOutcome MainWindowPresenter::BackUpNowClicked() {
  // A click handled inside the close wait: the program is ending, and a
  // capture would switch the guard on again.
  if (scheduleStopped_) return StartOutcome::kFailed;
  try {
    if (!s_.state.configured) {
      view_.ShowWarning(ui_msg::kBackupNowNotConfigured);
      return StartOutcome::kFailed;
    }
    if (s_.state.backupRunning) {
      view_.ShowWarning(ui_msg::kBackupNowAlreadyRunning);
      return StartOutcome::kAlreadyRunning;
    }
    bool anyTicked = false;
    for (const AccountSetEntry& row : view_.AccountRows()) anyTicked = anyTicked || row.ticked;
    if (!anyTicked) {
      view_.ShowNotice(ui_msg::kBackupNowNothingTicked);
      return StartOutcome::kFailed;
    }
    CaptureBackupConfiguration();
    const StartOutcome outcome = StartRun(false);
    switch (outcome) {
      case StartOutcome::kStarted:
        view_.ProcessPendingMessages();
        view_.ShowNotice(ui_msg::kBackupNowStarted);
        break;
      case StartOutcome::kAlreadyRunning:
        // Another starter claimed the flag after the look above.
        view_.ShowWarning(ui_msg::kBackupNowAlreadyRunning);
        break;
      case StartOutcome::kFailed:
        // A known reason (a run lock that is not ours) is told as it is.
        view_.ShowWarning(startFailure_.empty() ? std::string(ui_msg::kBackupNowStartFailed)
                                                : startFailure_);
        break;
    }
    return outcome;
  } catch (const std::exception&) {
    return StartOutcome::kFailed;
  }
}

void MainWindowPresenter::BackupLogClicked() {
  try {
    view_.ShowBackupLog();
  } catch (const std::exception&) {
  }
}

// Register and remove write their own run-log lines; the box shows the
// warnings, with the reason the registration gave on a line of its own.
void MainWindowPresenter::AutostartClicked() {
  try {
    std::string error;
    if (view_.Checked(Control::kAutostart)) {
      if (s_.registerAutostart(error)) return;
      view_.ShowWarning(error.empty() ? std::string(app_msg::kAutostartWriteFailed)
                                      : std::string(app_msg::kAutostartWriteFailed) + "\n" + error);
      view_.SetChecked(Control::kAutostart, false);
      AutostartClicked();
      return;
    }
    if (s_.removeAutostart(error)) return;
    view_.ShowWarning(error.empty() ? std::string(app_msg::kAutostartRemoveFailed)
                                    : std::string(app_msg::kAutostartRemoveFailed) + "\n" + error);
  } catch (const std::exception& e) {
    view_.ShowWarning(std::string(ui_msg::kAutostartError) + e.what());
  }
}

}  // namespace veltora
