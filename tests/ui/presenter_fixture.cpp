#include "ui/presenter_fixture.h"

#include <algorithm>
#include <filesystem>

#include "settings/raw_db.h"

namespace veltora {

void PrintTo(const ShownMessage& m, std::ostream* os) {
  const char* style = m.style == MessageStyle::kWarning  ? "warning"
                      : m.style == MessageStyle::kNotice ? "notice"
                                                         : "error";
  *os << style << " \"" << m.text << "\"";
}

void PrintTo(const AccountListRow& r, std::ostream* os) {
  *os << "{" << r.accountid << " | " << r.accountname << " | " << r.dbname << "}";
}

void PrintTo(const AccountSetEntry& e, std::ostream* os) {
  *os << (e.ticked ? "[x] " : "[ ] ") << e.number << " | " << e.name << " | " << e.database;
}

}  // namespace veltora

namespace veltora::testing {

PresenterFixture::PresenterFixture() {
  std::filesystem::create_directories(appFolder);
  std::filesystem::create_directories(standinFolder);
  InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, appFolder);
  sqlServer = std::make_unique<StandinSqlServerFactory>(standinFolder);
}

bool PresenterFixture::IsFolder(const std::string& folder) const {
  if (std::find(shares.begin(), shares.end(), folder) != shares.end()) return true;
  return !folder.starts_with("\\\\") && std::filesystem::is_directory(folder);
}

void PresenterFixture::FillSavableWindow() {
  std::filesystem::create_directories(accountFolder);
  std::filesystem::create_directories(backupFolder);
  WriteFile(accountFolder + "/a.AIS", "a");
  WriteFile(accountFolder + "/b.AIS", "b");
  view.SetItemIndex(Control::kEdition, 0);
  view.SetText(Control::kAccountFolder, accountFolder);
  view.SetAccountRows({{false, "", "a.AIS", "a.AIS"}, {true, "", "b.AIS", "b.AIS"}});
  view.SetText(Control::kServerUser, "admin");
  view.SetText(Control::kLocalFolder, backupFolder);
}

void PresenterFixture::MakeSqlServer(const std::string& catalogue,
                                     const std::vector<AccountSetEntry>& accountSets) {
  StandinSqlServer::CreateServer(standinFolder, {{sqlUser, sqlPassword}});
  if (catalogue.empty()) return;
  RawDb db(StandinSqlServer::CreateDatabase(standinFolder, catalogue));
  db.Exec(
      "CREATE TABLE t_ad_kdAccount_gl(FAcctID INTEGER, FAcctNumber TEXT, FAcctName TEXT, "
      "FDBName TEXT)");
  int id = 1;
  for (const AccountSetEntry& e : accountSets)
    db.Exec("INSERT INTO t_ad_kdAccount_gl VALUES (" + std::to_string(id++) + ", '" + e.number +
            "', '" + e.name + "', '" + e.database + "')");
}

std::unique_ptr<SettingsDatabase> PresenterFixture::Db() const {
  // now() in the database reads the fixture's clock, as it would the agent's.
  return std::make_unique<SettingsDatabase>(
      appFolder, std::shared_ptr<const Clock>(&clock, [](const Clock*) {}));
}

MainWindowServices PresenterFixture::Services() {
  return MainWindowServices{
      .state = state,
      .clock = clock,
      .runLog = log,
      .rotateRunLog = [this] { ++rotations; },
      .runLogDayOf = {},
      .openSettings =
          [this] {
            settingsLockHeldAtOpen.push_back(!settingsLock.expired());
            return Db();
          },
      .holdSettingsLock = [this](bool& busy, std::string&) -> std::shared_ptr<void> {
        busy = settingsLockBusy;
        if (busy) return nullptr;
        if (auto held = settingsLock.lock()) return held;
        auto hold = std::make_shared<int>(0);
        settingsLock = hold;
        return hold;
      },
      .sqlServer = *sqlServer,
      .ensureSqlServerRunning = [this] { ++ensureCalls; },
      .startGuard =
          [this] {
            ++guardStarts;
            if (guardStartAnswer)
              state.guardRunning = true;
            else
              log.Append("创建SQL Server保护线程失败！");  // as the real guard does
            return guardStartAnswer;
          },
      .wakeGuard = [this] { ++guardWakes; },
      .backupRunner = runner,
      .folderExists = [this](const std::string& f) { return IsFolder(f); },
      .isFolderWritable =
          [this](const std::string& f) {
            return IsFolder(f) &&
                   std::find(unwritable.begin(), unwritable.end(), f) == unwritable.end();
          },
      .connectShare =
          [this](const std::string& share, const std::string& user, const std::string& pw) {
            shareConnections.push_back(share + "|" + user + "|" + pw);
            return shareAnswer;
          },
      .readAutostart = [this] { return autostart; },
      .registerAutostart =
          [this](std::string& error) {
            autostartCalls.push_back("register");
            if (!registerAnswer) error = "refused";
            return registerAnswer;
          },
      .removeAutostart =
          [this](std::string& error) {
            autostartCalls.push_back("remove");
            if (!removeAnswer) error = "refused";
            return removeAnswer;
          },
      .refuseBlankInPath = [this] { return blankRefusal; },
      .claimSingleInstance = [this] { return instanceRefusal; },
      .refuseNonAdministrator = [this] { return adminRefusal; },
      .servesAsServiceWindow = [this] { return serviceWindow; },
      .agentServiceState =
          [this] {
            ++serviceLooks;
            return serviceState;
          },
      .takeOverFromService = [this] { return folderFree; },
      .setWakeTimer =
          [this](const LocalTime& when, std::string& error) {
            wakeTimers.push_back(FormatDateTime(when));
            if (!wakeTimerAnswer) error = "no wake support";
            return wakeTimerAnswer;
          },
      .sleep =
          [this](std::chrono::milliseconds ms) {
            sleeps.push_back(ms);
            if (onSleep) onSleep();
          },
      .enterExecutableFolder = [this] { ++folderEntries; },
      .trimWorkingSet = [this] { ++trims; },
  };
}

}  // namespace veltora::testing
