#include "ui/presenter_fixture.h"

#include <algorithm>
#include <filesystem>

namespace veltora::testing {

PresenterFixture::PresenterFixture() {
  std::filesystem::create_directories(appFolder);
  std::filesystem::create_directories(standinFolder);
  InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, appFolder);
  sqlServer = std::make_unique<StandinSqlServerFactory>(standinFolder);
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
      .openSettings = [this] { return Db(); },
      .sqlServer = *sqlServer,
      .ensureSqlServerRunning = [this] { ++ensureCalls; },
      .startGuard =
          [this] {
            ++guardStarts;
            if (guardStartAnswer) state.guardRunning = true;
            return guardStartAnswer;
          },
      .wakeGuard = [this] { ++guardWakes; },
      .backupRunner = runner,
      .folderExists = [](const std::string& f) { return std::filesystem::is_directory(f); },
      .isFolderWritable =
          [this](const std::string& f) {
            return std::filesystem::is_directory(f) &&
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
      .sleep =
          [this](std::chrono::milliseconds ms) {
            sleeps.push_back(ms);
            if (onSleep) onSleep();
          },
  };
}

}  // namespace veltora::testing
