// What the main window's logic needs of a window: the abstract view that the
// presenter drives. The Win32 window implements it with native controls; the
// headless agent and the command line implement it in memory; tests record
// what was asked of it.
//
// The view holds the live values of the settings controls and shows what it
// is told. It has no logic of its own: it does not trim, clamp, validate or
// call handlers when the presenter changes a value (a real control that fires
// a change event for a programmatic change must not reach the presenter for
// it). Ranges, trimming and every message are the presenter's.
#pragma once

#include <string>
#include <vector>

#include "base/account_set.h"

namespace veltora {

// The controls of the main window, named for what they hold. The Win32 window
// lays them out under the same names.
enum class Control {
  kEdition,         // drop-down list of the four editions
  kAccountFolder,   // read-only edit (folder page)
  kSqlUser,         // SQL Server user (SQL page)
  kSqlPassword,     // SQL Server password
  kAccountSetList,  // the account-set list (rows with ticks)
  kServerUser,      // server Windows account
  kServerPassword,
  kShareUser,  // remote share account
  kSharePassword,
  kDaysBetweenBackups,      // interval spin field, 1..30
  kBackupTime,              // backup-time masked edit "##:##:##"
  kLocalBackup,             // local backup switch (ticked, disabled)
  kLocalFolder,             // local backup folder
  kShareBackup,             // remote backup switch
  kShareFolder,             // remote share folder
  kKeepCount,               // keep-count spin field, 0..500
  kCompressionLevel,        // compression-level drop-down list, six entries
  kConnectTimeout,          // connection time-out spin field, 7..3600
  kCommandTimeout,          // command time-out spin field, 30..9999
  kGuardSqlServer,          // SQL Server guard tick box
  kPasswordGroup,           // the archive-password group's tick
  kOldArchivePassword,      // old archive password
  kNewArchivePassword,      // new archive password
  kConfirmArchivePassword,  // confirm archive password
  kAutostart,               // start with the system
  kSaveSettings,
};

// The colour of the backup-state label.
enum class StatusColour { kRed, kGreen };

// The two pages above the account-set list.
enum class AccountPage { kFolder = 0, kSqlServer = 1 };

class MainWindowView {
 public:
  virtual ~MainWindowView() = default;

  // Edits, the masked time field and the spin fields: their text as typed.
  virtual std::string Text(Control control) const = 0;
  virtual void SetText(Control control, const std::string& text) = 0;
  // Tick boxes and the password group's tick.
  virtual bool Checked(Control control) const = 0;
  virtual void SetChecked(Control control, bool checked) = 0;
  virtual bool Enabled(Control control) const = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  // Drop-down lists: the selected index, -1 when none.
  virtual int ItemIndex(Control control) const = 0;
  virtual void SetItemIndex(Control control, int index) = 0;
  virtual int ItemCount(Control control) const = 0;

  // The account-set list, in list order, with its ticks.
  virtual std::vector<AccountSetEntry> AccountRows() const = 0;
  virtual void SetAccountRows(const std::vector<AccountSetEntry>& rows) = 0;
  // The width of the column "账套号": 0 hides it.
  virtual void SetNumberColumnWidth(int width) = 0;
  virtual void ShowAccountPage(AccountPage page) = 0;

  // The input focus and the selection of a field's whole text.
  virtual void Focus(Control control) = 0;
  virtual void SelectAll(Control control) = 0;

  // A warning box: modal, caption "提示！", warning icon, OK, above all windows.
  virtual void ShowWarning(const std::string& text) = 0;
  // A plain modal notice with OK under the program's title.
  virtual void ShowNotice(const std::string& text) = 0;
  // An error box (an unexpected error's text).
  virtual void ShowError(const std::string& text) = 0;
  // The folder picker; "" when cancelled.
  virtual std::string BrowseForFolder(const std::string& prompt) = 0;

  // The top strip: the next-backup label and the backup-state label.
  virtual void SetNextBackupText(const std::string& text) = 0;
  virtual void SetStatus(const std::string& text, StatusColour colour) = 0;

  // The tray icon and the window's visibility.
  virtual void SetTrayVisible(bool visible) = 0;
  // The alarm when backups stop: with `overdue` empty the normal icon and
  // tip; otherwise a warning icon and a tip naming the late account sets
  // (the overdue text). `announce` asks for a balloon saying so as well.
  virtual void SetBackupAlarm(const std::string& overdue, bool announce) = 0;
  // Minimise and hide the window and its taskbar entry: the program sits in
  // the tray.
  virtual void HideToTray() = 0;
  // Restore the window and its taskbar entry, visible and not minimised.
  virtual void ShowNormal() = 0;
  virtual bool HiddenInTray() const = 0;
  // Let the window handle its pending messages (inside a wait).
  virtual void ProcessPendingMessages() = 0;
  // Open the backup log window modally; returns when it has closed.
  virtual void ShowBackupLog() = 0;
  // End the program (the message loop ends after the current handler).
  virtual void EndProgram() = 0;
};

}  // namespace veltora
