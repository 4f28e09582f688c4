// veltora-cli.exe under Wine: wide arguments, the demo end to end through the
// real cmd.exe and 7zr.exe, the run log in GBK.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/run_log.h"
#include "base/fs_path.h"
#include "base/process.h"
#include "settings/settings_database.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::FilesIn;
using testing::ReadFile;
using testing::TempDir;

const std::string kBin = VELTORA_BIN_DIR;

TEST(CliWinTest, DemoCompletesWithArchivesThatHoldTheAccountSets) {
  TempDir dir;
  const std::string root = dir / "演示 100% & !x!";
  std::string out;
  ASSERT_EQ(RunProgram(kBin + "\\veltora-cli.exe", {"demo", root}, {},
                       [&](std::string_view chunk) { out += chunk; }),
            0)
      << out;
  EXPECT_NE(out.find("示例目录 " + root + ":"), std::string::npos)
      << "the argument arrives whole, in UTF-8";

  // Every ticked sample, of both editions, is archived locally and remotely.
  const std::vector<std::string> archives = FilesIn(root + "\\backups");
  ASSERT_EQ(archives.size(), 5u) << out;
  EXPECT_EQ(FilesIn(root + "\\remote"), archives);
  const auto chinese = std::find_if(archives.begin(), archives.end(), [](const std::string& a) {
    return a.rfind("华东贸易有限公司", 0) == 0;
  });
  ASSERT_NE(chinese, archives.end());
  std::string extracted;
  ASSERT_EQ(RunProgram(kBin + "\\7zr.exe",
                       {"e", "-so", "-sccUTF-8", "-spd", "--", root + "\\backups\\" + *chinese},
                       "Ledger&Key%1\n", [&](std::string_view chunk) { extracted += chunk; }),
            0);
  EXPECT_EQ(extracted, ReadFile(root + "\\accounts\\华东贸易有限公司.AIS"));

  // The run log is GBK: its first line reads back as the stamped caption.
  const std::string log = ReadFile(root + "\\app\\程序运行日志.txt");
  ASSERT_EQ(log.rfind("\xD4\xDA", 0), 0u) << "在 in GBK";
  const std::string first = RunLogLineAsUtf8(log.substr(0, log.find("\r\n")));
  ASSERT_EQ(first.rfind("在", 0), 0u) << first;
  EXPECT_EQ(first.substr(first.find(" :") + 2), "青岚软件账套自动备份系统(金蝶版)  V2.1");
}

// The restore through the real 7zr.exe: the ledger comes back byte-identical,
// a damaged archive is refused and leaves the target as it was, and verify
// says which.
TEST(CliWinTest, RestoreAndVerifyThroughTheRealArchiver) {
  TempDir dir;
  const std::string root = dir / "恢复 100% & !x!";
  const std::string app = root + "\\app", accounts = root + "\\accounts",
                    backups = root + "\\backups", target = root + "\\target";
  for (const auto& folder : {accounts, backups, target})
    std::filesystem::create_directories(PathFromUtf8(folder));
  auto cli = [&](std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), {"--app-dir", app});
    return RunProgram(kBin + "\\veltora-cli.exe", args, {}, [&](std::string_view chunk) {
      if (out != nullptr) *out += chunk;
    });
  };
  ASSERT_EQ(cli({"init"}), 0);
  {
    SettingsDatabase db(app);
    BaksetRow row = db.LoadSettings();
    row.softvernum = 0;
    row.accountDir = accounts;
    row.localDir = backups;
    row.localbak = true;
    row.rarlevel = "最快";
    db.SaveSettings(row);
    db.UpdateArchivePassword("p&w%1");
    db.RewriteAccountList({{"", "总账 A.AIS", "总账 A.AIS"}});
  }
  testing::WriteFile(accounts + "\\总账 A.AIS", "the ledger of the day");
  ASSERT_EQ(cli({"backup"}), 0);
  testing::WriteFile(accounts + "\\总账 A.AIS", "changed later");

  std::string out;
  ASSERT_EQ(cli({"restore", "总账 A", "--to", target}, &out), 0) << out;
  EXPECT_EQ(ReadFile(target + "\\总账 A.AIS"), "the ledger of the day");
  EXPECT_EQ(cli({"verify"}), 0);

  const std::vector<std::string> archives = FilesIn(backups);
  ASSERT_EQ(archives.size(), 1u);
  const std::string archive = backups + "\\" + archives[0];
  std::string bytes = ReadFile(archive);
  bytes[bytes.size() / 2] ^= 0x40;
  testing::WriteFile(archive, bytes);
  out.clear();
  EXPECT_NE(cli({"restore", "总账 A", "--to", target, "--replace"}, &out), 0) << out;
  EXPECT_EQ(ReadFile(target + "\\总账 A.AIS"), "the ledger of the day");
  EXPECT_EQ(FilesIn(target).size(), 1u) << "nothing kept aside, no work folder left";
  EXPECT_NE(cli({"verify"}), 0);
}

}  // namespace
}  // namespace veltora
