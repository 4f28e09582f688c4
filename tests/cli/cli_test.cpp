#include "cli/cli.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <thread>

#include <filesystem>
#include <sstream>

#include "app/single_instance.h"
#include "settings/settings_database.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  Result Cli(std::vector<std::string> args, std::string standin = "") {
    std::ostringstream out, err;
    const char* path = std::getenv("PATH");
    const CliContext context{VELTORA_BIN_DIR, "",  std::move(standin), "", "", "",
                             445,             path != nullptr ? path : ""};
    const int code = RunCli(args, context, out, err);
    return {code, out.str(), err.str()};
  }

  // An application folder whose settings back up `names` from an account folder.
  void ConfigureFileEdition(const std::vector<std::string>& names) {
    ASSERT_EQ(Cli({"--app-dir", app_, "init"}).code, kExitOk);
    fs::create_directories(accounts_);
    fs::create_directories(backups_);
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.softvernum = 1;
    row.accountDir = accounts_;
    row.localDir = backups_;
    row.localbak = true;
    db.SaveSettings(row);
    std::vector<AccountListRow> rows;
    for (const auto& n : names) rows.push_back({"", n, n});
    db.RewriteAccountList(rows);
  }

  TempDir dir_;
  std::string app_ = dir_ / "app";
  std::string accounts_ = dir_ / "accounts";
  std::string backups_ = dir_ / "backups";
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"--app-dir"}, {"log", "--limit", "x"}, {"backup", "extra"}}) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    const auto r = Cli(args);
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
}

TEST_F(CliTest, InitWritesTheSettingsDatabaseOnceAndOwnerOnly) {
  fs::create_directories(app_);
  ASSERT_EQ(Cli({"--app-dir", app_, "init"}).code, kExitOk);
  const auto perms = fs::status(app_ + "/Setlog.dll").permissions();
  EXPECT_EQ(perms & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
  const auto again = Cli({"--app-dir", app_, "init"});
  EXPECT_EQ(again.code, kExitUsage);
  EXPECT_FALSE(again.err.empty());
}

TEST_F(CliTest, BackupExitCodeTellsWhetherEveryTickedSetWasBackedUp) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS", "B b.AIS"}));
  WriteFile(accounts_ + "/A.AIS", "a");
  WriteFile(accounts_ + "/B b.AIS", "b");
  WriteFile(accounts_ + "/C.AIS", "not ticked");
  auto r = Cli({"--app-dir", app_, "backup"});
  EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_NE(r.out.find("账套文件" + accounts_ + "/B b.AIS本机备份成功"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("备份线程成功执行了备份操作！\n"), std::string::npos);

  // The backup table, newest first, limited.
  r = Cli({"--app-dir", app_, "log", "--limit", "1"});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out.rfind("账套名 | 备份文件 | 备份时间 | 备注 | 压缩密码\n", 0), 0u);
  EXPECT_NE(r.out.find(accounts_ + "/B b.AIS | " + backups_ + "/B b"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("A.AIS"), std::string::npos) << "only the newest row";

  // The local folder gone: the job ends early and the exit code says so.
  fs::remove_all(backups_);
  r = Cli({"--app-dir", app_, "backup"});
  EXPECT_EQ(r.code, kExitBackupIncomplete);
  EXPECT_NE(r.out.find("本机备份路径无效，备份失败！"), std::string::npos);
}

// One run per application folder: while another process holds the folder's
// lock, a backup says so and touches nothing - no run-log line, no row, no
// file.
TEST_F(CliTest, ASecondRunOnTheSameApplicationFolderTouchesNothing) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  WriteFile(accounts_ + "/A.AIS", "a");
  {
    std::string error;
    const auto held = AppFolderLock::TryAcquire(app_, error);
    ASSERT_TRUE(held) << error;
    const auto r = Cli({"--app-dir", app_, "backup"});
    EXPECT_EQ(r.code, kExitBackupIncomplete);
    EXPECT_NE(r.err.find("another backup or agent is running on the application folder"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_FALSE(fs::exists(app_ + "/程序运行日志.txt"));
    EXPECT_TRUE(fs::is_empty(backups_));
    EXPECT_TRUE(SettingsDatabase(app_).ListBackupLog().empty());
  }
  EXPECT_EQ(Cli({"--app-dir", app_, "backup"}).code, kExitOk) << "free again once released";
}

// Two processes started together on one folder: whichever gets the lock
// runs; the other, if it came while the first ran, is refused. Never do two
// writers share an archive name: every archive tests good, nothing temporary
// is left, and there is one success row per run that said it succeeded.
TEST_F(CliTest, TwoBackupProcessesStartedTogether) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  {
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.rarlevel = "最快";
    db.SaveSettings(row);
    db.UpdateArchivePassword("pw");
  }
  std::string big(16 << 20, '\0');
  std::uint32_t x = 7;
  for (auto& c : big) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  WriteFile(accounts_ + "/A.AIS", big);
  const std::string cli = std::string(VELTORA_BIN_DIR) + "/veltora-cli";
  const std::string command = "'" + cli + "' --app-dir '" + app_ + "' backup >/dev/null 2>>'" +
                              (dir_ / "err.txt") + "'";
  int codes[2] = {-1, -1};
  std::thread first([&] { codes[0] = std::system(command.c_str()); });
  std::thread second([&] { codes[1] = std::system(command.c_str()); });
  first.join();
  second.join();
  int succeeded = 0;
  for (const int status : codes) {
    ASSERT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    EXPECT_TRUE(code == kExitOk || code == kExitBackupIncomplete) << code;
    succeeded += code == kExitOk ? 1 : 0;
  }
  EXPECT_GE(succeeded, 1);
  if (succeeded == 1) {
    EXPECT_NE(testing::ReadFile(dir_ / "err.txt").find("another backup or agent is running"),
              std::string::npos);
  }
  int archives = 0;
  for (const auto& e : fs::directory_iterator(backups_)) {
    const std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    ASSERT_TRUE(name.ends_with(".7z")) << "nothing else is left behind";
    ++archives;
    EXPECT_EQ(std::system(("printf 'pw\\n' | 7zz t -spd -- '" + e.path().string() +
                           "' >/dev/null 2>&1")
                              .c_str()),
              0);
  }
  EXPECT_EQ(archives, succeeded);
  int rows = 0;
  for (const auto& r : SettingsDatabase(app_).ListBackupLog())
    rows += r.baksuccess == std::optional<bool>(true) ? 1 : 0;
  EXPECT_EQ(rows, succeeded);
}

TEST_F(CliTest, BackupWithoutSettingsIsAConfigurationError) {
  fs::create_directories(app_);
  const auto r = Cli({"--app-dir", app_, "backup"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_NE(r.err.find("init"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(app_ + "/Setlog.dll")) << "never created by a backup";
}

TEST_F(CliTest, DemoBacksUpBothEditionsAndPrintsTheResults) {
  const auto r = Cli({"demo", dir_ / "demo"});
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_NE(r.out.find("== 程序运行日志 =="), std::string::npos);
  EXPECT_NE(r.out.find("成功备份总公司账套账套的数据库AIS20240101到"), std::string::npos);
  EXPECT_NE(r.out.find("O'Neil & Sons.AIS本机备份成功"), std::string::npos);
  EXPECT_NE(r.out.find("== 备份日志 =="), std::string::npos);
  // A second demo into the same folder is refused rather than mixed in.
  EXPECT_EQ(Cli({"demo", dir_ / "demo"}).code, kExitUsage);
}

}  // namespace
}  // namespace veltora
