// The distribution stage's failures, on local folders (a remote folder that is
// no share path is used as it is) and an injected share connection: each ends
// the stage with its line and its row, and never costs the local side its
// pruning of a verified backup or the share a backup.
#include "engine/distribution_stage.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/path.h"
#include "files/local_file_system.h"
#include "settings/settings_database.h"
#include "settings/sqlite_backup_records.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::FilesIn;
using testing::RecordingLog;
using testing::TempDir;
using testing::WriteFile;

// Answers every connection with one Windows code.
class AnsweringShare final : public ShareConnector {
 public:
  explicit AnsweringShare(int code) : code_(code) {}
  int Connect(const std::string&, const std::string&, const std::string&) override { return code_; }

 private:
  int code_;
};

class DistributionTest : public ::testing::Test {
 protected:
  DistributionTest() : records_(app()) {
    for (const auto& d : {app(), local(), remote()}) fs::create_directories(d);
    InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, app());
    // Two earlier archives and this run's, tested good. The earlier ones
    // count as this folder's own through their backup-table rows alone: they
    // were made before the own-archive table.
    for (const char* stamp : {"20240501013000", "20240502013000", "20240503013000"})
      WriteFile(local() + "/ACME" + stamp + ".7z", stamp);
    SettingsDatabase db(app());
    for (const char* stamp : {"20240501013000", "20240502013000"})
      db.InsertLocalResult("ACME", JoinPath(local(), std::string("ACME") + stamp), "k", true);
    LocalResult r;
    r.account = "ACME";
    r.series = "ACME";
    r.backupName = "ACME20240503013000";
    r.localFile = local() + "/ACME20240503013000";
    r.succeeded = true;
    r.archived = true;
    results_.push_back(r);
  }

  std::string app() const { return dir_ / "app"; }
  std::string local() const { return dir_ / "local"; }
  std::string remote() const { return dir_ / "remote"; }

  BackupConfig Config() const {
    BackupConfig c;
    c.edition = 2;
    c.accountSets = {{true, "001", "ACME", "AIS_ACME"}};
    c.selectedAccountSets = {"ACME"};
    c.localFolder = WithTrailingSeparator(local());
    c.remoteBackup = true;
    c.remoteFolder = WithTrailingSeparator(remote());
    c.remoteUser = "u";
    c.remotePassword = "pw";
    c.keepCount = 2;
    c.compressionLevel = 1;
    c.archivePassword = "k";
    return c;
  }

  bool Run(const BackupConfig& c, ShareConnector& share) {
    return RunDistributionStage(
        c, results_, ".7z", {log_, router_, share, records_, {}, rowsLost_, pruneFailed_, stamps_});
  }

  std::vector<BaklogRow> Rows() const { return SettingsDatabase(app()).ListBackupLog(); }

  TempDir dir_;
  LocalFileSystem fs_;
  FileSystemRouter router_{fs_, nullptr};
  SqliteBackupRecordsFactory records_;
  RecordingLog log_;
  std::vector<LocalResult> results_;
  std::set<std::string> pruneFailed_;
  int rowsLost_ = 0;
  testing::FixedClock clock_{{2024, 5, 3, 1, 30, 0, 5}};
  StampAllocator stamps_{clock_};
};

// Only this folder's own archives count on each side: on the share those it
// copied there, and the one an earlier row names; another agent's stays and is
// counted in a line.
TEST_F(DistributionTest, CopiesRecordsAndPrunesTheOwnArchivesOfBothSides) {
  WriteFile(remote() + "/ACME20240401013000.7z", "an old one of ours on the share");
  SettingsDatabase(app()).InsertRemoteCopy("ACME", JoinPath(remote(), "ACME20240401013000"), "k");
  WriteFile(remote() + "/ACME20240402013000.7z", "another agent's");
  AnsweringShare share(0);
  ASSERT_TRUE(Run(Config(), share));
  EXPECT_TRUE(results_[0].onShare);
  const std::vector<std::string> newest = {"ACME20240502013000.7z", "ACME20240503013000.7z"};
  EXPECT_EQ(FilesIn(local()), newest);
  EXPECT_EQ(FilesIn(remote()),
            (std::vector<std::string>{"ACME20240402013000.7z", "ACME20240502013000.7z",
                                      "ACME20240503013000.7z"}))
      << "an earlier run's archive the share lacked catches up; the share keeps its two newest";
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].localbakfile, JoinPath(remote(), "ACME20240503013000"));
  EXPECT_EQ(rows[0].bz, "远程备份");
  EXPECT_EQ(rows[0].rarpwd, "k");
  const auto lines = log_.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "远程共享文件夹" + WithTrailingSeparator(remote()) +
                          "中有1个ACME??????????????.7z文件不是本程序备份的（可能来自另一台计算机"
                          "或另一个程序目录），已保留，不参与筛选与删除！"),
            lines.end())
      << ::testing::PrintToString(lines);
  EXPECT_EQ(lines.back(), "成功对本地备份目录" + WithTrailingSeparator(local()) +
                              "与远程共享文件夹" + WithTrailingSeparator(remote()) +
                              "的ACME??????????????.7z文件执行筛选与删除操作！");
  EXPECT_EQ(rowsLost_, 0);
}

// Another agent's archive took this run's name on the share in the same
// second: this run's archive takes the next free second on both sides, with a
// line and a row under its new name; the other one is left as it was.
TEST_F(DistributionTest, ANameTakenOnTheShareGetsTheNextSecond) {
  WriteFile(remote() + "/ACME20240503013000.7z", "another agent's");
  AnsweringShare share(0);
  ASSERT_TRUE(Run(Config(), share));
  const std::string renamed = "ACME20240503013001";
  EXPECT_EQ(results_[0].backupName, renamed);
  EXPECT_TRUE(results_[0].onShare);
  EXPECT_EQ(FilesIn(local()), (std::vector<std::string>{"ACME20240502013000.7z", renamed + ".7z"}));
  EXPECT_EQ(FilesIn(remote()),
            (std::vector<std::string>{"ACME20240502013000.7z", "ACME20240503013000.7z",
                                      renamed + ".7z"}));
  EXPECT_EQ(testing::ReadFile(remote() + "/ACME20240503013000.7z"), "another agent's");
  EXPECT_EQ(testing::ReadFile(remote() + "/" + renamed + ".7z"), "20240503013000");
  const auto lines = log_.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "远程共享文件夹中已有另一程序备份的同名文件" +
                          JoinPath(remote(), "ACME20240503013000.7z") +
                          "，本次备份的压缩文件已改名为" + renamed + ".7z后再复制！"),
            lines.end())
      << ::testing::PrintToString(lines);
  const auto rows = Rows();
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0].localbakfile, JoinPath(remote(), renamed));
  EXPECT_EQ(rows[1].localbakfile, JoinPath(local(), renamed));
  EXPECT_EQ(rows[1].baksuccess, std::optional<bool>(true));
  EXPECT_EQ(rowsLost_, 0);
}

// The remote side fails in each of its ways: the stage ends with the row and
// the line of that failure, the share loses nothing, and the local side, whose
// archive tested good, is still pruned.
TEST_F(DistributionTest, RemoteFailuresKeepTheShareAndStillPruneLocally) {
  struct Case {
    const char* what;
    std::string remoteFolder;
    std::string user;
    int shareAnswer;
    std::string rowFile;  // the row's localbakfile
    std::string line;     // one of the stage's lines
  };
  const Case cases[] = {
      {"remote folder missing", dir_ / "nowhere", "u", 0, "远程共享文件夹不存在",
       "远程共享文件夹无效，备份失败！"},
      {"remote folder blank", "", "u", 0, "无法访问远程共享文件夹",
       "无法访问远程共享文件夹,备份失败！"},
      {"share refuses", "\\\\srv\\bak", "u", 53, "无法访问远程共享文件夹",
       "无法访问远程共享文件夹,备份失败！"},
      {"copy refused (no user)", remote() + "/", "", 0, remote() + "/远程备份失败",
       "复制参数有误，复制失败！"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log_.Clear();
    for (const char* stamp : {"20240501013000", "20240502013000"})
      WriteFile(local() + "/ACME" + stamp + ".7z", stamp);
    WriteFile(remote() + "/ACME20240401013000.7z", "the share's only backup");
    BackupConfig config = Config();
    config.remoteFolder = c.remoteFolder;
    config.remoteUser = c.user;
    AnsweringShare share(c.shareAnswer);
    EXPECT_FALSE(Run(config, share));
    EXPECT_FALSE(results_[0].onShare);
    EXPECT_EQ(FilesIn(remote()), std::vector<std::string>{"ACME20240401013000.7z"});
    EXPECT_EQ(FilesIn(local()),
              (std::vector<std::string>{"ACME20240502013000.7z", "ACME20240503013000.7z"}));
    const auto lines = log_.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end())
        << ::testing::PrintToString(lines);
    const auto rows = Rows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].localbakfile, c.rowFile);
  }
  EXPECT_EQ(rowsLost_, 0);
}

// Without a verified backup on a side, that side is not pruned at all.
TEST_F(DistributionTest, AnArchiveThatFailedLeavesTheLocalSideAlone) {
  results_[0].archived = false;
  fs::remove(local() + "/ACME20240503013000.7z");
  WriteFile(local() + "/ACME20240503013000.bak", "kept for the next run");
  BackupConfig config = Config();
  config.remoteBackup = false;
  AnsweringShare share(0);
  EXPECT_TRUE(Run(config, share));
  EXPECT_EQ(FilesIn(local()),
            (std::vector<std::string>{"ACME20240501013000.7z", "ACME20240502013000.7z",
                                      "ACME20240503013000.bak"}));
  EXPECT_TRUE(log_.lines().empty());
}

}  // namespace
}  // namespace veltora
