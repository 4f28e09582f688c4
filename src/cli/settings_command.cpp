// veltora-cli settings: the stored settings shown and changed under the very
// checks and texts of the main window's "保存设置", so that a machine without a
// window is configured by the same rules.
//
// `set` and `tick` load the settings into the window held in memory, change
// the named fields there as a user would, and press "保存设置". A refused
// value prints the window's message, stores nothing and exits 2.
#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "accounts/account_sets.h"
#include "app/autostart.h"
#include "app/messages.h"
#include "app/single_instance.h"
#include "base/text.h"
#include "cli/cli.h"
#include "cli/headless_window.h"
#include "cli/messages.h"
#include "settings/settings_database.h"
#include "settings/settings_repair.h"
#include "ui/messages.h"

namespace veltora {
namespace {

enum class FieldKind {
  kText,      // an edit or spin field: the value as typed
  kSecret,    // an edit whose value `show` hides
  kSwitch,    // a tick box: true or false
  kEdition,   // the edition list: 0..3
  kLevel,     // the level list: its shown name, or 0..5
  kFolder,    // the account folder: chosen as with "浏览", which lists it
  kPassword,  // the archive password: changed through the password group
  kFixed,     // shown, never set: the local switch nobody can untick
};

struct SettingField {
  const char* column;  // the column of bakset: the KEY of `set`
  Control control;
  FieldKind kind;
};

// In the order the settings are applied: the edition first (it empties the
// list), then what lists the account sets, then the rest.
constexpr SettingField kFields[] = {
    {"softvernum", Control::kEdition, FieldKind::kEdition},
    {"accountdir", Control::kAccountFolder, FieldKind::kFolder},
    {"sqluser", Control::kSqlUser, FieldKind::kText},
    {"sqlpwd", Control::kSqlPassword, FieldKind::kSecret},
    {"localuser", Control::kServerUser, FieldKind::kText},
    {"localpwd", Control::kServerPassword, FieldKind::kSecret},
    {"remoteuser", Control::kShareUser, FieldKind::kText},
    {"remotepwd", Control::kSharePassword, FieldKind::kSecret},
    {"localbak", Control::kLocalBackup, FieldKind::kFixed},
    {"remotebak", Control::kShareBackup, FieldKind::kSwitch},
    {"localdir", Control::kLocalFolder, FieldKind::kText},
    {"remotedir", Control::kShareFolder, FieldKind::kText},
    {"bakfilenum", Control::kKeepCount, FieldKind::kText},
    {"rarlevel", Control::kCompressionLevel, FieldKind::kLevel},
    {"baktime", Control::kBackupTime, FieldKind::kText},
    {"conout", Control::kConnectTimeout, FieldKind::kText},
    {"sqlout", Control::kCommandTimeout, FieldKind::kText},
    {"btwdays", Control::kDaysBetweenBackups, FieldKind::kText},
    {"safecheck", Control::kGuardSqlServer, FieldKind::kSwitch},
    {"rarpwd", Control::kNewArchivePassword, FieldKind::kPassword},
};

const SettingField* FindField(const std::string& column) {
  for (const auto& field : kFields)
    if (column == field.column) return &field;
  return nullptr;
}

std::optional<bool> ReadSwitch(const std::string& value) {
  if (value == "true" || value == "1") return true;
  if (value == "false" || value == "0") return false;
  return std::nullopt;
}

std::optional<int> ReadLevel(const std::string& value) {
  const auto& names = app_msg::kCompressionLevelNames;
  for (int i = 0; i < static_cast<int>(std::size(names)); ++i)
    if (value == names[i] || value == std::to_string(i)) return i;
  return std::nullopt;
}

// The window's "自动运行本程序" box: no column of the settings row but the
// machine's registration (on Linux the agent's systemd unit), changed the
// moment the box is clicked, never by the save.
constexpr char kAutostartKey[] = "autostart";
// The box did not end up as asked: the registration failed, as the window's
// warning on standard error says.
constexpr int kExitNotRegistered = 1;

struct SetRequest {
  std::vector<std::pair<const SettingField*, std::string>> values;  // in kFields order
  std::optional<std::vector<std::string>> ticks;  // the account sets to tick, exactly
  std::optional<bool> autostart;
};

// Reads KEY=VALUE words and --tick NAME pairs; nullopt (with the reason in
// `problem`) for a word that is neither, an unknown key or a repeated one.
std::optional<SetRequest> ParseSetRequest(const std::vector<std::string>& words,
                                          std::string& problem) {
  SetRequest request;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--tick") {
      if (i + 1 >= words.size()) {
        problem = cli_msg::kTickNeedsName;
        return std::nullopt;
      }
      if (!request.ticks) request.ticks.emplace();
      request.ticks->push_back(words[++i]);
      continue;
    }
    const auto equals = word.find('=');
    if (equals != std::string::npos && word.compare(0, equals, kAutostartKey) == 0) {
      if (request.autostart) {
        problem = cli_msg::kRepeatedSetting + std::string(kAutostartKey);
        return std::nullopt;
      }
      request.autostart = ReadSwitch(word.substr(equals + 1));
      if (!request.autostart) {
        problem = cli_msg::kSwitchValue + std::string(kAutostartKey);
        return std::nullopt;
      }
      continue;
    }
    const SettingField* field =
        equals == std::string::npos ? nullptr : FindField(word.substr(0, equals));
    if (field == nullptr) {
      problem = cli_msg::kUnknownSetting + word;
      return std::nullopt;
    }
    if (!seen.insert(field->column).second) {
      problem = cli_msg::kRepeatedSetting + std::string(field->column);
      return std::nullopt;
    }
    request.values.emplace_back(field, word.substr(equals + 1));
  }
  std::stable_sort(request.values.begin(), request.values.end(),
                   [](auto& a, auto& b) { return a.first - kFields < b.first - kFields; });
  return request;
}

std::vector<std::string> TickedNames(const MainWindowView& view) {
  std::vector<std::string> names;
  for (const auto& row : view.AccountRows())
    if (row.ticked) names.push_back(row.name);
  return names;
}

// Ticks exactly the named entries of the list. With `strict`, a name that
// is not in the list changes nothing and is answered in `missing` (false).
bool TickExactly(MainWindowView& view, const std::vector<std::string>& names, bool strict,
                 std::string& missing) {
  auto rows = view.AccountRows();
  for (const auto& name : names) {
    if (strict &&
        std::none_of(rows.begin(), rows.end(), [&](const auto& r) { return r.name == name; })) {
      missing = name;
      return false;
    }
  }
  for (auto& row : rows)
    row.ticked = std::find(names.begin(), names.end(), row.name) != names.end();
  view.SetAccountRows(rows);
  return true;
}

// Puts one value into the window as a user would; false with the reason when
// the value is not one the field can hold at all.
bool ApplyValue(MainWindowPresenter& presenter, AgentView& view, const SettingField& field,
                const std::string& value, std::string& problem) {
  switch (field.kind) {
    case FieldKind::kText:
    case FieldKind::kSecret:
      if (field.control == Control::kDaysBetweenBackups) {
        // The interval field holds whole days from 1 to 30 and nothing else;
        // the window's spin box cannot be given another value.
        const std::string days = Trim(value);
        if (days.empty() || days.size() > 2 ||
            days.find_first_not_of("0123456789") != std::string::npos || std::stoi(days) < 1 ||
            std::stoi(days) > 30) {
          problem = cli_msg::kIntervalRange;
          return false;
        }
      }
      view.SetText(field.control, value);
      return true;
    case FieldKind::kSwitch: {
      const auto on = ReadSwitch(value);
      if (!on) {
        problem = cli_msg::kSwitchValue + std::string(field.column);
        return false;
      }
      view.SetChecked(field.control, *on);
      return true;
    }
    case FieldKind::kEdition: {
      if (value.size() != 1 || value[0] < '0' || value[0] >= '0' + kEditionCount) {
        problem = cli_msg::kEditionValue;
        return false;
      }
      if (view.ItemIndex(Control::kEdition) != value[0] - '0') {
        view.SetItemIndex(Control::kEdition, value[0] - '0');
        presenter.EditionChanged();
      }
      return true;
    }
    case FieldKind::kLevel: {
      const auto level = ReadLevel(value);
      if (!level) {
        problem = cli_msg::kLevelValue;
        return false;
      }
      view.SetItemIndex(Control::kCompressionLevel, *level);
      return true;
    }
    case FieldKind::kFolder:
      view.SetBrowseAnswer(value);
      presenter.BrowseAccountFolderClicked();
      view.SetBrowseAnswer("");
      return true;
    case FieldKind::kPassword:
      // Whoever may write the settings file knows the password in force: the
      // old entry is that password, the new and the confirm entries the value.
      view.SetChecked(Control::kPasswordGroup, true);
      presenter.PasswordGroupTicked();
      view.SetText(Control::kOldArchivePassword, presenter.ArchivePassword());
      view.SetText(Control::kNewArchivePassword, value);
      view.SetText(Control::kConfirmArchivePassword, value);
      return true;
    case FieldKind::kFixed:
      if (ReadSwitch(value) == view.Checked(field.control)) return true;
      problem = cli_msg::kLocalBackupFixed;
      return false;
  }
  return false;
}

void ShowSettings(MainWindowPresenter& presenter, const AgentView& view, bool autostart,
                  bool showPasswords, std::ostream& out) {
  for (const auto& field : kFields) {
    std::string value;
    switch (field.kind) {
      case FieldKind::kText:
      case FieldKind::kFolder:
        value = view.Text(field.control);
        break;
      case FieldKind::kSecret:
        value = view.Text(field.control);
        if (!showPasswords && !value.empty()) value = cli_msg::kPasswordPlaceholder;
        break;
      case FieldKind::kSwitch:
      case FieldKind::kFixed:
        value = view.Checked(field.control) ? "true" : "false";
        break;
      case FieldKind::kEdition: {
        const int edition = view.ItemIndex(field.control);
        value = std::to_string(edition) + " (" + EditionName(edition) + ")";
        break;
      }
      case FieldKind::kLevel: {
        const int level = view.ItemIndex(field.control);
        value = level >= 0 && level < static_cast<int>(std::size(app_msg::kCompressionLevelNames))
                    ? app_msg::kCompressionLevelNames[level]
                    : "";
        break;
      }
      case FieldKind::kPassword:
        value = presenter.ArchivePassword();
        if (!showPasswords && !value.empty()) value = cli_msg::kPasswordPlaceholder;
        break;
    }
    out << field.column << "=" << value << "\n";
  }
  out << kAutostartKey << "=" << (autostart ? "true" : "false") << "\n";
  out << cli_msg::kAccountSetsHeader;
  for (const auto& row : view.AccountRows()) {
    out << (row.ticked ? "[x] " : "[ ] ") << row.name;
    if (!row.number.empty()) out << " (" << row.number << ")";
    out << "\n";
  }
  out << view.nextBackupText() << "\n";
}

// Clicks the box into the state asked for, as the user would; the window's
// warning (with the reason) is on standard error when the registration does
// not end up so.
template <typename Registered>
int SetAutostart(MainWindowPresenter& presenter, AgentView& view, bool on,
                 const Registered& registered) {
  view.SetChecked(Control::kAutostart, on);
  presenter.AutostartClicked();
  return registered() == on ? kExitOk : kExitNotRegistered;
}

int Usage(std::ostream& err, const std::string& problem) {
  err << "veltora-cli settings: " << problem << "\n" << cli_msg::kSettingsUsage;
  return kExitUsage;
}

}  // namespace

int RunSettingsCommand(const std::string& appFolder, const CliContext& context,
                       const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, cli_msg::kSettingsNeedsAction);
  const std::string& action = args[0];
  std::vector<std::string> words(args.begin() + 1, args.end());

  bool showPasswords = false;
  std::optional<SetRequest> request;
  if (action == "show") {
    if (words.size() > 1 || (words.size() == 1 && words[0] != "--show-passwords"))
      return Usage(err, cli_msg::kShowOptions);
    showPasswords = words.size() == 1;
  } else if (action == "set" || action == "tick") {
    if (action == "tick") {
      if (words.empty()) return Usage(err, cli_msg::kTickNeedsName);
      std::vector<std::string> asTicks;
      for (const auto& name : words) {
        asTicks.push_back("--tick");
        asTicks.push_back(name);
      }
      words = asTicks;
    }
    if (words.empty()) return Usage(err, cli_msg::kSetNeedsValue);
    std::string problem;
    request = ParseSetRequest(words, problem);
    if (!request) return Usage(err, problem);
    // A password as "-" comes from standard input, never the command line
    // that every local user can read while the command runs.
    for (auto& [field, value] : request->values) {
      const bool secret = field->kind == FieldKind::kSecret || field->kind == FieldKind::kPassword;
      if (!secret || value != "-") continue;
      std::optional<std::string> read;
      if (context.readSecret) read = context.readSecret(field->kind == FieldKind::kPassword);
      if (!read) return Usage(err, cli_msg::kSecretNotRead + std::string(field->column));
      value = std::move(*read);
    }
  } else {
    return Usage(err, cli_msg::kSettingsNeedsAction);
  }

  const auto readConfigured = [&]() -> std::optional<bool> {
    try {
      return SettingsDatabase(appFolder).HasAccountList();
    } catch (const std::exception& e) {
      err << "veltora-cli settings: "
          << DescribeSettingsProblem(DiagnoseSettingsDatabase(appFolder), e.what()) << "\n";
    }
    return std::nullopt;
  };
  std::optional<bool> configured = readConfigured();
  if (!configured) return kExitUsage;

  HeadlessWindowOptions options;
  options.settingsLockWait = context.settingsLockWait;
  HeadlessWindow window(appFolder, context, err, std::move(options));
  MainWindowPresenter& presenter = window.presenter();
  AgentView& view = window.view();
  // A change holds the folder's settings lock from its load to its write
  // (the save takes the same hold again): another save in between would be
  // overwritten by the whole row this one loaded.
  std::shared_ptr<void> settingsLock;
  if (action != "show") {
    bool busy = false;
    std::string lockError;
    settingsLock = window.HoldSettingsLock(busy, lockError);
    if (!settingsLock) {
      err << "veltora-cli settings: " << (busy ? ui_msg::kSaveInProgress : lockError) << "\n";
      return kExitUsage;
    }
    configured = readConfigured();  // another save may have made the choice meanwhile
    if (!configured) return kExitUsage;
  }
  if (!presenter.LoadSettingsClicked()) return kExitUsage;
  window.state().configured = *configured;
  const auto registered = [&window] {
    const AutostartRegistration r = window.services().readAutostart();
    return r.exists && r.namesThisExecutable;
  };
  if (action == "show") {
    ShowSettings(presenter, view, registered(), showPasswords, out);
    return kExitOk;
  }

  // A save while a backup runs is refused, as in the window; the run lock
  // is held through the save so that no run starts on half-changed settings.
  // Other saves wait at the settings lock, so a held run lock is a run.
  std::string lockError;
  bool held = false;
  const auto runLock = AppFolderLock::TryAcquire(appFolder, kRunLockFileName, lockError, &held);
  if (!runLock && held) window.state().backupRunning = true;

  // The box alone is no change of the settings: nothing is saved.
  const bool saving = !request->values.empty() || request->ticks.has_value();
  if (!saving) return SetAutostart(presenter, view, *request->autostart, registered);

  const std::vector<std::string> tickedBefore = TickedNames(view);
  bool relistCatalogue = false;
  for (const auto& [field, value] : request->values) {
    // The file editions have no SQL Server login: one given is said to be
    // ignored, never stored where the window would not show it.
    if ((field->control == Control::kSqlUser || field->control == Control::kSqlPassword) &&
        !IsSqlEdition(view.ItemIndex(Control::kEdition))) {
      err << "veltora-cli settings: " << cli_msg::kSqlLoginIgnored << field->column << "\n";
      continue;
    }
    std::string problem;
    if (!ApplyValue(presenter, view, *field, value, problem)) {
      err << "veltora-cli settings: " << problem << "\n";
      return kExitUsage;
    }
    relistCatalogue = relistCatalogue || field->control == Control::kEdition ||
                      field->control == Control::kSqlUser ||
                      field->control == Control::kSqlPassword;
  }
  // A new login or edition lists the catalogue again, as Enter in the
  // password box does.
  if (relistCatalogue && IsSqlEdition(view.ItemIndex(Control::kEdition)))
    presenter.ListSqlAccountSetsClicked();
  // A list made anew (another edition or folder) keeps the ticks it had, by
  // name, unless others are asked for.
  std::string missing;
  if (!TickExactly(view, request->ticks ? *request->ticks : tickedBefore,
                   request->ticks.has_value(), missing)) {
    err << "veltora-cli settings: " << cli_msg::kNoSuchAccountSet << missing << "\n";
    return kExitUsage;
  }
  if (!presenter.SaveSettingsClicked()) return kExitUsage;
  out << cli_msg::kSettingsSaved;
  return request->autostart ? SetAutostart(presenter, view, *request->autostart, registered)
                            : kExitOk;
}

}  // namespace veltora
