// The one-shot SQL Server check and the guard thread against the fake
// systemctl.
#include "service/sql_server_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "support/fake_systemctl.h"
#include "support/fakes.h"

namespace veltora {
namespace {

using testing::FakeSystemctl;
using namespace std::chrono_literals;

// Generous: only a guard that hangs ever reaches it.
constexpr auto kWatchdog = 30s;

template <typename Predicate>
bool WaitUntil(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

bool Queried(const FakeSystemctl& systemctl) {
  const auto calls = systemctl.Calls();
  return std::any_of(calls.begin(), calls.end(),
                     [](const std::string& c) { return c.rfind("show ", 0) == 0; });
}

constexpr char kStart[] = "--no-block start -- mssql-server.service";
constexpr char kThaw[] = "--no-block thaw -- mssql-server.service";

class SqlServerGuardTest : public ::testing::Test {
 protected:
  FakeSystemctl systemctl_;
  std::unique_ptr<ServiceManager> manager_ =
      MakeSystemServiceManager({.searchPath = systemctl_.searchPath()});
  std::atomic<bool> guardSwitch_{true};
  std::atomic<bool> configured_{true};
  std::atomic<bool> guardRunning_{false};
  testing::RecordingLog log_;
  GuardFlags flags_{guardSwitch_, configured_, guardRunning_};
};

TEST_F(SqlServerGuardTest, EnsureStartsAStoppedAndContinuesAPausedServerOnly) {
  struct Case {
    const char* active;
    const char* freezer;
    std::vector<std::string> controls;
  };
  const Case cases[] = {
      {"inactive", "running", {kStart}}, {"failed", "running", {kStart}},
      {"active", "frozen", {kThaw}},     {"active", "running", {}},
      {"activating", "running", {}},     {"active", "freezing", {}},
  };
  for (const auto& c : cases) {
    systemctl_.SetUnit("mssql-server", c.active, c.freezer, "SQL Server Database Engine");
    systemctl_.ClearCalls();
    EnsureSqlServerRunning(*manager_, guardRunning_, log_);
    EXPECT_EQ(systemctl_.Controls(), c.controls) << c.active << "/" << c.freezer;
  }
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(SqlServerGuardTest, EnsureLeavesTheServiceAloneWhileTheGuardRunsOrWithoutSqlServer) {
  systemctl_.SetUnit("mssql-server", "inactive");
  guardRunning_ = true;
  EnsureSqlServerRunning(*manager_, guardRunning_, log_);
  EXPECT_TRUE(systemctl_.Calls().empty());

  // Only a named instance's helper: counted, but MSSQLSERVER itself reads 错误.
  guardRunning_ = false;
  FakeSystemctl other;
  other.SetUnit("cron", "inactive");
  const auto otherManager = MakeSystemServiceManager({.searchPath = other.searchPath()});
  EnsureSqlServerRunning(*otherManager, guardRunning_, log_);
  EXPECT_FALSE(Queried(other));
  other.SetUnit("mssqlserveradhelper", "inactive");
  EnsureSqlServerRunning(*otherManager, guardRunning_, log_);
  EXPECT_TRUE(Queried(other));
  EXPECT_TRUE(other.Controls().empty());

  // A broken service manager is swallowed.
  other.Break();
  EnsureSqlServerRunning(*otherManager, guardRunning_, log_);
}

// A start the service manager refuses is told with its reason: by the check
// before a backup each time, by the guard once however often it tries.
TEST_F(SqlServerGuardTest, ARefusedStartIsWrittenWithItsReason) {
  systemctl_.SetUnit("mssql-server", "inactive");
  systemctl_.RefuseControls(4);
  EnsureSqlServerRunning(*manager_, guardRunning_, log_);
  systemctl_.RefuseControls(1);
  EnsureSqlServerRunning(*manager_, guardRunning_, log_);
  EXPECT_EQ(log_.lines(), (std::vector<std::string>{
                              "启动SQL Server服务失败！原因：拒绝访问，需要以管理员身份运行",
                              "启动SQL Server服务失败！原因：systemctl 退出状态 1"}));

  systemctl_.RefuseControls(4);
  systemctl_.ClearCalls();
  testing::RecordingLog guardLog;
  SqlServerGuard guard(*manager_, flags_, guardLog, 1ms);
  ASSERT_TRUE(guard.Start());
  ASSERT_TRUE(WaitUntil([&] { return systemctl_.Controls().size() >= 3; }));
  guard.Stop();
  EXPECT_EQ(guardLog.lines(), std::vector<std::string>{
                                  "启动SQL Server服务失败！原因：拒绝访问，需要以管理员身份运行"});
}

TEST_F(SqlServerGuardTest,
       GuardStartsAStoppedServerInItsFirstPassAndStopsWithoutSittingOutItsWait) {
  systemctl_.SetUnit("mssql-server", "inactive");
  // An hour's wait: only a cancellable wait lets Stop return.
  SqlServerGuard guard(*manager_, flags_, log_, std::chrono::hours(1));
  ASSERT_TRUE(guard.Start());
  EXPECT_TRUE(guardRunning_);
  ASSERT_TRUE(WaitUntil([&] { return !systemctl_.Controls().empty(); }));
  EXPECT_EQ(systemctl_.Controls(), std::vector<std::string>{kStart});

  auto stopped = std::async(std::launch::async, [&] { guard.Stop(); });
  ASSERT_EQ(stopped.wait_for(kWatchdog), std::future_status::ready);
  EXPECT_FALSE(guardRunning_);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(SqlServerGuardTest, GuardKeepsCheckingUntilItsSwitchIsCleared) {
  systemctl_.SetUnit("mssql-server", "active");
  SqlServerGuard guard(*manager_, flags_, log_, 10ms);
  ASSERT_TRUE(guard.Start());
  // A second start while it runs makes no second guard.
  ASSERT_TRUE(guard.Start());
  ASSERT_TRUE(WaitUntil([&] { return Queried(systemctl_); }));
  EXPECT_TRUE(systemctl_.Controls().empty());

  systemctl_.SetUnit("mssql-server", "active", "frozen");
  ASSERT_TRUE(WaitUntil([&] { return !systemctl_.Controls().empty(); }));
  EXPECT_EQ(systemctl_.Controls().front(), kThaw);

  // Cleared switch: the guard ends by itself, and the one-shot check acts
  // on its own again.
  guardSwitch_ = false;
  guard.Wake();
  ASSERT_TRUE(WaitUntil([&] { return !guardRunning_; }));
  systemctl_.SetUnit("mssql-server", "inactive");
  systemctl_.ClearCalls();
  EnsureSqlServerRunning(*manager_, guardRunning_, log_);
  EXPECT_EQ(systemctl_.Controls(), std::vector<std::string>{kStart});

  // A later start runs a new guard, which sees the switch and ends again.
  ASSERT_TRUE(guard.Start());
  ASSERT_TRUE(WaitUntil([&] { return !guardRunning_; }));
}

TEST_F(SqlServerGuardTest, GuardEndsInItsFirstPassWithoutSqlServerOrConfiguration) {
  systemctl_.SetUnit("cron", "inactive");
  SqlServerGuard guard(*manager_, flags_, log_, std::chrono::hours(1));
  ASSERT_TRUE(guard.Start());
  ASSERT_TRUE(WaitUntil([&] { return !guardRunning_; }));
  EXPECT_FALSE(Queried(systemctl_));

  systemctl_.SetUnit("mssql-server", "inactive");
  configured_ = false;
  systemctl_.ClearCalls();
  ASSERT_TRUE(guard.Start());
  ASSERT_TRUE(WaitUntil([&] { return !guardRunning_; }));
  EXPECT_TRUE(systemctl_.Calls().empty());
}

}  // namespace
}  // namespace veltora
