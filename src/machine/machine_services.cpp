#include "machine/machine_services.h"

#include <thread>

#include "app/autostart.h"
#include "app/startup_checks.h"
#include "base/working_set.h"
#include "files/file_ops.h"
#include "files/folder_listing.h"
#include "files/share_connection.h"
#include "files/temp_names.h"
#include "machine/backup_composition.h"
#include "service/agent_service.h"
#include "service/messages.h"
#include "settings/settings_database.h"
#include "ui/weekly_test_restore.h"

namespace veltora {

MachineServices::MachineServices(const std::string& appFolder, const MachineContext& context,
                                 MachineServicesOptions options)
    : appFolder_(appFolder),
      context_(context),
      executablePath_(context.executablePath.empty() ? ExecutablePath() : context.executablePath),
      clock_(options.clock ? options.clock : std::make_shared<SystemClock>()),
      state_(appFolder),
      runLog_(state_.runLogPath, *clock_),
      sqlServer_(MakeSqlServerFactory(context.sqlStandinFolder, context.sqlServerHost,
                                      context.sqlServerPort)),
      serviceManager_(options.serviceManager
                          ? options.serviceManager
                          : MakeSystemServiceManager({.searchPath = context.searchPath})),
      power_(options.power ? options.power : MakeSystemPowerControl()),
      guard_(*serviceManager_, {state_.guardSwitch, state_.configured, state_.guardRunning},
             runLog_),
      runner_(
          state_,
          [this, progress = options.progress] {
            return ComposeBackupRun({.context = context_,
                                     .state = state_,
                                     .log = runLog_,
                                     .rotateRunLog = [this] { runLog_.Rotate(); },
                                     .clock = clock_,
                                     .sqlServer = *sqlServer_,
                                     .serviceManager = *serviceManager_,
                                     .progress = progress});
          },
          {},
          [this, progress = options.progress, ended = options.runEnded](
              const BackupConfig& config, const std::optional<BackupRunSummary>& summary) {
            if (config.scheduled && summary) {
              RestoreServices restore = ComposeRestore(appFolder_, context_, *sqlServer_, progress);
              restore.clock = clock_;
              TestRestoreAfterScheduledRun(restore, runLog_);
            }
            if (ended) ended(config, summary);
          },
          power_.get()),
      settingsLockWait_(options.settingsLockWait) {
  if (options.runLogListener) runLog_.SetListener(std::move(options.runLogListener));
  const AutostartPlace autostart{.configRoot = kDefaultAutostartRoot,
                                 .executablePath = executablePath_,
                                 .searchPath = context.searchPath};
  auto refuse = [this](std::string answer) {
    if (refusal_.empty()) refusal_ = answer;
    return answer;
  };
  services_ = std::make_unique<MainWindowServices>(MainWindowServices{
      .state = state_,
      .clock = *clock_,
      .runLog = runLog_,
      .rotateRunLog = [this] { runLog_.Rotate(); },
      .runLogDayOf =
          [this](std::string_view prefix) { return LastDayOfRunLogLine(runLog_.path(), prefix); },
      .openSettings = [this] { return OpenSettings(); },
      .holdSettingsLock = [this](bool& busy,
                                 std::string& error) { return HoldSettingsLock(busy, error); },
      .sqlServer = *sqlServer_,
      .ensureSqlServerRunning =
          [this] { EnsureSqlServerRunning(*serviceManager_, state_.guardRunning, runLog_); },
      .startGuard = [this] { return guard_.Start(); },
      .wakeGuard = [this] { guard_.Wake(); },
      .backupRunner = runner_,
      .folderExists =
          [this](const std::string& f) { return FolderExists(FileSystems().Router(), f); },
      .isFolderWritable =
          [this](const std::string& f) { return IsFolderWritable(FileSystems().Router(), f); },
      .connectShare =
          [this](const std::string& share, const std::string& user, const std::string& password) {
            return ConnectShare(FileSystems().Share(), runLog_, share, user, password);
          },
      .readAutostart = [autostart] { return ReadAutostart(autostart); },
      .registerAutostart =
          [this, autostart](std::string& error) {
            return RegisterAutostart(autostart, runLog_, error);
          },
      .removeAutostart =
          [this, autostart](std::string& error) {
            return RemoveAutostart(autostart, runLog_, error);
          },
      .refuseBlankInPath = [this, refuse] { return refuse(RefuseBlankInPath(executablePath_)); },
      .claimSingleInstance =
          [this, refuse, mayServe = options.mayServeAsServiceWindow] {
            bool fault = false;
            bool heldElsewhere = false;
            std::string answer =
                ClaimSingleInstance(appFolder_, instanceLock_, lockDetail_, fault, &heldElsewhere);
            // A fault is no refusal: a later start may succeed.
            if (fault) return answer;
            // The running service holds the folder: the window becomes its
            // window instead of a second agent. The run lock still keeps the
            // two processes' runs apart.
            if (heldElsewhere && mayServe &&
                serviceManager_->GetServiceInfoText(kAgentServiceName) == service_msg::kRunning) {
              serviceWindow_ = true;
              return std::string();
            }
            return refuse(std::move(answer));
          },
      .refuseNonAdministrator = [refuse] { return refuse(RefuseNonAdministrator()); },
      .servesAsServiceWindow = [this] { return serviceWindow_; },
      .agentServiceState =
          [this] { return serviceManager_->GetServiceInfoText(kAgentServiceName); },
      .takeOverFromService =
          [this] {
            std::string detail;
            instanceLock_ = AppFolderLock::TryAcquire(appFolder_, kInstanceLockFileName, detail);
            return instanceLock_ != nullptr;
          },
      .setWakeTimer = [this](const LocalTime& when,
                             std::string& error) { return power_->SetWakeTimer(when, error); },
      .sleep = [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); },
      .enterExecutableFolder = options.enterExecutableFolder ? std::function<void()>([this] {
        MakeCurrentFolder(context_.executableFolder);
      })
                                                             : std::function<void()>(),
      .trimWorkingSet = [] { TrimWorkingSet(); },
  });
}

std::unique_ptr<SettingsDatabase> MachineServices::OpenSettings() const {
  return std::make_unique<SettingsDatabase>(appFolder_, clock_);
}

std::shared_ptr<void> MachineServices::HoldSettingsLock(bool& busy, std::string& error) {
  busy = false;
  if (auto held = settingsLock_.lock()) return held;
  // The lock files answer at once; a short poll makes the wait.
  constexpr std::chrono::milliseconds kPoll{50};
  const auto deadline = std::chrono::steady_clock::now() + settingsLockWait_;
  for (;;) {
    std::shared_ptr<AppFolderLock> lock =
        AppFolderLock::TryAcquire(appFolder_, kSettingsLockFileName, error, &busy);
    if (lock) {
      settingsLock_ = lock;
      return lock;
    }
    if (!busy || std::chrono::steady_clock::now() >= deadline) return nullptr;
    std::this_thread::sleep_for(kPoll);
  }
}

MachineServices::~MachineServices() {
  // A run still under way ends before the services it refers to go.
  runner_.Wait();
  guard_.Stop();
}

LocalAndSmbFileSystems& MachineServices::FileSystems() {
  if (!files_)
    files_ = std::make_unique<LocalAndSmbFileSystems>(
        context_.smbPort, kDefaultSmbTimeout, CopyMarker::For(MachineName(), state_.appFolder));
  return *files_;
}

}  // namespace veltora
