// `veltora-cli status` as a process against prepared settings databases: its
// exit code is what a monitoring system reads, its --json what a script reads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/single_instance.h"
#include "cli/cli.h"
#include "settings/raw_db.h"
#include "settings/settings_database.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ShellQuoted;
using testing::TempDir;
using testing::WriteFile;

struct Result {
  int code;
  std::string out;
};

// A JSON document, checked loosely: one value whose brackets and braces
// balance outside strings, every string closed, nothing after it.
bool LooksLikeOneJsonDocument(const std::string& text) {
  int depth = 0;
  bool inString = false;
  bool opened = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        return false;
      }
      continue;
    }
    if (c == '"') inString = true;
    if (c == '{' || c == '[') {
      if (opened && depth == 0) return false;  // a second document
      ++depth;
      opened = true;
    }
    if ((c == '}' || c == ']') && --depth < 0) return false;
  }
  return opened && depth == 0 && !inString;
}

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(app_);
    fs::create_directories(accounts_);
    InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, app_);
  }

  // One file-edition set, "q\"uote.AIS", backed up once a day, local only.
  void Configure() {
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.softvernum = 1;
    row.accountDir = accounts_;
    row.localDir = dir_ / "bak";
    row.localbak = true;
    row.btwdays = 1;
    row.baktime = "01:30:00";
    db.SaveSettings(row);
    db.RewriteAccountList({{"", kName, kName}});
  }

  // A complete local backup of the set, `age` ago.
  void BackedUp(std::chrono::hours age) {
    SettingsDatabase(app_).InsertLocalResult(accounts_ + "/" + kName,
                                             dir_ / "bak/q\"uote20240101013000", "", true);
    testing::RawDb(app_ + "/Setlog.dll")
        .Exec("update baklog set baktime=datetime('now','localtime','-" +
              std::to_string(age.count()) + " hours') where id=(select max(id) from baklog)");
  }

  Result Status(bool json) {
    const std::string command = ShellQuoted(std::string(VELTORA_BIN_DIR) + "/veltora-cli") +
                                " --app-dir " + ShellQuoted(app_) + " status" +
                                (json ? " --json" : "") + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, ""};
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
  }

  static constexpr char kName[] = "q\"uote.AIS";
  TempDir dir_;
  std::string app_ = dir_ / "app";
  std::string accounts_ = dir_ / "accounts";
};

TEST_F(StatusTest, TheExitCodeIsTheVerdict) {
  Configure();
  const Result never = Status(false);
  EXPECT_EQ(never.code, kExitStatusNever) << never.out;
  EXPECT_NE(never.out.find("从未完整备份"), std::string::npos) << never.out;

  BackedUp(72h);  // older than one day between backups plus one
  const Result late = Status(false);
  EXPECT_EQ(late.code, kExitStatusLate) << late.out;
  EXPECT_NE(late.out.find("备份已过期"), std::string::npos) << late.out;

  BackedUp(1h);
  const Result current = Status(false);
  EXPECT_EQ(current.code, kExitOk) << current.out;
  EXPECT_NE(current.out.find("正常"), std::string::npos) << current.out;
  EXPECT_NE(current.out.find("下次备份时间: "), std::string::npos) << current.out;
}

TEST_F(StatusTest, JsonIsOneDocumentWithTheSetsTheAgentAndTheVerdict) {
  Configure();
  BackedUp(72h);
  {
    // An agent holds the instance lock for its life.
    std::string error;
    const auto agent = AppFolderLock::TryAcquire(app_, kInstanceLockFileName, error);
    ASSERT_TRUE(agent) << error;
    const Result r = Status(true);
    EXPECT_EQ(r.code, kExitStatusLate);
    EXPECT_TRUE(LooksLikeOneJsonDocument(r.out)) << r.out;
    for (const char* part : {"\"agentServing\":true", "\"verdict\":\"late\"",
                             "\"name\":\"q\\\"uote.AIS\"", "\"shareFile\":null", "\"ageDays\":3."})
      EXPECT_NE(r.out.find(part), std::string::npos) << part << " in " << r.out;
  }
  EXPECT_NE(Status(true).out.find("\"agentServing\":false"), std::string::npos);
}

// A recent backup whose last test restore failed is late, in the text, the
// JSON and the exit code; a later test that passes makes it current again.
TEST_F(StatusTest, AFailedTestRestoreMakesARecentBackupLate) {
  Configure();
  BackedUp(1h);
  SettingsDatabase(app_).RecordVerifications(
      {{"2024-01-01 01:40:00", kName, "local", "20240101013000", true, ""},
       {"2024-01-01 01:40:00", kName, "share", "20240101013000", false, "校验值不符"}});
  const Result text = Status(false);
  EXPECT_EQ(text.code, kExitStatusLate) << text.out;
  EXPECT_NE(text.out.find("  最近恢复测试: 2024-01-01 01:40:00 失败，原因：远程备份：校验值不符\n"
                          "  结论: 备份已过期（最近一次恢复测试失败）\n"),
            std::string::npos)
      << text.out;
  const Result json = Status(true);
  EXPECT_EQ(json.code, kExitStatusLate);
  EXPECT_TRUE(LooksLikeOneJsonDocument(json.out)) << json.out;
  EXPECT_NE(json.out.find("\"lastVerification\":{\"time\":\"2024-01-01 01:40:00\","
                          "\"passed\":false,\"reason\":\"远程备份：校验值不符\"}"),
            std::string::npos)
      << json.out;

  SettingsDatabase(app_).RecordVerifications(
      {{"2024-01-08 01:40:00", kName, "local", "20240108013000", true, ""}});
  const Result passed = Status(false);
  EXPECT_EQ(passed.code, kExitOk) << passed.out;
  EXPECT_NE(passed.out.find("  最近恢复测试: 2024-01-08 01:40:00 通过\n"), std::string::npos)
      << passed.out;
}

TEST_F(StatusTest, SettingsThatCannotBeReadExitWithTwo) {
  WriteFile(app_ + "/Setlog.dll", "not a database at all, just some bytes of text");
  const Result text = Status(false);
  EXPECT_EQ(text.code, kExitStatusNever);
  const Result json = Status(true);
  EXPECT_EQ(json.code, kExitStatusNever);
  EXPECT_TRUE(LooksLikeOneJsonDocument(json.out)) << json.out;
  EXPECT_NE(json.out.find("\"verdict\":\"unreadable\""), std::string::npos) << json.out;
}

}  // namespace
}  // namespace veltora
