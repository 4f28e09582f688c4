#include "machine/backup_launcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "app/single_instance.h"
#include "settings/settings_database.h"
#include "settings/sqlite_backup_records.h"
#include "sqlserver/standin_sql_server.h"
#include "support/backup_services.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::RecordingLog;
using testing::TempDir;

constexpr char kRunSucceeded[] = "备份线程成功执行了备份操作！";

class OwnedRun final : public RunServices {
 public:
  explicit OwnedRun(BackupServices services) : services_(std::move(services)) {}
  const BackupServices& services() const override { return services_; }

 private:
  BackupServices services_;
};

// Records the keep-awake requests and the thread of each: the request belongs
// to the thread that made it, so its release must come from the same one.
class RecordingPower final : public PowerControl {
 public:
  bool KeepAwake(std::string& error) override {
    Record("awake");
    if (!keepAwakeAnswer) error = "refused";
    return keepAwakeAnswer;
  }
  void Release() override { Record("release"); }
  bool SetWakeTimer(const LocalTime&, std::string&) override { return true; }
  void CancelWakeTimer() override {}
  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
  }
  bool keepAwakeAnswer = true;

 private:
  void Record(const char* call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    threads_.push_back(std::this_thread::get_id());
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<std::thread::id> threads_;
};

// Whether another owner could take the application folder's lock now.
bool LockFree(const std::string& folder, const char* name) {
  std::string error;
  return AppFolderLock::TryAcquire(folder, name, error) != nullptr;
}

class BackupLauncherTest : public ::testing::Test {
 protected:
  BackupLauncherTest() {
    std::filesystem::create_directories(appFolder_);
    InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, appFolder_);
    state_.configured = true;
    config_.caption = "caption";
    config_.localFolder = dir_.str();
  }
  // A run still held at the gate is let go before the runner waits for it.
  ~BackupLauncherTest() override { OpenGate(); }

  // Each run is held at its second line until OpenGate().
  RunServicesFactory Factory() {
    return [this]() -> std::unique_ptr<RunServices> {
      ++composed_;
      if (composeFails_) throw std::runtime_error("cannot compose");
      BackupServices s = testing::TestBackupServices(log_, clock_, sqlServer_, records_);
      s.uptimeText = [gate = gate_] {
        gate.wait();
        return std::string("0时0分1秒");
      };
      return std::make_unique<OwnedRun>(std::move(s));
    };
  }
  void OpenGate() {
    if (!gateOpen_) open_.set_value();
    gateOpen_ = true;
  }
  int Successes() const {
    int n = 0;
    for (const auto& line : log_.lines()) n += line == kRunSucceeded ? 1 : 0;
    return n;
  }

  TempDir dir_;
  std::string appFolder_ = dir_ / "app";
  ProcessState state_{appFolder_};
  RecordingLog log_;
  testing::FixedClock clock_{LocalTime{2024, 5, 2, 1, 30, 0, 4}};
  StandinSqlServerFactory sqlServer_{dir_.str()};
  SqliteBackupRecordsFactory records_{appFolder_};
  BackupConfig config_;
  int composed_ = 0;
  bool composeFails_ = false;
  std::promise<void> open_;
  std::shared_future<void> gate_ = open_.get_future().share();
  bool gateOpen_ = false;
};

TEST_F(BackupLauncherTest, OneRunAtATimeHoldingTheFlagAndTheRunLockUntilItEnds) {
  ThreadBackupRunner runner(state_, Factory());
  ASSERT_EQ(runner.Start(config_), StartOutcome::kStarted);
  // Claimed before the thread was made, so a start right behind it is refused
  // whatever the thread has done so far.
  EXPECT_TRUE(state_.backupRunning);
  EXPECT_EQ(runner.Start(config_), StartOutcome::kAlreadyRunning);
  EXPECT_EQ(composed_, 1);
  // The run holds the run lock against other processes, not the agent's own.
  EXPECT_FALSE(LockFree(appFolder_, kRunLockFileName));
  EXPECT_TRUE(LockFree(appFolder_, kInstanceLockFileName));

  OpenGate();
  runner.Wait();
  EXPECT_FALSE(state_.backupRunning);
  EXPECT_TRUE(LockFree(appFolder_, kRunLockFileName));
  EXPECT_EQ(Successes(), 1);

  // The next start reuses the runner; without the configured flag the run
  // ends without a line.
  ASSERT_EQ(runner.Start(config_), StartOutcome::kStarted);
  runner.Wait();
  EXPECT_EQ(Successes(), 2);
  state_.configured = false;
  const auto before = log_.lines().size();
  ASSERT_EQ(runner.Start(config_), StartOutcome::kStarted);
  runner.Wait();
  EXPECT_EQ(log_.lines().size(), before);
  EXPECT_FALSE(state_.backupRunning);
}

// A start that does not get as far as the thread leaves the flag and the run
// lock free and writes nothing.
TEST_F(BackupLauncherTest, StartsThatFailReleaseFlagAndLock) {
  OpenGate();
  struct Case {
    const char* name;
    StartOutcome expected;
  };
  const Case cases[] = {{"another process runs a backup", StartOutcome::kAlreadyRunning},
                        {"the lock file cannot be opened", StartOutcome::kFailed},
                        {"the services cannot be composed", StartOutcome::kFailed},
                        {"the thread cannot be created", StartOutcome::kFailed}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    ThreadMaker makeThread;
    if (name == "the thread cannot be created")
      makeThread = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      };
    composeFails_ = name == "the services cannot be composed";
    ProcessState state(name == "the lock file cannot be opened" ? dir_ / "missing" : appFolder_);
    state.configured = true;
    std::unique_ptr<AppFolderLock> other;
    std::string error;
    if (name == "another process runs a backup")
      other = AppFolderLock::TryAcquire(appFolder_, kRunLockFileName, error);

    ThreadBackupRunner runner(state, Factory(), makeThread);
    EXPECT_EQ(runner.Start(config_), c.expected);
    EXPECT_FALSE(state.backupRunning);
    other.reset();
    EXPECT_TRUE(LockFree(appFolder_, kRunLockFileName));
    runner.Wait();
    EXPECT_TRUE(log_.lines().empty());
  }
}

// The machine stays awake from the start of a run to the end of what follows
// it (the test restore), on the run's thread, however the run ends.
TEST_F(BackupLauncherTest, TheMachineIsKeptAwakeForTheWholeRunOnItsThread) {
  RecordingPower power;
  bool throwAtEnd = false;
  std::vector<std::string> callsAtEnd;
  ThreadBackupRunner runner(
      state_, Factory(), {},
      [&](const BackupConfig&, const std::optional<BackupRunSummary>&) {
        callsAtEnd = power.Calls();
        if (throwAtEnd) throw std::runtime_error("test restore failed");
      },
      &power);
  ASSERT_EQ(runner.Start(config_), StartOutcome::kStarted);
  // Held while the run waits at its gate.
  while (power.Calls().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(power.Calls(), std::vector<std::string>{"awake"});
  OpenGate();
  runner.Wait();
  EXPECT_EQ(callsAtEnd, std::vector<std::string>{"awake"});
  EXPECT_EQ(power.Calls(), (std::vector<std::string>{"awake", "release"}));
  const auto threads = power.Threads();
  EXPECT_NE(threads[0], std::this_thread::get_id());
  EXPECT_EQ(threads[0], threads[1]);

  // A failing run (its local folder is gone) and an end that throws release
  // it all the same.
  config_.localFolder = dir_ / "missing";
  throwAtEnd = true;
  ASSERT_EQ(runner.Start(config_), StartOutcome::kStarted);
  runner.Wait();
  EXPECT_EQ(power.Calls(), (std::vector<std::string>{"awake", "release", "awake", "release"}));

  // A refusal is a line with its reason; the run goes on and nothing is
  // released.
  power.keepAwakeAnswer = false;
  log_.Clear();
  config_.localFolder = dir_.str();
  throwAtEnd = false;
  ASSERT_EQ(runner.Start(config_), StartOutcome::kStarted);
  runner.Wait();
  EXPECT_EQ(power.Calls().back(), "awake");
  ASSERT_FALSE(log_.lines().empty());
  EXPECT_EQ(log_.lines().front(),
            "无法阻止电脑在备份期间进入睡眠，备份可能被睡眠打断！原因：refused");
  EXPECT_EQ(Successes(), 1);
}

}  // namespace
}  // namespace veltora
