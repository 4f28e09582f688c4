// The main window's logic without a toolkit: start-up and closing, loading and
// saving the settings, the archive password, the account-set list, the field
// handlers, the schedule's timer and "立即备份". It drives a MainWindowView
// and reaches everything else through MainWindowServices, created by the
// front end's composition root. Every handler runs on one thread (the
// window's, or the agent's loop), catches its own errors and leaves the view
// usable.
//
// Handlers carry the names of the window's events (SaveSettingsClicked, BackupTimeLeft,
// OnTimerTick, ...). The view calls them; tests call them the same way.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/autostart.h"
#include "app/process_state.h"
#include "base/clock.h"
#include "base/line_log.h"
#include "engine/backup_config.h"
#include "settings/settings_database.h"
#include "sqlserver/sql_server_connection.h"
#include "ui/backup_health.h"
#include "ui/backup_runner.h"
#include "ui/main_window_view.h"
#include "ui/schedule.h"

namespace veltora {

struct MainWindowServices {
  ProcessState& state;
  const Clock& clock;
  LineLog& runLog;
  std::function<void()> rotateRunLog;
  // The day of the run log's newest line that begins with the prefix
  // ("yyyy-mm-dd"; empty when none): what an earlier process said today.
  // May be empty.
  std::function<std::string(std::string_view prefix)> runLogDayOf;
  // A fresh connection to the settings database of the application folder;
  // throws when it cannot be opened.
  std::function<std::unique_ptr<SettingsDatabase>()> openSettings;
  // The application folder's settings lock for one save: its checks and its
  // write happen under it, so that two saves (two processes, or the window
  // and the command line) never interleave and none writes a row loaded
  // before the other's write. Waits a while for another save to end; null
  // when it did not (`busy`) or the lock cannot be taken (`error` says why).
  // Asked again while held by this process, it answers the same hold. May be
  // empty: no lock.
  std::function<std::shared_ptr<void>(bool& busy, std::string& error)> holdSettingsLock;
  const SqlServerFactory& sqlServer;
  std::function<void()> ensureSqlServerRunning;  // may be empty
  // The SQL Server guard thread: start it (false when it could not be
  // created; the guard writes that to the run log itself) and make it look at
  // its flags now (after clearing one).
  std::function<bool()> startGuard;
  std::function<void()> wakeGuard;
  BackupRunner& backupRunner;
  // Folder checks that reach a share for a \\server\share path.
  std::function<bool(const std::string& folder)> folderExists;
  std::function<bool(const std::string& folder)> isFolderWritable;
  // Opens the share under the account; true when it can be used.
  std::function<bool(const std::string& share, const std::string& user,
                     const std::string& password)>
      connectShare;
  // Start with the system (the autostart tick box). Register and remove write
  // their own run-log lines and tell the reason of a failure in `error`.
  std::function<AutostartRegistration()> readAutostart;
  std::function<bool(std::string& error)> registerAutostart;
  std::function<bool(std::string& error)> removeAutostart;
  // The start-up refusals, each "" when start-up may go on: a blank in the
  // executable's path, another instance on the application folder, a user
  // without administrator rights.
  std::function<std::string()> refuseBlankInPath;
  std::function<std::string()> claimSingleInstance;
  std::function<std::string()> refuseNonAdministrator;
  // The agent's service. Asked once after the instance claim: true when the
  // running service serves the application folder (the claim then did not
  // refuse), and this window is the service's window. It shows the service's
  // state (agentServiceState, a service-state text such as "运行中") in its
  // status strip, saves the settings (the service follows the file) and runs
  // "立即备份" under the folder's run lock as before, but runs no schedule,
  // no SQL Server guard and no wake timer of its own. Either may be empty:
  // no service.
  std::function<bool()> servesAsServiceWindow;
  std::function<std::string()> agentServiceState;
  // Asked by the service's window when it sees the service not running:
  // claims the folder's instance lock, true once this process holds it (the
  // window is then the folder's agent again). May be empty: it never takes over.
  std::function<bool()> takeOverFromService;
  // Arms the machine's wake timer for the next backup time (local time);
  // false with the reason in `error`. May be empty: nothing wakes the machine.
  std::function<bool(const LocalTime& when, std::string& error)> setWakeTimer;
  // The waits of closing (500 ms while the guard ends); injected for tests.
  std::function<void(std::chrono::milliseconds)> sleep;
  // Makes the executable's folder the process's current folder, at start-up
  // once the blank-path check has passed. May be empty: a front end whose
  // arguments name paths relative to where it was started keeps that folder.
  std::function<void()> enterExecutableFolder;
  // Hands the memory the process no longer touches back to the system; the
  // timer asks for it every 60th tick. May be empty.
  std::function<void()> trimWorkingSet;
};

class MainWindowPresenter final : public BackupStarter {
 public:
  MainWindowPresenter(MainWindowView& view, MainWindowServices services);

  // Start-up: the checks, the settings loaded into the view, the next backup
  // time shown, the start lines. False when the program is to end at once.
  bool OnStartUp();
  // A close request of the window: true when the program may end now.
  bool OnCloseRequested();
  // The end of the user's session (or of the agent's service): true when it
  // may end now.
  bool QueryEndSession();
  void ExitProgramClicked();
  void TrayRestoreClicked();
  // The tray's "退出自动备份": the same rules as a close.
  void TrayExitClicked();

  // The one-second timer.
  void OnTimerTick();
  // "立即备份". Answers what came of it, for front ends that report it.
  StartOutcome BackUpNowClicked();
  // "读取设置". Answers false when loading failed.
  bool LoadSettingsClicked();
  // The agent's reload of a settings file another process changed (saved,
  // deleted, damaged, put back). Unlike "读取设置", a file that cannot be read
  // never ends the program: the settings in use stay, the run log and the
  // view say so once, with the reason, and a later reload that succeeds says
  // the file is read again. Answers true when the file was read into the view.
  bool FollowSavedSettings();
  // "保存设置". Answers true when the settings were stored and applied.
  bool SaveSettingsClicked();
  // "备份日志".
  void BackupLogClicked();
  // The start-with-the-system tick box changed.
  void AutostartClicked();

  // Fields: a click selects, leaving trims or checks, Enter moves on.
  void FieldClick(Control control);
  void FieldExit(Control control);
  void FieldEnter(Control control);
  void BackupTimeLeft();
  // Leaving the keep-count or the interval field (both are looked at): a
  // whole number is put back into its range; any other text gives way to the
  // field's value before, with a warning, so that a typo never makes the keep
  // count 0 ("keep everything").
  void KeepCountLeft();

  // The account sets.
  void EditionChanged();
  void BrowseAccountFolderClicked();  // browse for the account folder
  void ListSqlAccountSetsClicked();   // list the SQL edition's account sets
  void TickAllClicked();              // tick all
  void TickNoneClicked();             // tick none
  void InvertTicksClicked();          // invert the ticks

  // The folders' "浏览" and the accounts' "重置".
  void BrowseLocalFolderClicked();
  void BrowseShareFolderClicked();
  void ResetServerAccountClicked();
  void ResetShareAccountClicked();

  // The archive-password group's tick changed.
  void PasswordGroupTicked();

  // BackupStarter, for the schedule: the configuration from the view, the
  // start through the runner (a scheduled run), lastbakday stored.
  void CaptureBackupConfiguration() override;
  StartOutcome StartBackup() override;
  std::string StartFailure() const override { return startFailure_; }
  void RecordScheduledStart() override;

  // What the next run would work on; the archive password in force.
  const BackupConfig& Configuration() const { return config_; }
  const std::string& ArchivePassword() const { return archivePassword_; }
  const Schedule& schedule() const { return schedule_; }
  // Whether start-up made this the window of the agent's service.
  bool IsServiceWindow() const { return serviceWindow_; }

 private:
  // Runs a handler's body: an error ends it without a message, its text
  // written to the run log.
  void Guarded(const std::function<void()>& body) noexcept;

  // Loading and saving (settings_handlers.cpp). LoadIntoView and Save throw
  // what their handlers do not answer with a message of their own; both
  // answer false when they stopped with one.
  // `db`: an open connection to load from; null opens one, and a failure to
  // open ends the program.
  bool LoadIntoView(std::unique_ptr<SettingsDatabase> db = nullptr);
  bool Save();
  BaksetRow SettingsFromView() const;
  // The connection to SQL Server's master database with the boxes' login;
  // false with the driver's text in `error` when it cannot be made.
  bool TrialConnection(std::string& error) const;
  void ApplySavedSettings(const std::optional<std::string>& newArchivePassword);
  // The next backup time from the interval and time fields, shown when it
  // could be computed.
  void ShowNextBackupTime();
  // A spin field's value as the field would hold it: its whole number put
  // back into the range; the minimum when the text is no number.
  int SpinValue(Control control, int min, int max) const;
  // The compression level: the list's index, 3 when none of 0..5 is chosen.
  int CompressionLevel() const;
  SqlTimeouts TimeoutsFromView() const;
  // Trims the field's text, writes it back and answers it.
  std::string TrimField(Control control);
  // A warning, then the field's text selected and the focus on it.
  void Refuse(const char* message, Control field);

  // The archive password (password_handlers.cpp).
  void OldPasswordEnter();
  void NewPasswordEnter();
  void ConfirmPasswordEnter();
  // The check of the password group at save time: the new password, or
  // nothing when refused (the message shown, the focus placed). It does not
  // put the password in force: that waits until the save has stored it.
  std::optional<std::string> CheckArchivePasswordForSave();
  void PutArchivePasswordInForce(const std::string& password);
  // Unticks the group, empties its fields and runs its tick handler.
  void ClearPasswordGroup();

  // The Enter chain and the folder fields (field_handlers.cpp).
  void MoveOnFromUser(Control user, Control password, const char* emptyMessage);
  void LocalFolderEnter();
  void ShareFolderEnter();
  void BrowseBackupFolder(Control field, bool shareWanted);
  // Leaving a spin field: its whole number put back into [min, max]; a text
  // that is no whole number refused with `message` and replaced by the
  // field's value before. False when refused.
  bool SpinFieldLeft(Control control, int min, int max, const char* message);
  // Remembers the spin fields' texts as the values a refused text gives way to.
  void KeepSpinTexts();
  // The message refusing a control character in the text field, or null for
  // a field that is not checked for them.
  static const char* ControlCharacterMessage(Control control);
  // Leaving a text field: refused (and false) when it holds a control
  // character, or, for the local folder, a path that is not absolute.
  bool TextFieldLeft(Control control);

  // The account sets (account_handlers.cpp).
  void SqlUserEnter();
  void SetTicks(bool (*tick)(bool));

 private:
  MainWindowView& view_;
  MainWindowServices s_;
  Schedule schedule_;
  // The alarm when backups stop: looked at from the timer.
  BackupWatch backupWatch_;
  bool sawBackupRunning_ = false;
  BackupConfig config_;
  std::string archivePassword_;
  bool quitConfirmed_ = false;
  // Set by the close and end-of-session waits: the timer does nothing and no
  // backup starts while the program waits for the guard to end.
  bool scheduleStopped_ = false;
  // Timer ticks since the working set was last trimmed.
  int ticksSinceTrim_ = 0;
  // The runner's reason for the last start that failed (StartFailure).
  std::string startFailure_;
  // The last reload found the settings file unreadable (said once).
  bool settingsUnreadable_ = false;
  // The window of the agent's service (see MainWindowServices): no schedule.
  bool serviceWindow_ = false;
  // Timer ticks until the service's state is asked again.
  int ticksUntilServiceLook_ = 0;
  // The next backup time the wake timer was last asked for, and whether that
  // failed (its line is written once, until a setting succeeds again).
  std::optional<DateTime> wakeTimerAt_;
  bool wakeTimerFailed_ = false;
  // The spin fields' last accepted texts (loaded or left in range).
  std::map<Control, std::string> spinTexts_;

  // Shell helpers (main_window_presenter.cpp).
  // Starts a run on the captured configuration, marked as the schedule's or
  // as "立即备份"'s.
  StartOutcome StartRun(bool scheduled);
  void ShowNextBackupLabel();
  // Arms the wake timer for the next backup time when it changed.
  void ArmWakeTimer();
  // The status strip of the service's window: this process's own run, or the
  // service's state (asked every few ticks).
  void ShowServiceStatus(bool running);
  void WatchBackups(DateTime now, bool running);
  void StartGuardAtStartup();
  void WaitForGuardToEnd(bool keepQuitOff);
};

}  // namespace veltora
