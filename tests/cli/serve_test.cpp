// `veltora-cli serve` as a process: its clock moved by libfaketime from a file,
// its waits real, stopped by signals as the service manager stops it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "settings/settings_database.h"
#include "support/fake_systemctl.h"
#include "support/other_user_posix.h"
#include "support/temp_dir.h"

extern char** environ;

namespace veltora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FilesIn;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr char kStarted[] = "程序启动成功！";
constexpr char kRunStarted[] = "备份线程开始执行备份操作！";
constexpr char kRunSucceeded[] = "备份线程成功执行了备份操作！";
constexpr char kEndRefused[] = "操作系统试图退出，但数据库备份线程正在运行，禁止退出！";
constexpr char kForcedClose[] = "由于系统退出，程序被迫关闭！";
constexpr const char* kStopLines[] = {"服务停止成功！", "程序停止成功！", "解除进程保护成功！"};

// Polls `condition` every 50 ms until it holds or `limit` has passed.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 60s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
}

// libfaketime as the Debian package installs it; the thread-safe build, since
// the agent runs a guard and a backup thread beside its loop.
std::optional<std::string> FakeTimeLibrary() {
  for (const char* path : {"/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1",
                           "/usr/lib/aarch64-linux-gnu/faketime/libfaketimeMT.so.1",
                           "/usr/lib/faketime/libfaketimeMT.so.1"})
    if (fs::exists(path)) return std::string(path);
  return std::nullopt;
}

// One `veltora-cli serve` child (or another command). Its standard error goes
// to a file; it is killed at the end of the test if it is still running.
class Agent {
 public:
  Agent(const std::string& appFolder, const std::string& errFile,
        const std::vector<std::string>& extraEnvironment,
        const std::string& exe = std::string(VELTORA_BIN_DIR) + "/veltora-cli",
        const std::string& command = "serve")
      : errFile_(errFile) {
    // The test's environment with the extra variables in place of their
    // namesakes (the first of two equal names would win).
    std::vector<std::string> env = extraEnvironment;
    auto overridden = [&](const std::string& entry) {
      for (const auto& extra : extraEnvironment)
        if (entry.substr(0, entry.find('=') + 1) == extra.substr(0, extra.find('=') + 1))
          return true;
      return false;
    };
    for (char** e = environ; *e != nullptr; ++e)
      if (!overridden(*e)) env.emplace_back(*e);
    std::vector<std::string> args = {exe, "--app-dir", appFolder, command};
    pid_ = ::fork();
    if (pid_ == 0) {
      const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int null = ::open("/dev/null", O_RDWR);
      if (err < 0 || null < 0) ::_exit(127);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(err, 2);
      std::vector<char*> argv, envp;
      for (auto& a : args) argv.push_back(a.data());
      for (auto& e : env) envp.push_back(e.data());
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      ::execve(exe.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
  }
  ~Agent() {
    if (Running()) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  bool Running() {
    if (exitStatus_ || pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) exitStatus_ = status;
    return !exitStatus_;
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  // The exit code once it has ended by itself within `limit`.
  std::optional<int> ExitCode(std::chrono::milliseconds limit = 60s) {
    if (!WaitUntil([this] { return !Running(); }, limit) || !exitStatus_ ||
        !WIFEXITED(*exitStatus_))
      return std::nullopt;
    return WEXITSTATUS(*exitStatus_);
  }
  std::string Err() const { return ReadFile(errFile_); }

 private:
  std::string errFile_;
  pid_t pid_ = -1;
  std::optional<int> exitStatus_;
};

class ServeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(app_);
    fs::create_directories(accounts_);
    fs::create_directories(backups_);
    InstallSettingsDatabase(std::string(VELTORA_BIN_DIR) + "/Setlog.dll", app_);
    WriteFile(accounts_ + "/A.AIS", "ledger");
  }

  // File edition, A.AIS ticked, the local folder only, compression off, one
  // day between backups at 01:31.
  void Configure(const std::function<void(BaksetRow&)>& change = {}, bool ticked = true) {
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.softvernum = 0;
    row.accountDir = accounts_;
    row.localDir = backups_;
    row.localbak = true;
    row.remotebak = false;
    row.rarlevel = "不压缩";
    row.baktime = "01:31:00";
    row.btwdays = 1;
    row.bakfilenum = 0;
    if (change) change(row);
    db.SaveSettings(row);
    db.RewriteAccountList(ticked ? std::vector<AccountListRow>{{"", "A.AIS", "A.AIS"}}
                                 : std::vector<AccountListRow>{});
  }

  // Sets the agent's clock: frozen at `localTime` ("yyyy-mm-dd hh:mm:ss")
  // until the next call. The file is replaced in one rename: libfaketime
  // reads it at every clock call and takes an empty file for the real time.
  void SetClock(const std::string& localTime) {
    WriteFile(clockFile_ + ".new", localTime + "\n");
    fs::rename(clockFile_ + ".new", clockFile_);
  }

  // An agent whose clock reads the clock file. Stat is left real, so that
  // file times (the settings file the agent watches, the log's age) are true.
  std::unique_ptr<Agent> StartFakedAgent(const std::string& localTime,
                                         std::vector<std::string> environment = {}) {
    const auto library = FakeTimeLibrary();
    if (!library) return nullptr;
    SetClock(localTime);
    environment.insert(environment.end(),
                       {"LD_PRELOAD=" + *library, "FAKETIME_TIMESTAMP_FILE=" + clockFile_,
                        "FAKETIME_NO_CACHE=1", "FAKETIME_DONT_FAKE_MONOTONIC=1", "NO_FAKE_STAT=1"});
    return StartAgent(std::move(environment));
  }
  std::unique_ptr<Agent> StartAgent(const std::vector<std::string>& environment = {}) {
    return std::make_unique<Agent>(app_, dir_ / ("agent" + std::to_string(++agents_) + ".err"),
                                   environment);
  }

  // The processes whose command line names the backup folder: the archiver
  // and the command file's shell while they pack this test's backups.
  std::vector<int> ArchiverProcesses() const {
    std::vector<int> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::string commandLine;
      try {
        commandLine = ReadFile(entry.path() / "cmdline");
      } catch (const std::exception&) {
        continue;  // gone meanwhile
      }
      if (commandLine.find(backups_) != std::string::npos) found.push_back(std::stoi(name));
    }
    return found;
  }

  // The next-backup line of `veltora-cli settings show` under the clock file.
  std::string ShownNextBackup() const {
    const auto library = FakeTimeLibrary();
    if (!library) return "";
    const std::string command =
        "LD_PRELOAD=" + testing::ShellQuoted(*library) +
        " FAKETIME_TIMESTAMP_FILE=" + testing::ShellQuoted(clockFile_) +
        " FAKETIME_NO_CACHE=1 NO_FAKE_STAT=1 " +
        testing::ShellQuoted(std::string(VELTORA_BIN_DIR) + "/veltora-cli") + " --app-dir " +
        testing::ShellQuoted(app_) + " settings show 2>/dev/null";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
      ::pclose(pipe);
    }
    const auto at = out.find("下次备份时间:");
    return at == std::string::npos ? out : out.substr(at, out.find('\n', at) - at);
  }

  std::string RunLog() const { return ReadFile(app_ + "/程序运行日志.txt"); }
  int Count(const std::string& text) const {
    const std::string log = RunLog();
    int n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  bool Logged(const std::string& text) const { return Count(text) > 0; }
  std::vector<std::string> Backups() const { return FilesIn(backups_); }

  TempDir dir_;
  std::string app_ = dir_ / "app";
  std::string accounts_ = dir_ / "accounts";
  std::string backups_ = dir_ / "backups";
  std::string clockFile_ = dir_ / "clock";
  int agents_ = 0;
};

#define START_FAKED_AGENT(agent, ...)                                                            \
  auto agent = StartFakedAgent(__VA_ARGS__);                                                     \
  if (!agent) VELTORA_SKIP_OR_FAIL("libfaketime is not installed (package faketime)");           \
  ASSERT_TRUE(WaitUntil([&] { return Logged(kStarted) || !agent->Running(); })) << agent->Err(); \
  ASSERT_TRUE(agent->Running()) << agent->Err()

TEST_F(ServeTest, OneBackupPerDayAtTheSetMinuteThenStopsOnSigterm) {
  ASSERT_NO_FATAL_FAILURE(Configure());
  START_FAKED_AGENT(agent, "2026-12-11 01:29:00");

  for (const char* day : {"2026-12-11", "2026-12-12", "2026-12-13"}) {
    SCOPED_TRACE(day);
    const std::string stamp = std::string(day).substr(0, 4) + std::string(day).substr(5, 2) +
                              std::string(day).substr(8, 2) + "0131";
    const std::size_t before = Backups().size();
    // The minute before: nothing.
    SetClock(std::string(day) + " 01:30:00");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Backups().size(), before);
    // The set minute, its first tick and later ones: one backup, stamped then.
    // (The run's last line, not the file: a copy appears under a temporary
    // name first.)
    SetClock(std::string(day) + " 01:31:00");
    ASSERT_TRUE(WaitUntil([&] { return Count(kRunSucceeded) == static_cast<int>(before) + 1; }))
        << agent->Err() << RunLog();
    std::this_thread::sleep_for(2500ms);
    SetClock(std::string(day) + " 01:31:40");
    std::this_thread::sleep_for(2500ms);
    const auto files = Backups();
    ASSERT_EQ(files.size(), before + 1) << ::testing::PrintToString(files);
    EXPECT_EQ(files.back(), "A" + stamp + "00.bak");
    EXPECT_EQ(Count(kRunSucceeded), static_cast<int>(before) + 1);
    EXPECT_TRUE(agent->Running()) << agent->Err();
  }

  agent->Signal(SIGTERM);
  EXPECT_EQ(agent->ExitCode(), kExitOk) << agent->Err();
  const std::string log = RunLog();
  auto at = log.find(kForcedClose);
  EXPECT_NE(at, std::string::npos) << log;
  for (const char* line : kStopLines) {
    SCOPED_TRACE(line);
    at = log.find(line, at);
    EXPECT_NE(at, std::string::npos) << log;
  }
  EXPECT_EQ(Count(kRunSucceeded), 3);
  EXPECT_EQ(SettingsDatabase(app_).ListBackupLog().size(), 3u);
}

// The clock jumps over the set minute (the machine slept through it): one
// catch-up backup at once, stamped then, with its lines ahead of the run's;
// then the set minute of each following day, as if nothing had happened.
TEST_F(ServeTest, AMissedMinuteIsMadeUpOnceAndTheScheduleGoesOn) {
  ASSERT_NO_FATAL_FAILURE(Configure());
  START_FAKED_AGENT(agent, "2026-12-11 01:30:00");
  const std::string missed = "未能按时执行2026-12-11 01:31:00的定时备份！";
  const std::string catchUp = "开始补做2026-12-11 01:31:00的定时备份！";

  SetClock("2026-12-11 01:33:00");
  ASSERT_TRUE(WaitUntil([&] { return Count(kRunSucceeded) == 1; })) << agent->Err() << RunLog();
  const std::string log = RunLog();
  ASSERT_NE(log.find(missed), std::string::npos) << log;
  EXPECT_LT(log.find(missed), log.find(catchUp)) << log;
  EXPECT_LT(log.find(catchUp), log.find(kRunStarted)) << log;
  // The time `settings show` gives is the agent's next start.
  EXPECT_EQ(ShownNextBackup(), "下次备份时间:2026-12-12 01:31:00");

  for (int day = 12; day <= 14; ++day) {
    SetClock("2026-12-" + std::to_string(day) + " 01:31:00");
    ASSERT_TRUE(WaitUntil([&] { return Count(kRunSucceeded) == day - 10; }))
        << day << agent->Err() << RunLog();
  }
  std::this_thread::sleep_for(2500ms);  // the minute goes on: no second start
  EXPECT_EQ(Backups(), (std::vector<std::string>{"A20261211013300.bak", "A20261212013100.bak",
                                                 "A20261213013100.bak", "A20261214013100.bak"}));
  EXPECT_EQ(Count(kRunSucceeded), 4);
  EXPECT_EQ(Count(missed), 1);
  EXPECT_EQ(Count(catchUp), 1);
  agent->Signal(SIGTERM);
  EXPECT_EQ(agent->ExitCode(), kExitOk) << agent->Err();
}

// A backup made while the clock ran 400 days ahead stores a last backup time
// on a day still to come. An agent started once the clock is right says it
// does not believe that time, makes nothing up, and backs up at the next set
// minute rather than 400 days later.
TEST_F(ServeTest, ALastBackupUnderAClockAheadDoesNotHoldUpTheSchedule) {
  ASSERT_NO_FATAL_FAILURE(Configure());
  {
    START_FAKED_AGENT(ahead, "2028-01-15 01:30:59");
    SetClock("2028-01-15 01:31:00");
    ASSERT_TRUE(WaitUntil([&] { return Logged(kRunSucceeded); })) << ahead->Err() << RunLog();
    ahead->Signal(SIGTERM);
    ASSERT_EQ(ahead->ExitCode(), kExitOk) << ahead->Err();
  }

  SetClock("2026-12-11 10:00:00");
  EXPECT_EQ(ShownNextBackup(), "下次备份时间:2026-12-12 01:31:00");
  const int startsBefore = Count(kStarted);
  auto agent = StartFakedAgent("2026-12-11 10:00:00");
  ASSERT_TRUE(WaitUntil([&] { return Count(kStarted) > startsBefore || !agent->Running(); }));
  ASSERT_TRUE(WaitUntil([&] {
    return Logged(
        "上次备份时间2028-01-15 01:31:00晚于当前时间，系统时间可能有误，"
        "定时备份改按当前时间安排！");
  })) << agent->Err()
      << RunLog();
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(Count(kRunSucceeded), 1);

  SetClock("2026-12-12 01:31:00");
  ASSERT_TRUE(WaitUntil([&] { return Count(kRunSucceeded) == 2; })) << agent->Err() << RunLog();
  EXPECT_EQ(Backups(), (std::vector<std::string>{"A20261212013100.bak", "A20280115013100.bak"}));
  agent->Signal(SIGTERM);
  EXPECT_EQ(agent->ExitCode(), kExitOk) << agent->Err();
}

// The agent follows a save made by another process while it serves: here the
// first account set is ticked and the time changed, and the next minute of
// the new time backs up.
TEST_F(ServeTest, FollowsSettingsSavedByAnotherProcess) {
  ASSERT_NO_FATAL_FAILURE(Configure([](BaksetRow& row) { row.baktime = "03:00:00"; }, false));
  START_FAKED_AGENT(agent, "2026-12-11 01:29:00");
  EXPECT_NE(agent->Err().find("您好，您尚未进行备份设置，请进行相关的设置！"), std::string::npos)
      << agent->Err();

  ASSERT_NO_FATAL_FAILURE(Configure());
  std::this_thread::sleep_for(2500ms);  // a tick or two to see the change
  SetClock("2026-12-11 01:31:00");
  ASSERT_TRUE(WaitUntil([&] { return Logged(kRunSucceeded); })) << agent->Err() << RunLog();
  EXPECT_EQ(Backups(), std::vector<std::string>{"A20261211013100.bak"});
  agent->Signal(SIGINT);
  EXPECT_EQ(agent->ExitCode(), kExitOk) << agent->Err();
}

// The end of the session during a backup: refused with its line, the backup
// ends as it would have, and the agent then stops by itself with the stop
// lines, without a second signal. The archive of 32 MiB of random bytes at
// the best compression takes a few seconds.
TEST_F(ServeTest, SigtermDuringABackupWaitsForItsEnd) {
  ASSERT_NO_FATAL_FAILURE(Configure([](BaksetRow& row) { row.rarlevel = "最好"; }));
  WriteFile(accounts_ + "/A.AIS", testing::Incompressible(32 << 20, 11));
  START_FAKED_AGENT(agent, "2026-12-11 01:30:50");

  SetClock("2026-12-11 01:31:00");
  ASSERT_TRUE(WaitUntil([&] { return Logged(kRunStarted); })) << agent->Err();
  agent->Signal(SIGTERM);
  ASSERT_TRUE(WaitUntil([&] { return Logged(kEndRefused); })) << RunLog();
  EXPECT_FALSE(Logged(kRunSucceeded)) << "the backup was over before the signal";

  EXPECT_EQ(agent->ExitCode(180s), kExitOk) << agent->Err();
  const std::string log = RunLog();
  auto at = log.find(kEndRefused);
  for (const char* line :
       {kRunSucceeded, kForcedClose, kStopLines[0], kStopLines[1], kStopLines[2]}) {
    SCOPED_TRACE(line);
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << log;
  }
  EXPECT_EQ(Backups(), std::vector<std::string>{"A20261211013100.7z"});
}

// The archiver cannot outlive the program that started it: an agent or a
// `veltora-cli backup` killed outright during the compression takes it along.
TEST_F(ServeTest, AKilledAgentOrBackupLeavesNoArchiverRunning) {
  ASSERT_NO_FATAL_FAILURE(Configure([](BaksetRow& row) { row.rarlevel = "最好"; }));
  WriteFile(accounts_ + "/A.AIS", testing::Incompressible(64 << 20, 11));
  for (const std::string command : {"serve", "backup"}) {
    SCOPED_TRACE(command);
    std::unique_ptr<Agent> started;
    if (command == "serve") {
      START_FAKED_AGENT(served, "2026-12-11 01:30:50");
      SetClock("2026-12-11 01:31:00");
      started = std::move(served);
    } else {
      started = std::make_unique<Agent>(app_, dir_ / "backup.err", std::vector<std::string>{},
                                        std::string(VELTORA_BIN_DIR) + "/veltora-cli", command);
    }
    Agent& agent = *started;
    ASSERT_TRUE(WaitUntil([&] { return !ArchiverProcesses().empty() || !agent.Running(); }))
        << agent.Err() << RunLog();
    ASSERT_TRUE(agent.Running()) << agent.Err() << RunLog();
    agent.Signal(SIGKILL);
    EXPECT_FALSE(agent.ExitCode(5s)) << "killed, no exit code";
    EXPECT_TRUE(WaitUntil([&] { return ArchiverProcesses().empty(); }, 2s))
        << ::testing::PrintToString(ArchiverProcesses());
  }
}

// A refused start says why and ends at once with the exit status the service
// unit does not restart, writing nothing: a second agent on the folder (the
// first goes on), and an executable whose path holds a blank.
TEST_F(ServeTest, RefusedStartsEndAtOnceTouchingNothing) {
  ASSERT_NO_FATAL_FAILURE(Configure());
  auto first = StartAgent();
  ASSERT_TRUE(WaitUntil([&] { return Logged(kStarted) || !first->Running(); })) << first->Err();
  // The first agent's own first tick: no complete backup yet, its alarm line.
  ASSERT_TRUE(WaitUntil([&] { return Logged("警告：以下账套已经很久没有完整的备份"); }))
      << RunLog();
  const std::string logBefore = RunLog();

  auto second = StartAgent();
  EXPECT_EQ(second->ExitCode(), kExitRefused);
  EXPECT_NE(second->Err().find("您好，程序已经运行，无需重复运行！"), std::string::npos)
      << second->Err();
  EXPECT_EQ(RunLog(), logBefore);
  EXPECT_TRUE(first->Running());
  first->Signal(SIGTERM);
  EXPECT_EQ(first->ExitCode(), kExitOk) << first->Err();

  // The same executable under a path with a blank (a hard link, or a copy
  // across file systems: the path it is started by is the one it sees), on a
  // folder no agent serves.
  const std::string blankFolder = dir_ / "with blank";
  fs::create_directories(blankFolder);
  std::error_code linkError;
  fs::create_hard_link(std::string(VELTORA_BIN_DIR) + "/veltora-cli", blankFolder + "/veltora-cli",
                       linkError);
  if (linkError)
    fs::copy_file(std::string(VELTORA_BIN_DIR) + "/veltora-cli", blankFolder + "/veltora-cli");
  const std::string logAfterFirst = RunLog();
  Agent blank(app_, dir_ / "blank.err", {}, blankFolder + "/veltora-cli");
  EXPECT_EQ(blank.ExitCode(), kExitRefused);
  EXPECT_NE(blank.Err().find("您好，由于本软件要用到DOS命令，文件夹路径不要包含空格"),
            std::string::npos)
      << blank.Err();
  EXPECT_EQ(RunLog(), logAfterFirst);

  EXPECT_NE(ReadFile(std::string(VELTORA_SOURCE_DIR) + "/resources/veltora.service")
                .find("\nRestartPreventExitStatus=" + std::to_string(kExitRefused) + "\n"),
            std::string::npos);
}

// A settings file that goes while the agent serves is a fault the agent rides
// out: it says so once, keeps its settings, and takes the file up again once it
// is back; the next backup then runs.
TEST_F(ServeTest, SettingsDeletedWhileServingAreTakenUpAgainWhenBack) {
  constexpr char kUnreadable[] = "设置数据库无法读取，程序继续使用已读取的设置运行";
  constexpr char kReadAgain[] = "设置数据库已恢复正常，程序已重新读取设置！";
  ASSERT_NO_FATAL_FAILURE(Configure());
  START_FAKED_AGENT(agent, "2026-12-11 01:29:00");
  const std::string settings = app_ + "/Setlog.dll";
  fs::rename(settings, dir_ / "Setlog.aside");
  ASSERT_TRUE(WaitUntil([&] { return Logged(kUnreadable); }, 10s)) << agent->Err() << RunLog();
  std::this_thread::sleep_for(3s);
  EXPECT_TRUE(agent->Running()) << agent->Err();
  EXPECT_EQ(Count(kUnreadable), 1) << "said once, not every tick";

  fs::rename(dir_ / "Setlog.aside", settings);
  ASSERT_TRUE(WaitUntil([&] { return Logged(kReadAgain); }, 10s)) << agent->Err() << RunLog();
  SetClock("2026-12-11 01:31:00");
  ASSERT_TRUE(WaitUntil([&] { return Logged(kRunSucceeded); })) << agent->Err() << RunLog();
  EXPECT_EQ(Backups(), std::vector<std::string>{"A20261211013100.bak"});
  agent->Signal(SIGTERM);
  EXPECT_EQ(agent->ExitCode(), kExitOk) << agent->Err();
}

// An application folder that is missing (a disk mounted late) is a fault the
// service manager retries, not a second agent.
TEST_F(ServeTest, AMissingApplicationFolderIsAFaultNotARefusal) {
  Agent agent(dir_ / "missing", dir_ / "missing.err", {});
  EXPECT_EQ(agent.ExitCode(), kExitFault);
  EXPECT_EQ(agent.Err().find("您好，程序已经运行，无需重复运行！"), std::string::npos)
      << agent.Err();
  EXPECT_NE(agent.Err().find("cannot open the lock file"), std::string::npos) << agent.Err();
}

// Another user plants a link as the instance lock of a folder everyone may
// write: the agent says what is wrong and ends with the code the service
// manager retries, not "already running"; the link's target is untouched.
// Once the link is gone, the agent starts.
TEST_F(ServeTest, ALinkPlantedAsTheInstanceLockIsAFaultWithItsOwnMessage) {
  ASSERT_NO_FATAL_FAILURE(Configure());
  ASSERT_EQ(::chmod(app_.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir_.str().c_str(), 0755), 0);
  const std::string victim = dir_ / "victim";
  WriteFile(victim, "secret\n");
  ASSERT_EQ(::chmod(victim.c_str(), 0444), 0);
  const std::string lock = app_ + "/veltora.lock";
  ASSERT_TRUE(testing::AsOtherUser([&] { return ::symlink(victim.c_str(), lock.c_str()) == 0; }));

  auto refused = StartAgent();
  EXPECT_EQ(refused->ExitCode(), kExitFault);
  EXPECT_NE(refused->Err().find("锁文件veltora.lock不是本程序的锁文件（可能是他人放置的链接或文件，"
                                "请删除它），程序无法启动！"),
            std::string::npos)
      << refused->Err();
  EXPECT_EQ(refused->Err().find("您好，程序已经运行，无需重复运行！"), std::string::npos);
  EXPECT_EQ(ReadFile(victim), "secret\n");
  EXPECT_EQ(fs::status(victim).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  fs::remove(lock);
  auto agent = StartAgent();
  ASSERT_TRUE(WaitUntil([&] { return Logged(kStarted) || !agent->Running(); })) << agent->Err();
  agent->Signal(SIGTERM);
  EXPECT_EQ(agent->ExitCode(), kExitOk) << agent->Err();
}

// With the guard option on, a stopped SQL Server is started by the guard the
// agent starts with itself.
TEST_F(ServeTest, GuardStartsAStoppedSqlServer) {
  ASSERT_NO_FATAL_FAILURE(Configure([](BaksetRow& row) { row.safecheck = true; }));
  testing::FakeSystemctl systemctl;
  systemctl.SetUnit("mssql-server", "inactive", "running", "SQL Server Database Engine");
  auto agent = StartAgent({"PATH=" + systemctl.searchPath()});
  ASSERT_TRUE(WaitUntil([&] { return Logged(kStarted) || !agent->Running(); })) << agent->Err();
  const auto started = std::vector<std::string>{"--no-block start -- mssql-server.service"};
  EXPECT_TRUE(WaitUntil([&] { return systemctl.Controls() == started; }, 5s))
      << ::testing::PrintToString(systemctl.Calls());
  agent->Signal(SIGTERM);
  EXPECT_EQ(agent->ExitCode(), kExitOk) << agent->Err();
}

}  // namespace
}  // namespace veltora
