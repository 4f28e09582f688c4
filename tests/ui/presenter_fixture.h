// What the presenter tests share: a real application folder with the prepared
// settings database, a main window in memory, a frozen clock, a recording run
// log, and services whose outside effects (the backup thread, the guard, the
// share, autostart, SQL Server) are recorded and answered as each test says.
#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/process_state.h"
#include "settings/settings_database.h"
#include "sqlserver/standin_sql_server.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "ui/backup_runner.h"
#include "ui/main_window_presenter.h"
#include "ui/memory_view.h"

namespace veltora {

// Readable failures for the values the presenter tests compare.
void PrintTo(const ShownMessage& m, std::ostream* os);
void PrintTo(const AccountListRow& r, std::ostream* os);
void PrintTo(const AccountSetEntry& e, std::ostream* os);

}  // namespace veltora

namespace veltora::testing {

// Records each start; answers as told. Started runs "hold" the flag until
// Finish(), as the real thread would.
class RecordingRunner final : public BackupRunner {
 public:
  explicit RecordingRunner(std::atomic<bool>& running) : running_(running) {}
  StartOutcome Start(const BackupConfig& config) override {
    if (answer != StartOutcome::kStarted) return answer;
    if (running_.exchange(true)) return StartOutcome::kAlreadyRunning;
    starts.push_back(config);
    return StartOutcome::kStarted;
  }
  void Finish() { running_ = false; }
  StartOutcome answer = StartOutcome::kStarted;
  std::vector<BackupConfig> starts;

 private:
  std::atomic<bool>& running_;
};

struct PresenterFixture {
  TempDir dir;
  std::string appFolder = dir / "app";
  std::string standinFolder = dir / "sqlserver";
  FixedClock clock{LocalTime{2024, 5, 2, 10, 0, 0, 4}};
  RecordingLog log;
  ProcessState state{appFolder};
  MemoryView view;
  RecordingRunner runner{state.backupRunning};
  std::unique_ptr<StandinSqlServerFactory> sqlServer;

  // What the services were asked, and what they answer.
  int ensureCalls = 0;
  int guardStarts = 0;
  bool guardStartAnswer = true;
  int guardWakes = 0;
  int folderEntries = 0;                      // the executable's folder made current
  int trims = 0;                              // working-set trims
  std::vector<std::string> shareConnections;  // "share|user|password"
  bool shareAnswer = true;
  std::vector<std::string> unwritable;  // folders isFolderWritable refuses
  std::vector<std::string> shares;      // \\server\share folders that exist
  AutostartRegistration autostart;
  bool registerAnswer = true;
  bool removeAnswer = true;
  std::vector<std::string> autostartCalls;  // "register" / "remove"
  std::string blankRefusal, instanceRefusal, adminRefusal;
  // The settings lock: another save holds it while busy; each opening of
  // the settings says whether a hold was alive then.
  bool settingsLockBusy = false;
  std::weak_ptr<void> settingsLock;
  std::vector<bool> settingsLockHeldAtOpen;
  int rotations = 0;
  // The agent's service: whether this window serves it, its state, and how
  // often the state was asked.
  bool serviceWindow = false;
  bool folderFree = false;  // what takeOverFromService answers
  std::string serviceState = "运行中";
  int serviceLooks = 0;
  // The wake timer: each time asked for ("yyyy-mm-dd hh:mm:ss"), and the
  // answer (a refusal's reason is "no wake support").
  std::vector<std::string> wakeTimers;
  bool wakeTimerAnswer = true;
  std::vector<std::chrono::milliseconds> sleeps;
  // Called at each sleep of the close wait: lets a test end the guard.
  std::function<void()> onSleep;

  PresenterFixture();
  MainWindowServices Services();
  std::unique_ptr<SettingsDatabase> Db() const;

  // A window that saves as it stands: edition "金蝶KIS迷你版", the account
  // folder dir/accounts holding a.AIS and b.AIS with b.AIS ticked, server
  // user "admin", the local backup folder dir/bak, remote backup off.
  void FillSavableWindow();
  std::string accountFolder = dir / "accounts";
  std::string backupFolder = dir / "bak";

  // The stand-in SQL Server with the login sqlUser / sqlPassword and, when
  // `catalogue` is not empty, that Kingdee catalogue database holding these
  // account sets (number, name, database; ticks ignored).
  void MakeSqlServer(const std::string& catalogue = "",
                     const std::vector<AccountSetEntry>& accountSets = {});
  std::string sqlUser = "sa";
  std::string sqlPassword = "pw'1";

 private:
  bool IsFolder(const std::string& folder) const;
};

}  // namespace veltora::testing
