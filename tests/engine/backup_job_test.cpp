#include "engine/backup_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "base/path.h"
#include "support/job_fixture.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using namespace job_test;
using testing::FilesIn;
using testing::ReadFile;
using testing::WriteFile;

// A quote in a file name, as the file system allows: Windows refuses '"'.
#ifdef _WIN32
constexpr char kQuotedStem[] = "O'Brien & Co";
#else
constexpr char kQuotedStem[] = "O'Brien \"Ltd\"";
#endif

TEST_F(BackupJobTest, FileEditionCopiesEachTickedFileUnderItsStampedName) {
  const std::vector<std::string> names = {"华东贸易有限公司.AIS", "Acme Trading.AIS",
                                          std::string(kQuotedStem) + ".AIS", "Skipped.AIS"};
  for (std::size_t i = 0; i < names.size(); ++i)
    WriteFile(dir_ / ("accounts/" + names[i]), std::string(1000 + i, static_cast<char>('a' + i)));
  std::vector<AccountSetEntry> entries;
  for (const auto& n : names) entries.push_back({n != "Skipped.AIS", "", n, n});

  const auto summary = Run(FileConfig(entries));
  ASSERT_TRUE(summary);
  EXPECT_TRUE(summary->jobCompleted);
  EXPECT_EQ(summary->results.size(), 3u);
  EXPECT_EQ(Succeeded(*summary), 3);

  const std::string src = WithTrailingSeparator(accounts());
  EXPECT_EQ(
      log_.lines(),
      Lines({" 账套文件" + src + names[0] + "本机备份成功",
             " 账套文件" + src + names[1] + "本机备份成功",
             " 账套文件" + src + names[2] + "本机备份成功", " setlog向数据库写入本机备份日志成功",
             " setlog向数据库写入本机备份日志成功", " setlog向数据库写入本机备份日志成功"}));

  EXPECT_EQ(FilesIn(backups()),
            (std::vector<std::string>{std::string("Acme Trading") + kStamp + ".bak",
                                      std::string(kQuotedStem) + kStamp + ".bak",
                                      std::string("华东贸易有限公司") + kStamp + ".bak"}));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(ReadFile(dir_ / ("backups/" + StemOf(names[i]) + kStamp + ".bak")),
              ReadFile(src + names[i]));
  }

  const auto rows = Rows();  // newest first
  ASSERT_EQ(rows.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    const auto& row = rows[2 - i];
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(row.accountname, src + names[i]);
    EXPECT_EQ(row.localbakfile, JoinPath(backups(), StemOf(names[i]) + kStamp));
    EXPECT_EQ(row.rarpwd, "") << "no archive, so no password to record";
    EXPECT_EQ(row.baksuccess, std::optional<bool>(true));
  }
  // The spare copy is refreshed after the run and holds the new rows.
  EXPECT_EQ(SqliteValue(app() + "/setlog.dlb", "select count(*) from baklog"), "3");
  EXPECT_EQ(rotations_, 1);
}

TEST_F(BackupJobTest, SqlEditionBacksUpEveryTickedDatabaseWithQuotedNames) {
  MakeDatabase("AIS O'Hara]x", 7);
  MakeDatabase("AIS_Beta", 3);
  const auto summary = Run(SqlConfig({{true, "001", "O'Hara 账套", "AIS O'Hara]x"},
                                      {false, "002", "Unticked", "AIS_Beta"},
                                      {true, "003", "Beta", "AIS_Beta"}}));
  ASSERT_TRUE(summary);
  EXPECT_EQ(Succeeded(*summary), 2);

  const std::string folder = WithTrailingSeparator(backups());
  EXPECT_EQ(log_.lines(),
            Lines({"成功选中O'Hara 账套账套数据库的大容量复制选项！",
                   "成功备份O'Hara 账套账套的数据库AIS O'Hara]x到" + folder + "目录下！",
                   "成功设置账套O'Hara 账套的数据库AIS O'Hara]x的自动收缩标记！",
                   "成功去除O'Hara 账套账套数据库，设置在检查点截断日志复选框！",
                   "成功选中Beta账套数据库的大容量复制选项！",
                   "成功备份Beta账套的数据库AIS_Beta到" + folder + "目录下！",
                   "成功设置账套Beta的数据库AIS_Beta的自动收缩标记！",
                   "成功去除Beta账套数据库，设置在检查点截断日志复选框！",
                   " setlog向数据库写入本机备份日志成功", " setlog向数据库写入本机备份日志成功"}));
  // Each backup file opens as its database.
  EXPECT_EQ(SqliteValue(folder + "O'Hara 账套" + kStamp + ".bak", "select count(*) from t"), "7");
  EXPECT_EQ(SqliteValue(folder + "Beta" + kStamp + ".bak", "select count(*) from t"), "3");
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].accountname, "O'Hara 账套");
  EXPECT_EQ(rows[1].localbakfile, folder + "O'Hara 账套" + kStamp);
  EXPECT_EQ(rows[1].baksuccess, std::optional<bool>(true));
}

TEST_F(BackupJobTest, SqlEditionLogsAFailingOptionStepAndStillBacksUp) {
  MakeDatabase("AIS_Beta", 3);
  StandinSqlServer::SetProductVersion(server(), "10.50.1600.1");  // sp_dboption's last
  StandinSqlServer::AddFault(server(), "%select into/bulkcopy%", "Option refused by the test.");
  StandinSqlServer::AddFault(server(), "%autoshrink%", "Autoshrink refused by the test.");
  const auto summary = Run(SqlConfig({{true, "003", "Beta", "AIS_Beta"}}));
  ASSERT_TRUE(summary);
  EXPECT_EQ(Succeeded(*summary), 1);
  const auto lines = log_.lines();
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[4],
            "无法选中Beta账套数据库的大容量复制选项！导致失败可能的原因为：Option "
            "refused by the test.");
  EXPECT_EQ(lines[6],
            "设置账套Beta的数据库AIS_Beta的自动收缩标记失败！导致失败可能的原因为："
            "Autoshrink refused by the test.");
  EXPECT_EQ(SqliteValue(backups() + "/Beta" + kStamp + ".bak", "select count(*) from t"), "3");
  EXPECT_EQ(Rows().at(0).baksuccess, std::optional<bool>(true));
}

// Passes every statement to the stand-in and keeps its text.
class RecordingSqlFactory final : public SqlServerFactory {
 public:
  explicit RecordingSqlFactory(const SqlServerFactory& inner) : inner_(inner) {}
  std::unique_ptr<SqlServerConnection> Create(const SqlTimeouts& timeouts) const override {
    return std::make_unique<Recording>(inner_.Create(timeouts), sent_);
  }
  // What was sent, the backup file's path shown as "…".
  std::vector<std::string> sent() const { return *sent_; }

 private:
  struct Recording final : SqlServerConnection {
    Recording(std::unique_ptr<SqlServerConnection> inner,
              std::shared_ptr<std::vector<std::string>> sent)
        : inner(std::move(inner)), sent(std::move(sent)) {}
    void Connect(const std::string& u, const std::string& p, const std::string& c) override {
      inner->Connect(u, p, c);
    }
    void Execute(const std::string& command) override {
      Keep(command);
      inner->Execute(command);
    }
    std::vector<SqlRow> Query(const std::string& query) override {
      Keep(query);
      return inner->Query(query);
    }
    void Close() noexcept override { inner->Close(); }
    void Keep(const std::string& text) {
      sent->push_back(std::regex_replace(text, std::regex("disk=N'[^']*'"), "disk=N'…'"));
    }
    std::unique_ptr<SqlServerConnection> inner;
    std::shared_ptr<std::vector<std::string>> sent;
  };
  const SqlServerFactory& inner_;
  std::shared_ptr<std::vector<std::string>> sent_ = std::make_shared<std::vector<std::string>>();
};

// The server's version, asked once a run, picks the backup and option
// statements; whichever it picks, the run log reads the same and the
// database ends with the same options.
TEST_F(BackupJobTest, SqlEditionStatementsFollowTheServersVersion) {
  const std::string db = "AIS O'Hara]x";
  const std::string oldOptions[] = {
      "exec sp_dboption N'AIS O''Hara]x','select into/bulkcopy','true'",
      "EXEC sp_dboption N'AIS O''Hara]x','autoshrink','TRUE'",
      "EXEC sp_dboption N'AIS O''Hara]x','trunc. log on chkpt','false'"};
  const std::string newOptions[] = {"ALTER DATABASE [AIS O'Hara]]x] SET RECOVERY BULK_LOGGED",
                                    "ALTER DATABASE [AIS O'Hara]]x] SET AUTO_SHRINK ON",
                                    "ALTER DATABASE [AIS O'Hara]]x] SET RECOVERY BULK_LOGGED"};
  const std::string backup = "backup database [AIS O'Hara]]x] to disk=N'…' with init";
  struct Case {
    std::string version;  // empty: the query is refused
    bool checksum;
    bool alter;
  } cases[] = {
      {"8.00.2039", false, false},  {"9.00.1399.06", true, false}, {"10.50.1600.1", true, false},
      {"11.0.2100.60", true, true}, {"16.0.1000.6", true, true},   {"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version.empty() ? "unreadable" : c.version);
    testing::TempDir serverDir;
    const std::string folder = serverDir / "server";
    StandinSqlServer::CreateServer(folder, {{"sa", "secret"}});
    SqliteExec(StandinSqlServer::CreateDatabase(folder, db),
               "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
    // Unreadable: a server older than SERVERPROPERTY, which refuses the question.
    StandinSqlServer::SetProductVersion(folder, c.version.empty() ? "7.00.623" : c.version);
    if (c.version.empty())
      StandinSqlServer::AddFault(folder, "%SERVERPROPERTY%",
                                 "'SERVERPROPERTY' is not a recognized function name.");
    log_.Clear();
    StandinSqlServerFactory standin(folder);
    RecordingSqlFactory recording(standin);
    std::atomic<bool> configured{true};
    std::atomic<bool> running{false};
    BackupServices services = testing::TestBackupServices(log_, *clock_, recording, records_);
    services.runLogPath = dir_ / "app/run.log";
    services.rotateRunLog = [] {};
    const auto summary = BackupThreadProc(SqlConfig({{true, "001", "O'Hara 账套", db}}),
                                          {configured, running}, services);
    ASSERT_TRUE(summary);
    EXPECT_EQ(Succeeded(*summary), 1);

    const auto& options = c.alter ? newOptions : oldOptions;
    EXPECT_EQ(recording.sent(), (std::vector<std::string>{kProductVersionQuery, options[0],
                                                          backup + (c.checksum ? ", checksum" : ""),
                                                          options[1], options[2]}));
    const std::string backups = WithTrailingSeparator(this->backups());
    const auto lines = log_.lines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.begin() + 8),
              (std::vector<std::string>{
                  "成功选中O'Hara 账套账套数据库的大容量复制选项！",
                  "成功备份O'Hara 账套账套的数据库" + db + "到" + backups + "目录下！",
                  "成功设置账套O'Hara 账套的数据库" + db + "的自动收缩标记！",
                  "成功去除O'Hara 账套账套数据库，设置在检查点截断日志复选框！"}));
    EXPECT_EQ(SqliteValue(folder + "/server.sqlite",
                          "SELECT group_concat(option || '=' || value, ', ') FROM "
                          "(SELECT * FROM dboptions ORDER BY option)"),
              "autoshrink=true, select into/bulkcopy=true, trunc. log on chkpt.=false");
  }
}

TEST_F(BackupJobTest, SqlEditionBackupFailureIsAFailureEntry) {
  const auto summary = Run(SqlConfig({{true, "009", "Missing", "NoSuchDb"}}));
  ASSERT_TRUE(summary);
  EXPECT_EQ(Succeeded(*summary), 0);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].localbakfile.rfind("本机备份失败：", 0), 0u) << rows[0].localbakfile;
  EXPECT_EQ(rows[0].baksuccess, std::optional<bool>(false));
  EXPECT_EQ(
      log_.lines()[5].rfind("备份Missing账套的数据库NoSuchDb到" + WithTrailingSeparator(backups()) +
                                "目录下失败！导致失败可能的原因为：",
                            0),
      0u);
}

TEST_F(BackupJobTest, TwoBackupsOfOneNameInOneSecondDoNotOverwriteEachOther) {
  MakeDatabase("AIS_A", 1);
  MakeDatabase("AIS_B", 2);
  const auto summary =
      Run(SqlConfig({{true, "001", "Dup", "AIS_A"}, {true, "002", "Dup", "AIS_B"}}));
  ASSERT_TRUE(summary);
  EXPECT_EQ(Succeeded(*summary), 2);
  EXPECT_EQ(SqliteValue(backups() + "/Dup20240501013000.bak", "select count(*) from t"), "1");
  EXPECT_EQ(SqliteValue(backups() + "/Dup20240501013001.bak", "select count(*) from t"), "2");
}

TEST_F(BackupJobTest, WrongLoginGivesTheConnectionFailureRowAndLine) {
  MakeDatabase("AIS_Beta", 1);
  BackupConfig config = SqlConfig({{true, "003", "Beta", "AIS_Beta"}});
  config.sqlPassword = "wrong";
  const auto summary = Run(config);
  ASSERT_TRUE(summary);
  EXPECT_FALSE(summary->jobCompleted);
  const auto lines = log_.lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4],
            "无法与SQL数据库建立连接，备份失败！导致失败可能的原因为：Login failed for user 'sa'.");
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].localbakfile, "连接SQL数据库失败！");
  EXPECT_EQ(rows[0].bz, "执行备份失败");
  EXPECT_EQ(rows[0].baksuccess, std::optional<bool>(false));
  EXPECT_TRUE(FilesIn(backups()).empty());
}

// The early ends of the job: each gives exactly its line and row, makes no
// backup, and the thread still closes normally with its spare copy.
TEST_F(BackupJobTest, EarlyEndsOfTheJob) {
  WriteFile(dir_ / "accounts/A.AIS", "a");
  const std::vector<AccountSetEntry> ticked = {{true, "", "A.AIS", "A.AIS"}};

  {
    SCOPED_TRACE("nothing ticked");
    const auto summary = Run(FileConfig({{false, "", "A.AIS", "A.AIS"}}));
    EXPECT_FALSE(summary->jobCompleted);
    EXPECT_EQ(log_.lines(), Lines({"没有选择备份文件....."}));
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(fs::exists(app() + "/setlog.dlb"));
  }
  {
    SCOPED_TRACE("local folder missing");
    log_.Clear();
    BackupConfig config = FileConfig(ticked);
    config.localFolder = dir_ / "nowhere";
    Run(config);
    EXPECT_EQ(log_.lines(), Lines({"本机备份路径无效，备份失败！"}, 1));
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].localbakfile, "本机备份路径无效");
    EXPECT_EQ(rows[0].bz, "执行备份失败");
    EXPECT_EQ(rows[0].baksuccess, std::optional<bool>(false));
  }
  {
    SCOPED_TRACE("settings database cannot be opened");
    log_.Clear();
    fs::remove(app() + "/Setlog.dll");
    fs::create_directory(app() + "/Setlog.dll");  // a folder where the file should be
    Run(FileConfig(ticked));
    const auto lines = log_.lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4].rfind("打开日志数据库失败！", 0), 0u) << lines[4];
    EXPECT_GT(lines[4].size(), std::string("打开日志数据库失败！").size()) << "with the reason";
    EXPECT_TRUE(FilesIn(backups()).empty());
  }
}

// An error that escapes the job: the thread says so with the reason, rotates
// the run log, releases its flag and copies the run log to the remote folder.
TEST_F(BackupJobTest, AnEscapingErrorTakesTheThreadsErrorPath) {
  struct Failing final : BackupRecordsFactory {
    std::unique_ptr<BackupRecords> Create() const override {
      throw std::runtime_error("no records today");
    }
  } failing;
  WriteFile(dir_ / "accounts/A.AIS", "a");
  const std::string remote = dir_ / "remote";
  fs::create_directories(remote);
  const std::string runLog = dir_ / "app/run.log";
  WriteFile(runLog, "earlier lines\n");
  BackupConfig config = FileConfig({{true, "", "A.AIS", "A.AIS"}});
  config.remoteFolder = remote;
  std::atomic<bool> configured{true};
  std::atomic<bool> running{false};
  BackupServices services = testing::TestBackupServices(log_, *clock_, sql_, failing);
  services.runLogPath = runLog;
  services.rotateRunLog = [this] { ++rotations_; };
  const auto summary = BackupThreadProc(config, {configured, running}, services);
  ASSERT_TRUE(summary);
  EXPECT_FALSE(summary->Complete(config));
  EXPECT_FALSE(running.load());
  EXPECT_EQ(rotations_, 1);
  const auto lines = log_.lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "备份线程运行出错！no records today");
  EXPECT_EQ(lines[5], "将" + runLog + "运行日志文件拷贝到远程共享文件夹" +
                          JoinPath(remote, "run.log") + "操作成功！");
  EXPECT_EQ(ReadFile(remote + "/run.log"), "earlier lines\n");
}

TEST_F(BackupJobTest, TheRunningFlagAdmitsOneRunAtATime) {
  std::atomic<bool> configured{true};
  std::atomic<bool> running{true};
  std::atomic<bool> notConfigured{false};
  std::atomic<bool> idle{false};
  const BackupServices services = testing::TestBackupServices(log_, *clock_, sql_, records_);
  EXPECT_FALSE(BackupThreadProc(FileConfig({}), {configured, running}, services));
  EXPECT_TRUE(running.load()) << "another run's flag is left alone";
  EXPECT_FALSE(BackupThreadProc(FileConfig({}), {notConfigured, idle}, services));
  EXPECT_FALSE(idle.load());
  EXPECT_TRUE(log_.lines().empty());
}

}  // namespace
}  // namespace veltora
