// The whole job against real components: files, the settings database, the
// real 7-Zip and a real Samba share on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "engine/backup_job.h"
#include "settings/settings_database.h"
#include "settings/sqlite_backup_records.h"
#include "sqlserver/standin_sql_server.h"
#include "support/backup_services.h"
#include "support/fakes.h"
#include "support/job_fixture.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::WriteFile;

class FullJobTest : public job_test::JobFixture {
 protected:
  void SetUp() override {
    std::string whyNot;
    share_ = testing::TestSambaServer(whyNot);
    if (!share_) VELTORA_SKIP_OR_FAIL(whyNot);
    for (const auto& e : fs::directory_iterator(share_->localFolder)) fs::remove_all(e.path());
  }

  BackupConfig Config() const {
    BackupConfig c;
    c.caption = "caption";
    c.edition = 0;
    for (const char* name : {"ACME.AIS", "ACME2.AIS", "华东 贸易.AIS"}) {
      c.accountSets.push_back({true, "", name, name});
      c.selectedAccountSets.push_back(name);
    }
    c.accountFolder = accounts();
    c.localFolder = backups();
    c.compressionLevel = 3;
    c.archivePassword = "p&w|<x>%";
    c.keepCount = 2;
    c.remoteBackup = true;
    c.remoteFolder = share_->sharePath;
    c.remoteUser = share_->user;
    c.remotePassword = share_->password;
    return c;
  }

  BackupRunSummary Run(const BackupConfig& config, ProgressListener progress = {},
                       const BackupRecordsFactory* records = nullptr) {
    std::atomic<bool> configured{true};
    std::atomic<bool> running{false};
    BackupServices services = testing::TestBackupServices(
        log_, *clock_, sql_, records != nullptr ? *records : records_, share_->port);
    services.progress = std::move(progress);
    return BackupThreadProc(config, {configured, running}, services).value();
  }

  static int OnShare(const BackupRunSummary& s) {
    return static_cast<int>(std::count_if(s.results.begin(), s.results.end(),
                                          [](const LocalResult& r) { return r.onShare; }));
  }

  // File names in a folder, by account set ("ACME", "ACME2", "华东 贸易") and
  // everything else under "other".
  static std::map<std::string, std::vector<std::string>> Backups(const std::string& folder) {
    std::map<std::string, std::vector<std::string>> byBase;
    for (const auto& e : fs::directory_iterator(folder)) {
      const std::string name = e.path().filename().string();
      const bool archive = name.size() > 17 && name.ends_with(".7z");
      byBase[archive ? name.substr(0, name.size() - 17) : "other"].push_back(name);
    }
    for (auto& [base, names] : byBase) std::sort(names.begin(), names.end());
    return byBase;
  }

  // The configuration of one account set, ACME.AIS, kept once.
  BackupConfig OneSetKeptOnce() const {
    BackupConfig c = Config();
    c.accountSets = {{true, "", "ACME.AIS", "ACME.AIS"}};
    c.selectedAccountSets = {"ACME.AIS"};
    c.keepCount = 1;
    return c;
  }

  static std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  const testing::SambaShare* share_ = nullptr;
};

TEST_F(FullJobTest, FourRunsKeepExactlyTheTwoNewestOnBothSides) {
  for (const char* name : {"ACME.AIS", "ACME2.AIS", "华东 贸易.AIS"})
    WriteFile(accounts() + "/" + name, std::string(20000, name[0]));
  std::vector<std::string> stamps;
  for (int run = 0; run < 4; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    stamps.push_back(BackupStamp(clock_->LocalNow()));
    const BackupRunSummary summary = Run(Config());
    EXPECT_TRUE(summary.Complete(Config()));
    EXPECT_EQ(OnShare(summary), 3);

    std::map<std::string, std::vector<std::string>> expected;
    for (const char* base : {"ACME", "ACME2", "华东 贸易"})
      for (std::size_t i = stamps.size() > 2 ? stamps.size() - 2 : 0; i < stamps.size(); ++i)
        expected[base].push_back(std::string(base) + stamps[i] + ".7z");
    EXPECT_EQ(Backups(backups()), expected) << "no .bak, command file or temporary file locally";
    EXPECT_EQ(Backups(share_->localFolder), expected) << "and the same on the share";
    clock_->Advance(std::chrono::hours(24));
  }
  const auto rows = SettingsDatabase(app()).ListBackupLog();
  int local = 0;
  int remote = 0;
  for (const auto& r : rows) {
    if (r.bz == "远程备份") {
      ++remote;
      EXPECT_EQ(r.localbakfile.rfind(share_->sharePath + "\\", 0), 0u) << r.localbakfile;
      EXPECT_EQ(r.rarpwd, "p&w|<x>%");
    } else if (r.baksuccess == std::optional<bool>(true)) {
      ++local;
    }
  }
  EXPECT_EQ(local, 12);
  EXPECT_EQ(remote, 12);
  const std::string newest = share_->sharePath + "\\华东 贸易" + stamps.back();
  EXPECT_EQ(rows.front().localbakfile, newest);
}

// What the system's own tool says of a file, so the digests are checked
// against something other than the code that made them.
std::string Sha256Sum(const std::string& path) {
  std::string out;
  if (FILE* p = popen(("sha256sum '" + path + "'").c_str(), "r")) {
    char buffer[128];
    if (fgets(buffer, sizeof buffer, p) != nullptr) out = buffer;
    pclose(p);
  }
  return out.substr(0, out.find(' '));
}

// Each archive is recorded with its own digest and its ledger's, on both
// sides, as the files stand; the prepared database had no such table.
TEST_F(FullJobTest, DigestsOfTheBackupAndItsArchiveAreRecordedOnBothSides) {
  std::string ledger(300000, '\0');
  for (std::size_t i = 0; i < ledger.size(); ++i) ledger[i] = static_cast<char>(i * 31 % 251);
  WriteFile(accounts() + "/ACME.AIS", ledger);
  const BackupConfig config = OneSetKeptOnce();
  const std::string stamp = BackupStamp(clock_->LocalNow());
  ASSERT_TRUE(Run(config).Complete(config)) << ::testing::PrintToString(log_.lines());

  const std::string archive = "ACME" + stamp + ".7z";
  const auto rows = SettingsDatabase(app()).ListBackupDigests();
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.side);
    const std::string folder = row.side == "local" ? backups() : share_->localFolder;
    EXPECT_EQ(row.fileName, archive);
    EXPECT_EQ(row.stamp, stamp);
    EXPECT_EQ(row.contentName, "ACME" + stamp + ".bak");
    EXPECT_EQ(row.contentSha256, Sha256Sum(accounts() + "/ACME.AIS"));
    EXPECT_EQ(row.contentBytes, static_cast<std::int64_t>(ledger.size()));
    EXPECT_EQ(row.archiveSha256, Sha256Sum(folder + "/" + archive));
    EXPECT_EQ(row.archiveBytes, static_cast<std::int64_t>(fs::file_size(folder + "/" + archive)));
  }
  EXPECT_NE(rows[0].side, rows[1].side);

  // The next run's retention forgets the archives it deletes, digests too.
  clock_->Advance(std::chrono::hours(24));
  ASSERT_TRUE(Run(config).Complete(config));
  for (const auto& row : SettingsDatabase(app()).ListBackupDigests())
    EXPECT_NE(row.stamp, stamp) << row.side;
}

// A backup file that a killed run left behind is archived by the next run and
// gets its row with that run's password: no archive without a row.
TEST_F(FullJobTest, ABackupLeftByAKilledRunIsArchivedWithItsRow) {
  for (const char* name : {"ACME.AIS", "ACME2.AIS", "华东 贸易.AIS"})
    WriteFile(accounts() + "/" + name, std::string(20000, name[0]));
  const std::string leftover = "ACME20261210013100";
  WriteFile(backups() + "/" + leftover + ".bak", std::string(20000, 'L'));
  BackupConfig config = Config();
  config.keepCount = 5;
  EXPECT_TRUE(Run(config).Complete(config)) << ::testing::PrintToString(log_.lines());

  EXPECT_FALSE(fs::exists(backups() + "/" + leftover + ".bak"));
  EXPECT_TRUE(fs::exists(backups() + "/" + leftover + ".7z"));
  const auto rows = SettingsDatabase(app()).ListBackupLog();
  const auto row = std::find_if(rows.begin(), rows.end(), [&](const BaklogRow& r) {
    return r.localbakfile == backups() + "/" + leftover;
  });
  ASSERT_NE(row, rows.end());
  EXPECT_EQ(row->accountname, accounts() + "/ACME.AIS");
  EXPECT_EQ(row->rarpwd, config.archivePassword);
  EXPECT_EQ(row->baksuccess, std::optional<bool>(true));
  const auto lines = log_.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "上次中断的备份留下的备份文件" + backups() + "/" + leftover +
                          ".bak已随本次备份压缩，并补记备份日志！"),
            lines.end())
      << ::testing::PrintToString(lines);
}

TEST_F(FullJobTest, AShareThatRefusesThePasswordGetsNothing) {
  WriteFile(accounts() + "/ACME.AIS", "acme");
  BackupConfig config = Config();
  config.remotePassword = "wrong";
  const BackupRunSummary summary = Run(config);
  EXPECT_FALSE(summary.Complete(config));
  const auto lines = log_.lines();
  const std::string path = share_->sharePath;
  EXPECT_NE(
      std::find(lines.begin(), lines.end(),
                "您好，程序尝试用用户名为:" + share_->user + "的用户，建立与远程共享文件夹" + path +
                    "的连接但操作失败，错误代码为:1326,请将这个错误代码告知开发人员，"
                    "谢谢您的合作！"),
      lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "无法访问远程共享文件夹,备份失败！"),
            lines.end());
  const auto rows = SettingsDatabase(app()).ListBackupLog();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front().localbakfile, "无法访问远程共享文件夹");
  EXPECT_EQ(rows.front().bz, "执行远程备份失败");
  EXPECT_TRUE(fs::is_empty(share_->localFolder));
}

// Every long step of a run reports, in the run's order, each from 0 to 100:
// the local backups, the packing and the test of each archive, and each
// archive's copy to the share and its read-back.
TEST_F(FullJobTest, EachStepOfARunReportsFromStartToEnd) {
  for (const char* name : {"ACME.AIS", "ACME2.AIS", "华东 贸易.AIS"})
    WriteFile(accounts() + "/" + name, std::string(300000, name[0]));
  struct Step {
    ProgressStage stage;
    std::string item;
    std::vector<int> percents;
  };
  std::vector<Step> steps;
  const BackupRunSummary summary = Run(Config(), [&](const ProgressReport& r) {
    if (steps.empty() || steps.back().stage != r.stage || steps.back().item != r.item)
      steps.push_back({r.stage, r.item, {}});
    steps.back().percents.push_back(r.percent);
  });
  EXPECT_TRUE(summary.Complete(Config()));

  using S = ProgressStage;
  const std::string stamp = "20240501013000";
  const std::pair<S, std::string> local[] = {{S::kLocalBackup, "ACME.AIS"},
                                             {S::kLocalBackup, "ACME2.AIS"},
                                             {S::kLocalBackup, "华东 贸易.AIS"},
                                             {S::kCompression, "ACME" + stamp + ".bak"},
                                             {S::kCompression, "ACME2" + stamp + ".bak"},
                                             {S::kCompression, "华东 贸易" + stamp + ".bak"},
                                             {S::kArchiveTest, "ACME" + stamp + ".7z"},
                                             {S::kArchiveTest, "ACME2" + stamp + ".7z"},
                                             {S::kArchiveTest, "华东 贸易" + stamp + ".7z"}};
  const std::size_t n = std::size(local);
  ASSERT_EQ(steps.size(), n + 6);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(steps[i].stage, local[i].first) << i;
    EXPECT_EQ(steps[i].item, local[i].second) << i;
  }
  // Then each archive's copy and its read-back, in the folder listing's order.
  std::set<std::string> copied;
  for (std::size_t i = n; i + 1 < steps.size(); i += 2) {
    EXPECT_EQ(steps[i].stage, S::kShareCopy) << i;
    EXPECT_EQ(steps[i + 1].stage, S::kShareVerify) << i;
    EXPECT_EQ(steps[i + 1].item, steps[i].item);
    copied.insert(steps[i].item);
  }
  EXPECT_EQ(copied, (std::set<std::string>{"ACME" + stamp + ".7z", "ACME2" + stamp + ".7z",
                                           "华东 贸易" + stamp + ".7z"}));
  for (const Step& step : steps) {
    SCOPED_TRACE(step.item + ": " + ::testing::PrintToString(step.percents));
    EXPECT_EQ(step.percents.front(), 0);
    EXPECT_EQ(step.percents.back(), 100);
    EXPECT_EQ(
        std::adjacent_find(step.percents.begin(), step.percents.end(), std::greater_equal<>()),
        step.percents.end());
  }
}

// The clock once ran 400 days ahead, and that run's archive (with its rows,
// so it is this folder's own) is still in both folders: it is left alone and
// named, and each later run keeps its own new archive on both sides.
TEST_F(FullJobTest, AnArchiveStampedInTheFutureNeverPushesOutThisRunsArchive) {
  WriteFile(accounts() + "/ACME.AIS", std::string(20000, 'A'));
  const BackupConfig config = OneSetKeptOnce();
  auto ahead = clock_->Now() + std::chrono::hours(24 * 400);
  const std::string future = "ACME" + BackupStamp(ToLocalTime(ahead));
  WriteFile(backups() + "/" + future + ".7z", "from the clock that ran ahead");
  WriteFile(share_->localFolder + "/" + future + ".7z", "from the clock that ran ahead");
  {
    SettingsDatabase db(app());
    db.InsertLocalResult(accounts() + "/ACME.AIS", backups() + "/" + future, "k", true);
    db.InsertRemoteCopy(accounts() + "/ACME.AIS", share_->sharePath + "\\" + future, "k");
  }
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    log_.Clear();
    const std::string mine = "ACME" + BackupStamp(clock_->LocalNow()) + ".7z";
    EXPECT_TRUE(Run(config).Complete(config)) << ::testing::PrintToString(log_.lines());
    const std::vector<std::string> both = {mine, future + ".7z"};
    EXPECT_EQ(Names(backups()), both);
    EXPECT_EQ(Names(share_->localFolder), both);
    const auto lines = log_.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "本地备份文件夹中的备份文件" + backups() + "/" + future +
                            ".7z的备份时间晚于当前时间，已保留，不参与筛选与删除！"),
              lines.end())
        << ::testing::PrintToString(lines);
    clock_->Advance(std::chrono::hours(24));
  }
}

// Two application folders (two machines) back up a same-named account set to
// one share folder, one after the other in the same second, keeping one
// backup each: each keeps its own newest there, under a name of its own, and
// never deletes the other's.
TEST_F(FullJobTest, TwoApplicationFoldersOnOneShareFolderKeepTheirOwn) {
  struct Agent {
    std::string app, accounts, backups, password;
    std::unique_ptr<SqliteBackupRecordsFactory> records;
  };
  Agent agents[2] = {{app(), accounts(), backups(), "FirstPw1", nullptr},
                     {dir_ / "app2", dir_ / "accounts2", dir_ / "backups2", "SecondPw2", nullptr}};
  for (Agent& a : agents) {
    for (const auto& d : {a.app, a.accounts, a.backups}) fs::create_directories(d);
    if (!fs::exists(a.app + "/Setlog.dll"))
      InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, a.app);
    a.records = std::make_unique<SqliteBackupRecordsFactory>(a.app, clock_);
    WriteFile(a.accounts + "/ACME.AIS", std::string(20000, a.password[0]));
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round + 1));
    for (const Agent& a : agents) {
      BackupConfig config = OneSetKeptOnce();
      config.accountFolder = a.accounts;
      config.localFolder = a.backups;
      config.archivePassword = a.password;
      EXPECT_TRUE(Run(config, {}, a.records.get()).Complete(config))
          << ::testing::PrintToString(log_.lines());
    }
    std::vector<std::string> newest;
    for (const Agent& a : agents) {
      const auto own = Names(a.backups);
      ASSERT_EQ(own.size(), 1u);
      newest.push_back(own[0]);
      const std::string onShare = share_->localFolder + "/" + own[0];
      ASSERT_TRUE(fs::exists(onShare)) << own[0];
      EXPECT_EQ(std::system(("7zz t -bso0 -bse0 -p" + a.password + " '" + onShare + "'").c_str()),
                0)
          << own[0] << " opens with its own folder's password";
    }
    std::sort(newest.begin(), newest.end());
    EXPECT_EQ(Names(share_->localFolder), newest) << "nothing else is left on the share";
    clock_->Advance(std::chrono::hours(24));
  }
}

}  // namespace
}  // namespace veltora
