// `restore` and `verify` end to end: backups made by the job with the real
// 7-Zip and a real Samba share, then damaged the ways disks and people
// damage them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "cli/headless_window.h"
#include "settings/settings_database.h"
#include "sqlserver/sql_test_support.h"
#include "sqlserver/standin_sql_server.h"
#include "support/fakes.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct Result {
  int code;
  std::string out;
  std::string err;
};

constexpr char kLedger[] = "Acme 账套.AIS";
constexpr char kPassword[] = "p&w|<x>%";

class RestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    share_ = testing::TestSambaServer(whyNot);
    if (!share_) VELTORA_SKIP_OR_FAIL(whyNot);
    for (const auto& e : fs::directory_iterator(share_->localFolder)) fs::remove_all(e.path());
    ASSERT_EQ(Cli({"init"}).code, kExitOk);
    fs::create_directories(accounts_);
    fs::create_directories(backups_);
    fs::create_directories(target_);
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.softvernum = 0;
    row.accountDir = accounts_;
    row.localDir = backups_;
    row.localbak = true;
    row.remotebak = true;
    row.remoteDir = share_->sharePath;
    row.remoteuser = share_->user;
    row.remotepwd = share_->password;
    row.rarlevel = "标准";
    db.SaveSettings(row);
    db.UpdateArchivePassword(kPassword);
    db.RewriteAccountList({{"", kLedger, kLedger}});
  }

  CliContext Context() const {
    const char* path = std::getenv("PATH");
    CliContext context;
    context.executableFolder = VELTORA_BIN_DIR;
    context.searchPath = path != nullptr ? path : "";
    context.smbPort = share_->port;
    return context;
  }

  Result Cli(std::vector<std::string> args, std::optional<std::string> secret = std::nullopt) {
    args.insert(args.begin(), {"--app-dir", app_});
    std::ostringstream out, err;
    CliContext context = Context();
    context.readSecret = [secret](bool) { return secret; };
    const int code = RunCli(args, context, out, err);
    return {code, out.str(), err.str()};
  }

  // Backs the ledger up with `content`; answers the archive's name.
  std::string BackUp(const std::string& content) {
    WriteFile(ledger_, content);
    const auto before = Names(backups_);
    const Result r = Cli({"backup"});
    EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
    for (const auto& name : Names(backups_))
      if (std::find(before.begin(), before.end(), name) == before.end()) return name;
    ADD_FAILURE() << "no new archive";
    return {};
  }

  static std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  static void FlipByteInTheMiddle(const std::string& path) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    const auto middle = static_cast<std::streamoff>(fs::file_size(path) / 2);
    f.seekg(middle);
    const char c = static_cast<char>(f.get() ^ 0x40);
    f.seekp(middle);
    f.put(c);
  }

  std::string Restored() const { return ReadFile(target_ + "/" + kLedger); }

  const testing::SambaShare* share_ = nullptr;
  TempDir dir_;
  std::string app_ = dir_ / "app";
  std::string accounts_ = dir_ / "accounts";
  std::string backups_ = dir_ / "backups";
  std::string target_ = dir_ / "target";
  std::string ledger_ = accounts_ + "/" + kLedger;
};

TEST_F(RestoreTest, TheChosenBackupComesBackByteIdenticalAndNothingIsOverwrittenUnasked) {
  const std::string first = BackUp(testing::Incompressible(300000, 1));
  const std::string second = BackUp("the ledger as changed later");
  const std::string firstStamp = first.substr(first.size() - 17, 14);

  Result r = Cli({"restore", "--list"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find(std::string(kLedger) + " | " + firstStamp + " | 本机和远程 | "),
            std::string::npos)
      << r.out;
  EXPECT_LT(r.out.find(second.substr(second.size() - 17, 14)), r.out.find(firstStamp))
      << "newest first";

  r = Cli({"restore", "Acme 账套", "--stamp", firstStamp, "--to", target_});
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_TRUE(Restored() == testing::Incompressible(300000, 1));

  // Again: the file there is kept unless --replace, and then kept aside.
  r = Cli({"restore", "Acme 账套", "--to", target_});
  EXPECT_EQ(r.code, kExitBackupIncomplete);
  EXPECT_TRUE(Restored() == testing::Incompressible(300000, 1));
  r = Cli({"restore", "Acme 账套", "--to", target_, "--replace"});
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_EQ(Restored(), "the ledger as changed later");
  const auto names = Names(target_);
  ASSERT_EQ(names.size(), 2u) << "the restored file and the one kept aside, no work folder";
  EXPECT_TRUE(names[1].starts_with(std::string(kLedger) + ".before-restore-")) << names[1];
  EXPECT_TRUE(ReadFile(target_ + "/" + names[1]) == testing::Incompressible(300000, 1));
}

// Each damage, and what the restore must do about it: take the other copy
// and say why, or refuse and leave the target folder empty.
TEST_F(RestoreTest, DamagedCopiesAreNeverRestored) {
  struct Case {
    const char* name;
    bool breakLocal;  // one byte changed in the middle
    bool deleteLocal;
    bool breakShare;
    std::optional<std::string> password;  // given on standard input
    bool replaceContent;  // a whole archive of other content, same name and password
    bool restored;
    const char* said;
  };
  const Case cases[] = {
      {"local deleted", false, true, false, {}, false, true, "正在取出远程备份"},
      {"local damaged", true, false, false, {}, false, true, "本机备份不可用"},
      {"both damaged", true, false, true, {}, false, false, "没有一个副本能够恢复"},
      {"wrong password", false, false, false, "wrong", false, false, "密码错误"},
      {"other content", false, false, false, {}, true, false, "校验值不符"},
  };
  const std::string archive = BackUp("the ledger of the day");
  const std::string local = backups_ + "/" + archive;
  const std::string shared = share_->localFolder + "/" + archive;
  const std::string whole = ReadFile(local);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(local, whole);
    WriteFile(shared, whole);
    fs::remove_all(target_);
    fs::create_directories(target_);
    if (c.breakLocal) FlipByteInTheMiddle(local);
    if (c.deleteLocal) fs::remove(local);
    if (c.breakShare) FlipByteInTheMiddle(shared);
    if (c.replaceContent) {
      const std::string other = dir_ / "other.bak";
      WriteFile(other, "a forged ledger");
      fs::remove(local);
      ASSERT_EQ(std::system(("printf '%s\\n' '" + std::string(kPassword) +
                             "' | 7zz a -t7z -mhe=on -p -bso0 -bsp0 '" + local + "' '" + other +
                             "' >/dev/null")
                                .c_str()),
                0);
      fs::copy_file(local, shared, fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> args = {"restore", kLedger, "--to", target_};
    if (c.password) args.push_back("--password-stdin");
    const Result r = Cli(args, c.password);
    EXPECT_EQ(r.code, c.restored ? kExitOk : kExitBackupIncomplete) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
    if (c.restored)
      EXPECT_EQ(Restored(), "the ledger of the day");
    else
      EXPECT_TRUE(Names(target_).empty()) << "the target untouched";
  }
  // Nothing of the work is left in the agent's private folder either.
  EXPECT_TRUE(Names(app_ + "/veltora-private").empty());
}

TEST_F(RestoreTest, VerifyFindsADamagedShareCopy) {
  const std::string archive = BackUp("the ledger of the day");
  Result r = Cli({"verify"});
  EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_NE(r.out.find(std::string(kLedger) + " | 远程备份 | "), std::string::npos) << r.out;

  FlipByteInTheMiddle(share_->localFolder + "/" + archive);
  r = Cli({"verify", kLedger});
  EXPECT_EQ(r.code, kExitBackupIncomplete) << r.out;
  EXPECT_NE(r.out.find(" | 本机备份 | "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("| 通过 |"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("| 失败 |"), std::string::npos) << r.out;
}

// The agent's schedule over a clock the test moves: a scheduled run tests the
// backups when the last test is a week old, after its own lines and before
// the run is over; the next day's run and "立即备份" test nothing.
TEST_F(RestoreTest, TheScheduledRunTestsTheBackupsOnceAWeek) {
  {
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.baktime = "01:30:00";
    row.btwdays = 1;
    row.remotebak = false;  // one side: the line per side is the same for both
    db.SaveSettings(row);
  }
  WriteFile(ledger_, "the ledger of the day");
  auto clock = std::make_shared<testing::FixedClock>(LocalTime{2026, 12, 1, 1, 29, 0});
  testing::RecordingLog runLog;
  std::ostringstream messages;
  HeadlessWindowOptions options;
  options.runLogListener = [&](std::string_view line) { runLog.Append(line); };
  options.clock = clock;
  HeadlessWindow window(app_, Context(), messages, std::move(options));
  ASSERT_TRUE(window.presenter().LoadSettingsClicked()) << messages.str();
  window.presenter().CaptureBackupConfiguration();
  window.state().configured = true;

  // The run-log lines of the test restore (without the time before them),
  // after the run's closing line.
  constexpr char kRunSucceeded[] = "备份线程成功执行了备份操作！";
  auto testLines = [&] {
    std::vector<std::string> lines;
    bool runEnded = false;
    for (const auto& line : runLog.lines()) {
      runEnded = runEnded || line.ends_with(kRunSucceeded);
      if (const auto at = line.find(" :恢复测试"); at != std::string::npos)
        lines.push_back((runEnded ? "" : "too early: ") + line.substr(at + 2));
    }
    return lines;
  };
  auto at = [&](int day, int hour, int minute) {
    runLog.Clear();
    clock->Set(LocalTime{2026, 12, day, hour, minute, 0});
  };
  auto verifications = [&] { return SettingsDatabase(app_).ListVerifications().size(); };
  const std::string set = std::string("恢复测试：账套") + kLedger;

  at(1, 1, 30);
  window.presenter().OnTimerTick();
  window.runner().Wait();
  EXPECT_EQ(testLines(), (std::vector<std::string>{
                             set + "的本机备份（20261201013000）通过",
                             "恢复测试结束：共测试1个备份副本，全部通过！",
                         }));
  const auto rows = SettingsDatabase(app_).ListVerifications();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0],
            (VerificationRow{"2026-12-01 01:30:00", kLedger, "local", "20261201013000", true, ""}));

  at(2, 1, 30);
  window.presenter().OnTimerTick();
  window.runner().Wait();
  EXPECT_TRUE(runLog.lines().back().ends_with(kRunSucceeded)) << "a backup, no test";
  EXPECT_TRUE(testLines().empty());

  // A week on: "立即备份" tests nothing, the schedule's catch-up run does.
  at(8, 1, 0);
  EXPECT_EQ(window.presenter().BackUpNowClicked(), StartOutcome::kStarted);
  window.runner().Wait();
  EXPECT_TRUE(testLines().empty());
  EXPECT_EQ(verifications(), 1u);
  at(8, 1, 30);
  window.presenter().OnTimerTick();
  window.runner().Wait();
  EXPECT_EQ(testLines(), (std::vector<std::string>{
                             set + "的本机备份（20261208013000）通过",
                             "恢复测试结束：共测试1个备份副本，全部通过！",
                         }));
  EXPECT_EQ(verifications(), 2u);
}

TEST_F(RestoreTest, RefusalsNameTheProblem) {
  BackUp("the ledger of the day");
  const struct {
    std::vector<std::string> args;
    int code;
    const char* said;
  } cases[] = {
      {{"restore", "Nobody", "--to", "TARGET"}, kExitBackupIncomplete, "没有这个账套"},
      {{"restore", kLedger, "--stamp", "20200101000000", "--to", "TARGET"},
       kExitBackupIncomplete,
       "没有这个时间的备份"},
      {{"restore", kLedger, "--stamp", "2020", "--to", "TARGET"}, kExitUsage, "14 digits"},
      {{"restore", kLedger, "--to", "TARGET/missing"}, kExitBackupIncomplete, "不是一个存在的"},
      {{"restore", kLedger, "--to", "TARGET", "--as-database", "x"}, kExitUsage, "usage:"},
      {{"verify", "a", "b"}, kExitUsage, "usage:"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    for (auto& a : args)
      if (a.starts_with("TARGET")) a = target_ + a.substr(6);
    SCOPED_TRACE(args[1]);
    const Result r = Cli(args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
  EXPECT_TRUE(Names(target_).empty());
}

// A SQL edition on the stand-in: the backup restored as a new database holds
// what the account set's database held when it was backed up.
TEST(SqlRestoreTest, ANewDatabaseEqualsTheBackedUpOne) {
  TempDir dir;
  const std::string app = dir / "app", backups = dir / "backups", server = dir / "server";
  fs::create_directories(backups);
  StandinSqlServer::CreateServer(server, {{"sa", "Sql&Pass1"}});
  const std::string database = "AIS2024 账套";
  const std::string file = StandinSqlServer::CreateDatabase(server, database);
  testing::RunSqlite(file,
                     "create table t_voucher(id integer, memo text);"
                     "insert into t_voucher values(1, '期初'), (2, 'O''Neil');");
  testing::RunSqlite(StandinSqlServer::CreateDatabase(server, "AcctCtl"),
                     "create table t_ad_kdAccount_gl(FAcctID integer, FAcctNumber text,"
                     " FAcctName text, FDBName text);"
                     "insert into t_ad_kdAccount_gl values(1, '001', '总公司', '" +
                         database + "');");
  auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--app-dir", app});
    std::ostringstream out, err;
    CliContext context;
    context.executableFolder = VELTORA_BIN_DIR;
    const char* path = std::getenv("PATH");
    context.searchPath = path != nullptr ? path : "";
    context.sqlStandinFolder = server;
    const int code = RunCli(args, context, out, err);
    return Result{code, out.str(), err.str()};
  };
  ASSERT_EQ(cli({"init"}).code, kExitOk);
  {
    SettingsDatabase db(app);
    BaksetRow row = db.LoadSettings();
    row.softvernum = 2;
    row.sqluser = "sa";
    row.sqlpwd = "Sql&Pass1";
    row.localDir = backups;
    row.localbak = true;
    row.rarlevel = "标准";
    row.bakfilenum = 1;  // the fresh backup before a restore over the database prunes the old one
    db.SaveSettings(row);
    db.UpdateArchivePassword("pw1");
    db.RewriteAccountList({{"001", "总公司", database}});
  }
  Result r = cli({"backup"});
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  testing::RunSqlite(file, "insert into t_voucher values(3, 'after the backup');");

  const std::string restored = "总公司 ]恢复' 1";
  r = cli({"restore", "总公司", "--as-database", restored});
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  StandinSqlServer sql(server, {});
  sql.Connect("sa", "Sql&Pass1", restored);
  std::vector<std::string> memos;
  for (const auto& row : sql.Query("select memo from t_voucher order by id"))
    memos.push_back(row.Get("memo"));
  EXPECT_EQ(memos, (std::vector<std::string>{"期初", "O'Neil"}));
  sql.Close();

  // The name is taken now: refused, nothing changed.
  r = cli({"restore", "总公司", "--as-database", restored});
  EXPECT_EQ(r.code, kExitBackupIncomplete);
  EXPECT_NE(r.err.find("数据库已存在"), std::string::npos) << r.err;
  r = cli({"verify"});
  EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_NE(r.out.find("总公司 | 本机备份 | "), std::string::npos) << r.out;
  // The extracted backups the server read are gone from the backup folder.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(backups)) ++files;
  EXPECT_EQ(files, 1u);

  // Over the account set's own database: only after a fresh backup of it,
  // which keeps the row added since; then the database is as backed up first.
  r = cli({"restore", "总公司", "--replace"});
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_NE(r.out.find("覆盖之前先备份并校验现有数据库"), std::string::npos) << r.out;
  EXPECT_EQ(testing::RunSqlite(file, "select memo from t_voucher order by id"),
            (std::vector<std::string>{"期初", "O'Neil"}));
  files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(backups)) ++files;
  EXPECT_EQ(files, 1u) << "the fresh backup, which pruned the one restored";
}

}  // namespace
}  // namespace veltora
