#include "cli/cli.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>
#include <sstream>

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
