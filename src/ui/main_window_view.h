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

// The controls, named after the window's own components.
enum class Control {
  kEdition,          // bsSkinComboBox1: drop-down list of the four editions
  kAccountFolder,    // edtAccount: read-only edit (folder page)
  kDataUser,         // SQL Server user (SQL page)
  kDataPassWord,     // SQL Server password
  kDataList,         // the account-set list (rows with ticks)
  kSWinUser,         // server Windows account
  kSWinPassword,
  kCWinUser,         // remote share account
  kCWinPassword,
  kBtDays,           // interval spin field, 1..30
  kDTime,            // backup-time masked edit "##:##:##"
  kChkServer,        // local backup switch (ticked, disabled)
  kServerPath,       // local backup folder
  kChkShare,         // remote backup switch
  kClientPath,       // remote share folder
  kBakNum,           // keep-count spin field, 0..500
  kYSDJ,             // compression-level drop-down list, six entries
  kLJCS,             // connection time-out spin field, 7..3600
  kZXCS,             // command time-out spin field, 30..9999
  kSafeCheck,        // SQL Server guard tick box
  kPasswordGroup,    // bsSkinGroupBox8: the archive-password group's tick
  kROPWD,            // old archive password
  kRNPWD,            // new archive password
  kRQPWD,            // confirm archive password
  kCheckBox1,        // start with the system
  kBtnSave,
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
