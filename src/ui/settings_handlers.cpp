// Loading the settings into the window, capturing the backup configuration
// from it, and saving: the checks in their fixed order, one transaction for
// the account list and the settings row, then the configuration applied.

#include <algorithm>
#include <exception>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "accounts/account_sets.h"
#include "accounts/messages.h"
#include "app/backup_configuration.h"
#include "app/messages.h"
#include "base/path.h"
#include "base/text.h"
#include "ui/main_window_presenter.h"
#include "ui/messages.h"
#include "ui/presenter_support.h"

namespace veltora {

using namespace ui_detail;

namespace {

DateTime Now(const Clock& clock) { return ToDateTime(clock.LocalNow()); }

std::string Digits(int value) { return std::to_string(value); }

}  // namespace

int MainWindowPresenter::SpinValue(Control control, int min, int max) const {
  const auto value = WholeNumber(view_.Text(control));
  if (!value) return min;
  return static_cast<int>(std::clamp<long long>(*value, min, max));
}

int MainWindowPresenter::CompressionLevel() const {
  const int count = view_.ItemCount(Control::kCompressionLevel);
  const int index = view_.ItemIndex(Control::kCompressionLevel);
  constexpr int kLevels = static_cast<int>(std::size(app_msg::kCompressionLevelNames));
  if (count <= 0 || index < 0 || index >= kLevels) return 3;
  return index;
}

SqlTimeouts MainWindowPresenter::TimeoutsFromView() const {
  SqlTimeouts t;
  t.connectSeconds = SpinValue(Control::kConnectTimeout, kConnectTimeoutMin, kConnectTimeoutMax);
  t.commandSeconds = SpinValue(Control::kCommandTimeout, kCommandTimeoutMin, kCommandTimeoutMax);
  return t;
}

std::string MainWindowPresenter::TrimField(Control control) {
  std::string text = Trim(view_.Text(control));
  view_.SetText(control, text);
  return text;
}

void MainWindowPresenter::Refuse(const char* message, Control field) {
  view_.ShowWarning(message);
  view_.SelectAll(field);
  view_.Focus(field);
}

void MainWindowPresenter::ShowNextBackupTime() {
  schedule_.SetIntervalDays(
      SpinValue(Control::kDaysBetweenBackups, kIntervalDaysMin, kIntervalDaysMax));
  schedule_.SetTimeFieldText(view_.Text(Control::kBackupTime));
  if (schedule_.ComputeNextBackupTime(Now(s_.clock))) ShowNextBackupLabel();
}

// ---------------------------------------------------------------------------
// Capturing the configuration

void MainWindowPresenter::CaptureBackupConfiguration() {
  BackupConfig c;
  c.caption = app_msg::kWindowCaption;
  const int edition = view_.ItemIndex(Control::kEdition);
  c.edition = edition >= 0 && edition < kEditionCount ? edition : 0;
  c.accountSets = view_.AccountRows();
  c.accountFolder = view_.Text(Control::kAccountFolder);
  c.localBackup = view_.Checked(Control::kLocalBackup);
  c.remoteBackup = view_.Checked(Control::kShareBackup);
  c.localFolder = view_.Text(Control::kLocalFolder);
  c.remoteFolder = view_.Text(Control::kShareFolder);
  c.sqlUser = view_.Text(Control::kSqlUser);
  c.sqlPassword = view_.Text(Control::kSqlPassword);
  c.remoteUser = view_.Text(Control::kShareUser);
  c.remotePassword = view_.Text(Control::kSharePassword);
  // A keep count typed wrong counts as the field's value before, as leaving
  // the field would make it: 0 would keep everything.
  c.keepCount = SpinValue(Control::kKeepCount, 0, kKeepCountMax);
  if (!WholeNumber(view_.Text(Control::kKeepCount))) {
    const auto before = spinTexts_.find(Control::kKeepCount);
    const auto kept = before != spinTexts_.end() ? WholeNumber(before->second) : std::nullopt;
    c.keepCount =
        kept ? static_cast<int>(std::clamp<long long>(*kept, 0, kKeepCountMax)) : config_.keepCount;
  }
  c.compressionLevel = CompressionLevel();
  c.archivePassword = archivePassword_;
  c.timeouts = TimeoutsFromView();
  // The names themselves, not a joined text: a name may hold any separator.
  for (const AccountSetEntry& entry : c.accountSets)
    if (entry.ticked && !entry.name.empty()) c.selectedAccountSets.push_back(entry.name);
  config_ = std::move(c);
  schedule_.SetBackupTimeText(view_.Text(Control::kBackupTime));
  s_.state.guardSwitch = view_.Checked(Control::kGuardSqlServer);
}

// ---------------------------------------------------------------------------
// Loading

bool MainWindowPresenter::LoadSettingsClicked() {
  try {
    return LoadIntoView();
  } catch (const std::exception& e) {
    view_.ShowError(e.what());
  } catch (...) {
  }
  return false;
}

bool MainWindowPresenter::FollowSavedSettings() {
  std::string why;
  try {
    if (LoadIntoView(s_.openSettings())) {
      if (std::exchange(settingsUnreadable_, false)) s_.runLog.Append(ui_msg::kSettingsReadAgain);
      return true;
    }
    return false;  // stopped with a message of its own
  } catch (const std::exception& e) {
    why = e.what();
  } catch (...) {
  }
  if (!std::exchange(settingsUnreadable_, true)) {
    const std::string line = ui_msg::kSettingsUnreadableKept + why;
    s_.runLog.Append(line);
    view_.ShowError(line);
  }
  return false;
}

bool MainWindowPresenter::LoadIntoView(std::unique_ptr<SettingsDatabase> db) {
  if (!db) {
    try {
      db = s_.openSettings();
    } catch (...) {
      // Without its settings the program cannot go on.
      view_.ShowNotice(ui_msg::kLoadOpenFailed);
      view_.EndProgram();
      return false;
    }
  }
  const BaksetRow row = db->LoadSettings();
  // The alarm follows the ticks and the interval just read.
  backupWatch_.LookSoon();
  try {
    db->MakeSpareCopy();
  } catch (...) {
    // The spare copy is a convenience; loading goes on without it.
  }

  const int edition = row.softvernum >= 0 && row.softvernum < kEditionCount ? row.softvernum : 0;
  view_.SetItemIndex(Control::kEdition, edition);
  view_.SetText(Control::kAccountFolder, row.accountDir);
  schedule_.SetLastBackupTime(row.lastbakday);
  view_.SetText(Control::kServerUser, row.localuser);
  view_.SetText(Control::kServerPassword, row.localpwd);
  view_.SetText(Control::kShareUser, row.remoteuser);
  view_.SetText(Control::kSharePassword, row.remotepwd);
  view_.SetChecked(Control::kGuardSqlServer, row.safecheck);
  view_.SetChecked(Control::kLocalBackup, row.localbak);
  view_.SetChecked(Control::kShareBackup, row.remotebak);
  view_.SetText(Control::kLocalFolder, row.localDir);
  view_.SetText(Control::kShareFolder, row.remoteDir);
  view_.SetText(Control::kKeepCount, Digits(std::clamp(row.bakfilenum, 0, kKeepCountMax)));
  view_.SetItemIndex(Control::kCompressionLevel, CompressionLevelFromName(row.rarlevel));
  view_.SetText(Control::kConnectTimeout,
                Digits(std::clamp(row.conout, kConnectTimeoutMin, kConnectTimeoutMax)));
  view_.SetText(Control::kCommandTimeout,
                Digits(std::clamp(row.sqlout, kCommandTimeoutMin, kCommandTimeoutMax)));
  view_.SetText(Control::kDaysBetweenBackups,
                Digits(std::clamp(row.btwdays, kIntervalDaysMin, kIntervalDaysMax)));
  archivePassword_ = row.rarpwd;
  KeepSpinTexts();

  CaptureBackupConfiguration();
  if (IsValidTimeText(row.baktime))
    view_.SetText(Control::kBackupTime, NormalizeTimeText(row.baktime));
  ShowNextBackupTime();
  ClearPasswordGroup();

  if (IsSqlEdition(edition)) {
    view_.ShowAccountPage(AccountPage::kSqlServer);
    view_.SetNumberColumnWidth(kNumberColumnSqlWidth);
    view_.SetText(Control::kSqlUser, Trim(row.sqluser));
    view_.SetText(Control::kSqlPassword, row.sqlpwd);
    if (!view_.Text(Control::kSqlUser).empty()) ListSqlAccountSetsClicked();
  } else {
    view_.ShowAccountPage(AccountPage::kFolder);
    view_.SetNumberColumnWidth(kNumberColumnHidden);
    const std::string folder = Trim(row.accountDir);
    view_.SetText(Control::kAccountFolder, folder);
    if (!folder.empty()) {
      if (!s_.folderExists(folder)) {
        view_.ShowNotice(app_msg::kAccountFolderGone);
        view_.SetAccountRows({});
      } else {
        view_.SetAccountRows(ListAisAccountSets(
            folder, [&](const std::string& name) { return db->IsAccountNameStored(name); }));
      }
    }
  }
  // The configuration follows the list just built, not the one before it.
  CaptureBackupConfiguration();
  return true;
}

// ---------------------------------------------------------------------------
// Saving

namespace {

enum class Box { kWarning, kNotice };
enum class Then { kStop, kGoOn };

// One check of the save. `applies` null: always. `fails` may trim or put a
// field into its normal form on its way, as the check says; `detail` is
// appended to the message (the driver's text of a failed connection). A
// check without a message has shown its own.
struct SaveCheck {
  std::function<bool()> applies = nullptr;
  std::function<bool(std::string& detail)> fails = nullptr;
  const char* message = nullptr;
  Box box = Box::kWarning;
  std::optional<Control> focus = std::nullopt;
  bool select = false;
  Then then = Then::kStop;
};

bool OutOfRange(const std::optional<long long>& value, long long min, long long max) {
  return !value || *value < min || *value > max;
}

}  // namespace

bool MainWindowPresenter::TrialConnection(std::string& error) const {
  try {
    auto cn = s_.sqlServer.Create(TimeoutsFromView());
    cn->Connect(view_.Text(Control::kSqlUser), view_.Text(Control::kSqlPassword), "master");
    cn->Close();
    return true;
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

bool MainWindowPresenter::SaveSettingsClicked() {
  backupWatch_.LookSoon();
  try {
    return Save();
  } catch (const std::exception& e) {
    view_.ShowWarning(std::string(ui_msg::kSaveFailed) + e.what());
  } catch (...) {
    view_.ShowWarning(ui_msg::kSaveFailed);
  }
  return false;
}

bool MainWindowPresenter::Save() {
  MainWindowView& v = view_;
  const bool sqlEdition = IsSqlEdition(v.ItemIndex(Control::kEdition));
  const auto sql = [sqlEdition] { return sqlEdition; };
  const auto localOn = [&v] { return v.Checked(Control::kLocalBackup); };
  const auto remoteOn = [&v] { return v.Checked(Control::kShareBackup); };
  const auto rows = [&v] { return v.AccountRows(); };
  const auto accountFolder = [&v] { return v.Text(Control::kAccountFolder); };
  const auto fileEditionFolder = [&] { return !sqlEdition && !accountFolder().empty(); };
  // A field the job reads holds no control character: users and folders as
  // their trimming will leave them, passwords and the SQL login as typed.
  const auto controlCharacterIn = [&v](Control field, bool trimmed) {
    const std::string text = v.Text(field);
    return HasControlCharacter(trimmed ? Trim(text) : text);
  };
  const auto noControlCharacter = [&](Control field, bool trimmed,
                                      std::function<bool()> applies = nullptr) {
    return SaveCheck{.applies = std::move(applies),
                     .fails = [=](std::string&) { return controlCharacterIn(field, trimmed); },
                     .message = ControlCharacterMessage(field),
                     .focus = field,
                     .select = true};
  };
  std::optional<std::string> newArchivePassword;

  // The checks and the write under the folder's settings lock: another save
  // waits, or this one is refused, rather than one overwriting the other.
  std::shared_ptr<void> settingsLock;
  if (s_.holdSettingsLock) {
    bool busy = false;
    std::string error;
    settingsLock = s_.holdSettingsLock(busy, error);
    if (!settingsLock) {
      v.ShowWarning(busy ? std::string(ui_msg::kSaveInProgress) : ui_msg::kSaveFailed + error);
      return false;
    }
  }

  const SaveCheck checks[] = {
      // Never under a running backup.
      {.fails = [&](std::string&) { return s_.state.backupRunning.load(); },
       .message = ui_msg::kSaveWhileBackupRuns},
      // The SQL editions need their server; how that went shows at the trial
      // connection below.
      {.applies = sql,
       .fails =
           [&](std::string&) {
             Guarded([&] {
               if (s_.ensureSqlServerRunning) s_.ensureSqlServerRunning();
             });
             return false;
           }},
      // A file edition's folder that is gone, or that means another place from
      // another working folder, is named: its empty list says nothing.
      {.applies = fileEditionFolder,
       .fails = [&](std::string&) { return controlCharacterIn(Control::kAccountFolder, false); },
       .message = ui_msg::kAccountFolderControlCharacter},
      {.applies = fileEditionFolder,
       .fails =
           [&](std::string& detail) {
             if (IsAbsolutePath(accountFolder())) return false;
             detail = accountFolder() + ui_msg::kAccountFolderNotAbsoluteSuffix;
             return true;
           },
       .message = ui_msg::kAccountFolderPrefix},
      {.applies = fileEditionFolder,
       .fails =
           [&](std::string& detail) {
             if (s_.folderExists(accountFolder())) return false;
             detail = accountFolder() + ui_msg::kAccountFolderMissingSuffix;
             return true;
           },
       .message = ui_msg::kAccountFolderPrefix},
      {.fails = [&](std::string&) { return rows().empty(); },
       .message = ui_msg::kChooseAccountSets,
       .box = Box::kNotice},
      // A level list without a choice gets the standard level.
      {.fails =
           [&](std::string&) {
             if (v.ItemCount(Control::kCompressionLevel) > 0 &&
                 CompressionLevel() != v.ItemIndex(Control::kCompressionLevel))
               v.SetItemIndex(Control::kCompressionLevel, 3);
             return false;
           }},
      // The password group shows its own messages.
      {.applies = [&v] { return v.Checked(Control::kPasswordGroup); },
       .fails =
           [&](std::string&) {
             newArchivePassword = CheckArchivePasswordForSave();
             return !newArchivePassword.has_value();
           }},
      // The SQL login only where its boxes show.
      noControlCharacter(Control::kSqlUser, false, sql),
      noControlCharacter(Control::kSqlPassword, false, sql),
      noControlCharacter(Control::kServerUser, true),
      noControlCharacter(Control::kServerPassword, false),
      noControlCharacter(Control::kShareUser, true),
      noControlCharacter(Control::kSharePassword, false),
      noControlCharacter(Control::kLocalFolder, true),
      noControlCharacter(Control::kShareFolder, true),
      // The time-outs, for every edition: a value out of range is refused,
      // never stored as the nearest one. Then the SQL login.
      {.fails =
           [&](std::string&) {
             return OutOfRange(WholeNumber(v.Text(Control::kConnectTimeout)), kConnectTimeoutMin,
                               kConnectTimeoutMax);
           },
       .message = ui_msg::kConnectTimeoutInvalid,
       .focus = Control::kConnectTimeout},
      {.fails =
           [&](std::string&) {
             return OutOfRange(WholeNumber(v.Text(Control::kCommandTimeout)), kCommandTimeoutMin,
                               kCommandTimeoutMax);
           },
       .message = ui_msg::kCommandTimeoutInvalid,
       .focus = Control::kCommandTimeout},
      // The user as it stands, blanks and all: a login of blanks goes to the
      // trial connection, which names it in its refusal.
      {.applies = sql,
       .fails = [&](std::string&) { return v.Text(Control::kSqlUser).empty(); },
       .message = accounts_msg::kEnterSqlUser,
       .focus = Control::kSqlUser},
      {.applies = sql,
       .fails = [&](std::string& detail) { return !TrialConnection(detail); },
       .message = accounts_msg::kCannotConnect,
       .focus = Control::kSqlUser},
      {.fails =
           [&](std::string&) {
             const auto all = rows();
             return std::none_of(all.begin(), all.end(), [](const auto& e) { return e.ticked; });
           },
       .message = ui_msg::kChooseAccountSets,
       .box = Box::kNotice},
      // The boxes are trimmed whether or not their switch is on.
      {.fails = [&](std::string&) { return TrimField(Control::kServerUser).empty() && localOn(); },
       .message = ui_msg::kEnterServerUser,
       .focus = Control::kServerUser},
      {.fails = [&](std::string&) { return TrimField(Control::kShareUser).empty() && remoteOn(); },
       .message = ui_msg::kEnterRemoteUser,
       .focus = Control::kShareUser},
      {.fails = [&](std::string&) { return TrimField(Control::kLocalFolder).empty() && localOn(); },
       .message = ui_msg::kEnterServerFolder,
       .focus = Control::kLocalFolder},
      // Stored relative, the folder would move with whoever starts the agent.
      {.applies = [&] { return localOn() && !IsSharePath(v.Text(Control::kLocalFolder)); },
       .fails = [&](std::string&) { return !IsAbsolutePath(v.Text(Control::kLocalFolder)); },
       .message = ui_msg::kLocalFolderNotAbsolute,
       .focus = Control::kLocalFolder,
       .select = true},
      // The local folder: it exists, is no share, takes a test folder.
      {.applies = localOn,
       .fails = [&](std::string&) { return !s_.folderExists(v.Text(Control::kLocalFolder)); },
       .message = ui_msg::kLocalFolderInvalid,
       .focus = Control::kLocalFolder,
       .select = true},
      {.applies = localOn,
       .fails = [&](std::string&) { return IsSharePath(v.Text(Control::kLocalFolder)); },
       .message = ui_msg::kLocalFolderIsNetwork,
       .focus = Control::kLocalFolder,
       .select = true},
      {.applies = localOn,
       .fails = [&](std::string&) { return !s_.isFolderWritable(v.Text(Control::kLocalFolder)); },
       .message = ui_msg::kLocalFolderNotWritable,
       .focus = Control::kLocalFolder,
       .select = true},
      // A remote backup without a folder is saved all the same, with a word.
      {.fails =
           [&](std::string&) { return TrimField(Control::kShareFolder).empty() && remoteOn(); },
       .message = ui_msg::kEnterRemoteFolder,
       .then = Then::kGoOn},
      {.applies = [&] { return remoteOn() && !v.Text(Control::kShareFolder).empty(); },
       .fails = [&](std::string&) { return !IsSharePath(v.Text(Control::kShareFolder)); },
       .message = ui_msg::kRemoteFolderLocalOnSave,
       .focus = Control::kShareFolder,
       .select = true},
      // The share may be down today; the save goes on.
      {.applies = [&] { return remoteOn() && IsSharePath(v.Text(Control::kShareFolder)); },
       .fails =
           [&](std::string&) {
             return !s_.connectShare(v.Text(Control::kShareFolder), v.Text(Control::kShareUser),
                                     v.Text(Control::kSharePassword));
           },
       .message = ui_msg::kShareUnreachable,
       .then = Then::kGoOn},
      // A valid time is written back in its normal form and used at once.
      {.fails =
           [&](std::string&) {
             const std::string text = v.Text(Control::kBackupTime);
             if (!IsValidTimeText(text)) return true;
             v.SetText(Control::kBackupTime, NormalizeTimeText(text));
             schedule_.SetBackupTimeText(v.Text(Control::kBackupTime));
             return false;
           },
       .message = ui_msg::kBackupTimeInvalid,
       .focus = Control::kBackupTime,
       .select = true},
      {.fails =
           [&](std::string&) {
             return OutOfRange(WholeNumber(v.Text(Control::kKeepCount)), 0, kKeepCountMax);
           },
       .message = ui_msg::kKeepCountInvalid,
       .focus = Control::kKeepCount},
      {.fails = [&](std::string&) { return !localOn() && !remoteOn(); },
       .message = ui_msg::kChooseLocalOrRemote,
       .box = Box::kNotice},
  };

  for (const SaveCheck& check : checks) {
    if (check.applies && !check.applies()) continue;
    std::string detail;
    if (!check.fails(detail)) continue;
    if (check.message != nullptr) {
      const std::string text = check.message + detail;
      if (check.box == Box::kWarning)
        v.ShowWarning(text);
      else
        v.ShowNotice(text);
    }
    if (check.focus) {
      if (check.select) v.SelectAll(*check.focus);
      v.Focus(*check.focus);
    }
    if (check.then == Then::kStop) return false;
  }

  // Writing: the account list and the settings row in one transaction, so a
  // failure leaves both as they were.
  std::vector<AccountListRow> accountList;
  for (const AccountSetEntry& entry : v.AccountRows())
    if (entry.ticked) accountList.push_back({entry.number, entry.name, entry.database});
  const BaksetRow values = SettingsFromView();
  std::unique_ptr<SettingsDatabase> db;
  try {
    db = s_.openSettings();
  } catch (...) {
    v.ShowNotice(ui_msg::kSaveOpenFailed);
    return false;
  }
  try {
    if (newArchivePassword)
      db->SaveAccountListAndSettings(accountList, values, *newArchivePassword);
    else
      db->SaveAccountListAndSettings(accountList, values);
  } catch (const std::exception& e) {
    v.ShowNotice(std::string(ui_msg::kSaveWriteFailed) + e.what());
    return false;
  }
  db.reset();

  ApplySavedSettings(newArchivePassword);
  return true;
}

BaksetRow MainWindowPresenter::SettingsFromView() const {
  const MainWindowView& v = view_;
  BaksetRow r;
  const int edition = v.ItemIndex(Control::kEdition);
  r.softvernum = edition >= 0 && edition < kEditionCount ? edition : 0;
  r.accountDir = v.Text(Control::kAccountFolder);
  r.sqluser = v.Text(Control::kSqlUser);
  r.sqlpwd = v.Text(Control::kSqlPassword);
  r.localuser = v.Text(Control::kServerUser);
  r.localpwd = v.Text(Control::kServerPassword);
  r.remoteuser = v.Text(Control::kShareUser);
  r.remotepwd = v.Text(Control::kSharePassword);
  r.localbak = v.Checked(Control::kLocalBackup);
  r.remotebak = v.Checked(Control::kShareBackup);
  r.localDir = v.Text(Control::kLocalFolder);
  r.remoteDir = v.Text(Control::kShareFolder);
  r.bakfilenum = SpinValue(Control::kKeepCount, 0, kKeepCountMax);
  r.rarlevel = app_msg::kCompressionLevelNames[CompressionLevel()];
  r.baktime = v.Text(Control::kBackupTime);
  const SqlTimeouts timeouts = TimeoutsFromView();
  r.conout = timeouts.connectSeconds;
  r.sqlout = timeouts.commandSeconds;
  r.btwdays = SpinValue(Control::kDaysBetweenBackups, kIntervalDaysMin, kIntervalDaysMax);
  r.safecheck = v.Checked(Control::kGuardSqlServer);
  return r;
}

void MainWindowPresenter::ApplySavedSettings(const std::optional<std::string>& newArchivePassword) {
  // Only now, with the password stored, does it protect the archives.
  if (newArchivePassword) PutArchivePasswordInForce(*newArchivePassword);
  ClearPasswordGroup();
  const bool guardWasOn = s_.state.guardSwitch;
  CaptureBackupConfiguration();

  if (!s_.state.configured.exchange(true)) s_.runLog.Append(ui_msg::kServiceStarted);
  // The saved time and interval are the schedule's now, with its wake timer.
  ShowNextBackupTime();

  if (serviceWindow_) {
    // The service follows the saved file and keeps SQL Server itself.
  } else if (view_.Checked(Control::kGuardSqlServer)) {
    // startGuard claims the guard-running flag itself (one exchange), so a
    // second save while the first guard starts up never makes a second one.
    // A guard that cannot be started writes its own run-log line.
    if (!s_.state.guardRunning && s_.startGuard) s_.startGuard();
  } else if (guardWasOn && s_.wakeGuard) {
    s_.wakeGuard();  // the guard sees its switch cleared now, not after its wait
  }
}

}  // namespace veltora
