#include "cli/cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

#include "app/single_instance.h"
#include "settings/settings_database.h"
#include "support/fake_systemctl.h"
#include "support/other_user_posix.h"
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

class CliTest : public ::testing::Test {
 protected:
  Result Cli(std::vector<std::string> args, std::string standin = "",
             std::optional<std::string> searchPath = std::nullopt) {
    std::ostringstream out, err;
    const char* path = std::getenv("PATH");
    if (!searchPath) searchPath = path != nullptr ? path : "";
    CliContext context;
    context.executableFolder = VELTORA_BIN_DIR;
    context.sqlStandinFolder = std::move(standin);
    context.searchPath = std::move(*searchPath);
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

  // Runs a command line in a child process as the user "nobody" when the tests
  // run as root, who writes through any permission bits. Empty when the child
  // could not drop root's rights.
  std::optional<Result> CliWithoutRoot(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(pipeFds[0]);
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
      const Result r = Cli(args);
      const std::string text = r.err;
      for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(pipeFds[1], text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::_exit(r.code);
    }
    ::close(pipeFds[1]);
    std::string err;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
      err.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 100)
      return std::nullopt;
    return Result{WEXITSTATUS(status), "", err};
  }

  TempDir dir_;
  std::string app_ = dir_ / "app";
  std::string accounts_ = dir_ / "accounts";
  std::string backups_ = dir_ / "backups";
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"--app-dir"},
                                             {"log", "--limit", "x"},
                                             {"log", "--limit"},
                                             {"log", "--show-passwords", "--show-passwords"},
                                             {"backup", "extra"},
                                             {"restore-settings", "now"},
                                             {"service"},
                                             {"service", "restart"}}) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    const auto r = Cli(args);
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
}

// The Windows service has no counterpart here: each of its commands says so
// and points to the systemd unit, touching nothing.
TEST_F(CliTest, TheWindowsServiceCommandsPointToTheSystemdUnit) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"service", "install"}, {"service", "status"}, {"serve", "--service"}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    const auto r = Cli({"--app-dir", app_, args[0], args[1]});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("veltora.service"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(app_));
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

// A long step's progress goes to the error stream, never into the run log:
// on a terminal as one line rewritten in place and cleared at the end,
// elsewhere as a line per tenth.
TEST_F(CliTest, ProgressOfALongStepOnTheErrorStreamOnly) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"Big.AIS"}));
  {
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.rarlevel = "不压缩";
    db.SaveSettings(row);
  }
  WriteFile(accounts_ + "/Big.AIS", std::string(33 << 20, 'x'));
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "terminal" : "elsewhere");
    const char* path = std::getenv("PATH");
    CliContext context;
    context.executableFolder = VELTORA_BIN_DIR;
    context.searchPath = path != nullptr ? path : "";
    context.errorStreamIsTerminal = terminal;
    std::ostringstream out, err;
    ASSERT_EQ(RunCli({"--app-dir", app_, "backup"}, context, out, err), kExitOk) << out.str();
    const std::string start = "本机备份 Big.AIS... 0% (0 / 33 MiB)";
    const std::string end = "本机备份 Big.AIS... 100% (33 / 33 MiB)";
    // As the button does, the command says it has started the backup first.
    const std::string started =
        "您好，系统正在执行您的备份指令，待备份完成后，您可以在备份日志里查看备份执行的情况!\n";
    if (terminal) {
      EXPECT_EQ(err.str(),
                started + "\r" + start + "\r" + end + "\r" + std::string(38, ' ') + "\r");
    } else {
      EXPECT_EQ(err.str(), started + start + "\n" + end + "\n");
    }
    EXPECT_EQ(out.str().find("Big.AIS..."), std::string::npos);
    EXPECT_EQ(ReadFile(app_ + "/程序运行日志.txt").find("Big.AIS..."), std::string::npos);
  }
}

// One run per application folder: while another process holds the folder's
// run lock, a backup says so and touches nothing - no run-log line, no row, no
// file. A serving agent holds only the instance lock, and a backup runs
// beside it. restore-settings needs the folder to itself: neither lock may be
// held.
TEST_F(CliTest, BackupNeedsTheRunLockAndRestoreSettingsBothLocks) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  WriteFile(accounts_ + "/A.AIS", "a");
  {
    std::string error;
    const auto held = AppFolderLock::TryAcquire(app_, kRunLockFileName, error);
    ASSERT_TRUE(held) << error;
    const auto r = Cli({"--app-dir", app_, "backup"});
    EXPECT_EQ(r.code, kExitBackupIncomplete);
    EXPECT_NE(r.err.find("您好，已有一个备份线程正在运行，无需同时启动多个备份线程！"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_FALSE(fs::exists(app_ + "/程序运行日志.txt"));
    EXPECT_TRUE(fs::is_empty(backups_));
    EXPECT_TRUE(SettingsDatabase(app_).ListBackupLog().empty());
    const auto restore = Cli({"--app-dir", app_, "restore-settings"});
    EXPECT_EQ(restore.code, kExitUsage);
    EXPECT_NE(restore.err.find("another backup or agent is running"), std::string::npos)
        << restore.err;
  }
  {
    std::string error;
    const auto agent = AppFolderLock::TryAcquire(app_, kInstanceLockFileName, error);
    ASSERT_TRUE(agent) << error;
    const auto r = Cli({"--app-dir", app_, "backup"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    const auto restore = Cli({"--app-dir", app_, "restore-settings"});
    EXPECT_EQ(restore.code, kExitUsage);
    EXPECT_NE(restore.err.find("another backup or agent is running"), std::string::npos)
        << restore.err;
  }
  EXPECT_EQ(Cli({"--app-dir", app_, "backup"}).code, kExitOk) << "free again once released";
  EXPECT_EQ(SettingsDatabase(app_).ListBackupLog().size(), 2u);
}

// Another user plants a link to a read-only file of ours as the run lock of a
// folder everyone may write: the backup names that reason (not a bare "start
// failed"), ends with the retryable failure code, and touches neither the
// link's target nor the backup folder; once the link is gone, it runs.
TEST_F(CliTest, ABackupRefusesARunLockThatIsNotOurs) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  WriteFile(accounts_ + "/A.AIS", "a");
  ASSERT_EQ(::chmod(app_.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir_.str().c_str(), 0755), 0);
  const std::string victim = dir_ / "victim";
  WriteFile(victim, "secret\n");
  ASSERT_EQ(::chmod(victim.c_str(), 0444), 0);
  const std::string lock = app_ + "/veltora-backup.lock";
  ASSERT_TRUE(testing::AsOtherUser([&] { return ::symlink(victim.c_str(), lock.c_str()) == 0; }));

  const auto r = Cli({"--app-dir", app_, "backup"});
  EXPECT_EQ(r.code, kExitBackupIncomplete);
  EXPECT_NE(r.err.find("锁文件veltora-backup.lock不是本程序的锁文件（可能是他人放置的链接或文件，"
                       "请删除它），无法进行备份操作！"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("备份线程启动失败"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(backups_));
  EXPECT_EQ(ReadFile(victim), "secret\n");
  EXPECT_EQ(fs::status(victim).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  fs::remove(lock);
  EXPECT_EQ(Cli({"--app-dir", app_, "backup"}).code, kExitOk);
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
  WriteFile(accounts_ + "/A.AIS", testing::Incompressible(16 << 20, 7));
  const std::string cli = std::string(VELTORA_BIN_DIR) + "/veltora-cli";
  const std::string command =
      "'" + cli + "' --app-dir '" + app_ + "' backup >/dev/null 2>>'" + (dir_ / "err.txt") + "'";
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
    EXPECT_NE(testing::ReadFile(dir_ / "err.txt")
                  .find("您好，已有一个备份线程正在运行，无需同时启动多个备份线程！"),
              std::string::npos);
  }
  int archives = 0;
  for (const auto& e : fs::directory_iterator(backups_)) {
    const std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    ASSERT_TRUE(name.ends_with(".7z")) << "nothing else is left behind";
    ++archives;
    EXPECT_EQ(
        std::system(
            ("printf 'pw\\n' | 7zz t -spd -- '" + e.path().string() + "' >/dev/null 2>&1").c_str()),
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
  EXPECT_EQ(r.err, "veltora-cli backup: there is no settings database " + app_ +
                       "/Setlog.dll\n"
                       "run 'veltora-cli init' to write a new, empty one\n");
  EXPECT_FALSE(fs::exists(app_ + "/Setlog.dll")) << "never created by a backup";
}

TEST_F(CliTest, DamagedSettingsPointToTheSpareCopyWhichRestoreSettingsPutsBack) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  WriteFile(accounts_ + "/A.AIS", "a");
  ASSERT_EQ(Cli({"--app-dir", app_, "backup"}).code, kExitOk);  // refreshes the spare copy
  const std::string live = app_ + "/Setlog.dll";
  WriteFile(live, "overwritten by something that was not a database");

  auto r = Cli({"--app-dir", app_, "backup"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_EQ(r.err, "veltora-cli backup: the file is not a valid settings database: " + live +
                       " (file is not a database)\n"
                       "the spare copy " +
                       app_ +
                       "/setlog.dlb is valid: run 'veltora-cli "
                       "restore-settings' to put it back (the damaged file is kept under a new "
                       "name)\n");

  r = Cli({"--app-dir", app_, "restore-settings"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const std::string restored = "已用备用副本恢复设置数据库 " + live + "\n原文件已改名保存为 ";
  ASSERT_EQ(r.out.rfind(restored, 0), 0u) << r.out;
  const std::string aside = r.out.substr(restored.size(), r.out.size() - restored.size() - 1);
  EXPECT_EQ(aside.rfind(live + ".broken-", 0), 0u) << aside;
  EXPECT_EQ(ReadFile(aside), "overwritten by something that was not a database");

  // The settings and the history are back: the next run works and adds its row.
  r = Cli({"--app-dir", app_, "backup"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(SettingsDatabase(app_).ListBackupLog().size(), 2u);

  r = Cli({"--app-dir", app_, "restore-settings"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_EQ(r.err,
            "veltora-cli restore-settings: the settings database is valid, nothing was "
            "changed (restore-settings only replaces a missing or damaged one): " +
                live + "\n");
}

TEST_F(CliTest, TruncatedSettingsWithoutSpareCopyCannotBeRestored) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  const std::string live = app_ + "/Setlog.dll";
  fs::resize_file(live, 4096 + 100);
  const std::string truncated = ReadFile(live);

  auto r = Cli({"--app-dir", app_, "backup"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_EQ(r.err, "veltora-cli backup: the file is not a valid settings database: " + live +
                       " (database disk image is malformed)\n"
                       "there is no valid spare copy either (the file does not exist: " +
                       app_ +
                       "/setlog.dlb): move the damaged file aside and run 'veltora-cli init' to "
                       "start with empty settings\n");

  r = Cli({"--app-dir", app_, "restore-settings"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_EQ(r.err, "veltora-cli restore-settings: there is no spare copy to restore: " + app_ +
                       "/setlog.dlb\n");
  EXPECT_EQ(ReadFile(live), truncated);
  // Nothing beside it but the application folder's lock files.
  for (const auto& e : fs::directory_iterator(app_))
    EXPECT_TRUE(e.path() == live || e.path().filename() == "veltora.lock" ||
                e.path().filename() == "veltora-backup.lock")
        << e.path();
}

TEST_F(CliTest, ReadOnlyApplicationFolderIsNamedAsTheProblem) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  if (::geteuid() == 0) {
    // The folder and the database belong to the user who runs the command.
    fs::permissions(dir_.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_EQ(::chown(app_.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown((app_ + "/Setlog.dll").c_str(), 65534, 65534), 0);
  }
  fs::permissions(app_, fs::perms::owner_read | fs::perms::owner_exec);

  const auto r = CliWithoutRoot({"--app-dir", app_, "backup"});
  fs::permissions(app_, fs::perms::owner_all);
  if (!r) VELTORA_SKIP_OR_FAIL("cannot run the command line as an unprivileged user");
  EXPECT_EQ(r->code, kExitUsage);
  EXPECT_EQ(r->err,
            "veltora-cli backup: cannot open the settings database for writing, the "
            "application folder is read-only for this user: " +
                app_ +
                " (attempt to write a readonly database)\n"
                "give this user write access to the folder, or name another one with "
                "--app-dir\n");
}

TEST_F(CliTest, LogShowsArchivePasswordsOnlyWhenAsked) {
  ASSERT_EQ(Cli({"--app-dir", app_, "init"}).code, kExitOk);
  {
    SettingsDatabase db(app_);
    db.InsertLocalResult("B", "备份失败", "", false);
    db.InsertLocalResult("A", "/bak/A.bak", "s3cret'pw", true);  // newest
  }
  struct Case {
    std::vector<std::string> options;
    const char* passwordA;
    bool showsB;
  };
  const Case cases[] = {
      {{}, "******", true},
      {{"--show-passwords"}, "s3cret'pw", true},
      {{"--limit", "1", "--show-passwords"}, "s3cret'pw", false},
      {{"--show-passwords", "--limit", "1"}, "s3cret'pw", false},
      {{"--limit", "1"}, "******", false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--app-dir", app_, "log"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(::testing::PrintToString(c.options));
    const auto r = Cli(args);
    ASSERT_EQ(r.code, kExitOk) << r.err;
    // Rows end with the remark and the password column.
    EXPECT_EQ(r.out.find("B | 备份失败 | ") != std::string::npos, c.showsB);
    EXPECT_NE(r.out.find(" |  | " + std::string(c.passwordA) + "\n"), std::string::npos) << r.out;
    if (std::string(c.passwordA) != "s3cret'pw") {
      EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
    }
  }
}

TEST_F(CliTest, DemoBacksUpBothEditionsAndPrintsTheResults) {
  // Listing the SQL edition's account sets and then its run each make sure
  // SQL Server runs, through the service manager found on the PATH they are
  // given (the fake stays stopped, so each asks for a start).
  testing::FakeSystemctl systemctl;
  systemctl.SetUnit("mssql-server", "inactive", "running", "SQL Server Database Engine");
  const auto r = Cli({"demo", dir_ / "demo"}, "", systemctl.searchPath());
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_NE(r.out.find("== 程序运行日志 =="), std::string::npos);
  EXPECT_NE(r.out.find("成功备份总公司账套账套的数据库AIS20240101到"), std::string::npos);
  EXPECT_NE(r.out.find("O'Neil & Sons.AIS本机备份成功"), std::string::npos);
  EXPECT_NE(r.out.find("== 备份日志 =="), std::string::npos);
  EXPECT_EQ(systemctl.Controls(),
            std::vector<std::string>(2, "--no-block start -- mssql-server.service"));
  // A second demo into the same folder is refused rather than mixed in.
  EXPECT_EQ(Cli({"demo", dir_ / "demo"}).code, kExitUsage);
}

// A headless machine is configured under the window's saving rules: a value
// the window refuses is refused with the window's message, exit 2, and the
// stored settings stay as they were; accepted values are stored as saving
// stores them and shown back.
TEST_F(CliTest, SettingsAreSetUnderTheSavingChecks) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"B.AIS"}));
  WriteFile(accounts_ + "/A.AIS", "a");
  WriteFile(accounts_ + "/B.AIS", "b");
  const auto stored = [&] {
    SettingsDatabase db(app_);
    return std::make_pair(db.LoadSettings(), db.LoadAccountList());
  };
  const auto before = stored();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } refused[] = {
      {{"set", "baktime=25:00:00"}, "您好，定时备份时间输入非法，请重新输入！"},
      {{"set", "bakfilenum=501", "baktime=02:00:00"}, "您好，备份个数输入非法，请重新输入！"},
      {{"set", "localdir=" + dir_ / "missing"}, "您好，本机上的备份路径无效，请重新输入！"},
      {{"set", "remotebak=true", "remotedir=D:\\share", "remoteuser=u"},
       "您好，远程共享文件夹的路径，不应该为本地路径，请重新输入！"},
      {{"set", "localuser= "}, "您好，请输入登录服务器上Windows系统的用户名！"},
      {{"set", "btwdays=31"}, "btwdays takes a whole number of days from 1 to 30"},
      // What the job could not use: refused, never stored changed.
      {{"set", "rarpwd=ab\ncd"},
       "您好，密码中不应该包含换行符、制表符等控制字符，请重新输入密码！"},
      {{"set", "localpwd=a\tb"},
       "您好，登录服务器上Windows系统的密码中不能包含换行符、制表符等控制字符，请重新输入！"},
      {{"set", "remoteuser=u\nx"},
       "您好，访问远程共享文件夹的用户名中不能包含换行符、制表符等控制字符，请重新输入！"},
      {{"set", "conout=abc"}, "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)"},
      {{"set", "conout=0"}, "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)"},
      {{"set", "conout=99999999999999999999"},
       "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)"},
      {{"set", "sqlout=-1"}, "您好，SQL命令执行超时时间输入非法，请重新输入！(建议：2500-9000秒)"},
      {{"set", "localdir=relbak"},
       "您好，本机上的备份路径必须是从根目录或盘符开始的完整路径，请重新输入！"},
      {{"set", "accountdir=acc2"},
       "您好，账套所在的文件夹“acc2”不是从根目录或盘符开始的完整路径，请重新选择！"},
      {{"set", "accountdir=" + dir_ / "gone"},
       "您好，账套所在的文件夹“" + dir_ / "gone" + "”不存在或不是文件夹，请重新选择！"},
      {{"set", "accountdir=" + accounts_ + "/A.AIS"},
       "您好，账套所在的文件夹“" + accounts_ + "/A.AIS”不存在或不是文件夹，请重新选择！"},
      {{"tick", "C.AIS"}, "no account set of that name in the list: C.AIS"},
      {{"set", "nosuchkey=1"}, "not a KEY=VALUE of the settings: nosuchkey=1"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args{"--app-dir", app_, "settings"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.args[0] == "set" && c.args[1].rfind("localuser", 0) != 0) args.push_back("localuser=me");
    const auto r = Cli(args);
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(stored(), before);
  }

  const auto saved =
      Cli({"--app-dir", app_, "settings", "set", "localuser=me", "baktime=7:5:0", "bakfilenum=500",
           "rarlevel=最好", "rarpwd=it's", "--tick", "A.AIS", "--tick", "B.AIS"});
  ASSERT_EQ(saved.code, kExitOk) << saved.err;
  const auto [row, accounts] = stored();
  EXPECT_EQ(row.baktime, "07:05:00");
  EXPECT_EQ(row.bakfilenum, 500);
  EXPECT_EQ(row.rarlevel, "最好");
  EXPECT_EQ(row.rarpwd, "it's");
  EXPECT_EQ(accounts.size(), 2u);

  const auto shown = Cli({"--app-dir", app_, "settings", "show"});
  ASSERT_EQ(shown.code, kExitOk);
  for (const char* line : {"baktime=07:05:00\n", "rarpwd=******\n", "[x] A.AIS\n", "[x] B.AIS\n"})
    EXPECT_NE(shown.out.find(line), std::string::npos) << line << shown.out;
  EXPECT_EQ(shown.out.find("it's"), std::string::npos);

  // A file edition has no SQL Server login: given, it is said to be ignored
  // and the rest is saved.
  const auto login =
      Cli({"--app-dir", app_, "settings", "set", "sqluser=sa", "sqlpwd=pw", "bakfilenum=4"});
  ASSERT_EQ(login.code, kExitOk) << login.err;
  for (const char* key : {"sqluser", "sqlpwd"})
    EXPECT_NE(
        login.err.find("当前版本的账套保存在文件中，不使用SQL Server的登录，此项已忽略，未保存：" +
                       std::string(key)),
        std::string::npos)
        << login.err;
  const auto [afterLogin, unused] = stored();
  EXPECT_EQ(afterLogin.sqluser, "");
  EXPECT_EQ(afterLogin.sqlpwd, "");
  EXPECT_EQ(afterLogin.bakfilenum, 4);
}

// Two saves at once both land: each holds the folder's settings lock from its
// load to its write, so neither writes back a row loaded before the other's
// change, and a save waiting there is not told that a backup runs. Here both
// wait behind a holder that changes a third value meanwhile.
TEST_F(CliTest, ConcurrentSettingsSavesBothLand) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  WriteFile(accounts_ + "/A.AIS", "a");
  {
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.localuser = "me";
    db.SaveSettings(row);
  }
  const std::string cli = testing::ShellQuoted(std::string(VELTORA_BIN_DIR) + "/veltora-cli");
  const auto command = [&](const std::string& assignment) {
    return cli + " --app-dir " + testing::ShellQuoted(app_) + " settings set " + assignment +
           " >/dev/null 2>>" + testing::ShellQuoted(dir_ / "err.txt");
  };
  int codes[2] = {-1, -1};
  {
    std::string error;
    auto held = AppFolderLock::TryAcquire(app_, kSettingsLockFileName, error);
    ASSERT_TRUE(held) << error;
    std::thread first([&] { codes[0] = std::system(command("bakfilenum=7").c_str()); });
    std::thread second([&] { codes[1] = std::system(command("btwdays=3").c_str()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    {
      SettingsDatabase db(app_);
      BaksetRow row = db.LoadSettings();
      row.localpwd = "changed meanwhile";
      db.SaveSettings(row);
    }
    held.reset();
    first.join();
    second.join();
  }
  for (const int status : codes) {
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kExitOk) << ReadFile(dir_ / "err.txt");
  }
  const BaksetRow row = SettingsDatabase(app_).LoadSettings();
  EXPECT_EQ(row.bakfilenum, 7);
  EXPECT_EQ(row.btwdays, 3);
  EXPECT_EQ(row.localpwd, "changed meanwhile");

  // A save that waits too long is refused as such, and stores nothing.
  std::string error;
  const auto held = AppFolderLock::TryAcquire(app_, kSettingsLockFileName, error);
  ASSERT_TRUE(held) << error;
  CliContext context;
  context.executableFolder = VELTORA_BIN_DIR;
  context.settingsLockWait = std::chrono::milliseconds(100);
  std::ostringstream out, err;
  EXPECT_EQ(RunCli({"--app-dir", app_, "settings", "set", "bakfilenum=9"}, context, out, err),
            kExitUsage);
  EXPECT_NE(err.str().find("您好，另一个保存设置的操作正在进行，请等它结束后再执行保存操作！"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(SettingsDatabase(app_).LoadSettings(), row);
}

// KEY=- takes a password from standard input, so that it never stands on a
// command line; with nothing to read, nothing is saved.
TEST_F(CliTest, PasswordsGivenAsDashComeFromStandardInput) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"B.AIS"}));
  WriteFile(accounts_ + "/B.AIS", "b");
  const auto settings = [&](const std::string& input, const std::string& assignment) {
    const std::string command =
        "printf %s " + testing::ShellQuoted(input) + " | " +
        testing::ShellQuoted(std::string(VELTORA_BIN_DIR) + "/veltora-cli") + " --app-dir " +
        testing::ShellQuoted(app_) + " settings set localuser=me " + assignment + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(settings("s\"hare pw\n", "remotepwd=-"), kExitOk);
  EXPECT_EQ(settings("it's\r\n", "rarpwd=-"), kExitOk);
  const BaksetRow row = SettingsDatabase(app_).LoadSettings();
  EXPECT_EQ(row.remotepwd, "s\"hare pw");
  EXPECT_EQ(row.rarpwd, "it's");

  EXPECT_EQ(settings("", "sqlpwd=-"), kExitUsage);
  EXPECT_EQ(SettingsDatabase(app_).LoadSettings(), row);
  const auto inProcess = Cli({"--app-dir", app_, "settings", "set", "localpwd=-"});
  EXPECT_EQ(inProcess.code, kExitUsage);
  EXPECT_NE(inProcess.err.find("no password read from standard input"), std::string::npos)
      << inProcess.err;
}

// autostart=true/false is the window's start-with-the-machine box: on Linux
// the agent's unit enabled or disabled through the systemctl on the PATH (here
// one that keeps the unit's state in a file and refuses while "refuse" exists),
// at once and without a save; `show` reports the registration.
TEST_F(CliTest, AutostartEnablesTheAgentsUnit) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({"A.AIS"}));
  const std::string bin = dir_ / "bin";
  fs::create_directories(bin);
  WriteFile(bin + "/systemctl",
            "#!/bin/sh\ncd " + testing::ShellQuoted(dir_.str()) +
                " || exit 9\n"
                "echo \"$*\" >> calls\n"
                "case \"$1\" in\n"
                "  enable) [ -e refuse ] && exit 1; echo enabled > state ;;\n"
                "  disable) [ -e refuse ] && exit 1; echo disabled > state ;;\n"
                "  is-enabled) cat state 2>/dev/null; [ \"$(cat state)\" = enabled ] ;;\n"
                "esac\n");
  fs::permissions(bin + "/systemctl", fs::perms::owner_all);
  const std::string path = bin + ":/usr/bin:/bin";
  const auto shown = [&] { return Cli({"--app-dir", app_, "settings", "show"}, "", path).out; };

  struct Step {
    const char* name;
    const char* value;
    bool refuse;
    int code;
    const char* shownLine;
    const char* warning;  // on standard error, or null
  } steps[] = {
      {"enable", "autostart=true", false, kExitOk, "autostart=true\n", nullptr},
      {"disable refused", "autostart=false", true, 1, "autostart=true\n",
       "取消自动运行失败，下次应用程序仍然会自动运行！"},
      {"disable", "autostart=false", false, kExitOk, "autostart=false\n", nullptr},
      {"enable refused", "autostart=true", true, 1, "autostart=false\n",
       "写入自动运行失败，下次应用程序将不会自动运行！"},
      {"not a switch", "autostart=maybe", false, kExitUsage, "autostart=false\n", nullptr},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.refuse) WriteFile(dir_ / "refuse", "");
    const auto r = Cli({"--app-dir", app_, "settings", "set", step.value}, "", path);
    fs::remove(dir_ / "refuse");
    EXPECT_EQ(r.code, step.code) << r.err;
    if (step.warning != nullptr) {
      EXPECT_NE(r.err.find(step.warning), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("veltora.service"), std::string::npos) << r.err;
    }
    EXPECT_NE(shown().find(step.shownLine), std::string::npos) << shown();
  }
  EXPECT_NE(ReadFile(dir_ / "calls").find("enable veltora.service\n"), std::string::npos);
}

// "立即备份" without any chosen account set: the window's message, nothing
// runs, a configuration error.
TEST_F(CliTest, BackupWithoutChosenAccountSetsSaysSo) {
  ASSERT_NO_FATAL_FAILURE(ConfigureFileEdition({}));
  const auto r = Cli({"--app-dir", app_, "backup"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_NE(r.err.find("您好，程序缺乏相关的配置信息，无法进行数据库的备份操作"), std::string::npos)
      << r.err;
  EXPECT_TRUE(fs::is_empty(backups_));
}

}  // namespace
}  // namespace veltora
