// The backup job on its worst days: faults injected while it runs, against
// the real 7-Zip, real folders and a real Samba share. Each case asserts that
// no good backup was lost (every archive that tested good before the fault
// still tests good, on each side), that no broken or partial file stands under
// a backup's final name, and that the summary (the command line's exit code)
// and the rows tell the truth. Faults start when the file being written has
// reached a size, never after a sleep.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "base/path.h"
#include "engine/backup_job.h"
#include "engine/compression_stage.h"
#include "settings/settings_database.h"
#include "settings/sqlite_backup_records.h"
#include "sqlserver/standin_sql_server.h"
#include "support/backup_services.h"
#include "support/fakes.h"
#include "support/job_fixture.h"
#include "support/other_user_posix.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::FilesIn;
using testing::FreezeTestSambaServer;
using testing::Incompressible;
using testing::KillTestSambaServer;
using testing::ReadFile;
using testing::ShellQuoted;
using testing::TempDir;
using testing::WriteFile;

constexpr char kPassword[] = "k&y'1";

// 7-Zip's verdict on an archive with the password.
bool TestsGood(const std::string& archive, const std::string& password = kPassword) {
  const std::string line = "printf '%s\\n' " + ShellQuoted(password) + " | 7zz t -spd -- " +
                           ShellQuoted(archive) + " >/dev/null 2>&1";
  return std::system(line.c_str()) == 0;
}

// The single file an archive holds, extracted.
std::string Extracted(const std::string& archive) {
  TempDir out;
  const std::string line = "printf '%s\\n' " + ShellQuoted(kPassword) + " | 7zz e -spd -y -o" +
                           ShellQuoted(out.str()) + " -- " + ShellQuoted(archive) +
                           " >/dev/null 2>&1";
  if (std::system(line.c_str()) != 0) return "(extraction failed)";
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(out.path())) files.push_back(e.path());
  return files.size() == 1 ? ReadFile(files[0].string()) : "(not exactly one file)";
}

// Watches a folder from a thread of its own and runs `action` once, as soon as
// a file for which `wanted` holds has reached `size` bytes.
class Trigger {
 public:
  Trigger(std::string folder, std::function<bool(const std::string&)> wanted, std::uintmax_t size,
          std::function<void(const std::string&)> action)
      : thread_([=, this] {
          while (!stop_) {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(folder, ec)) {
              const std::string name = e.path().filename().string();
              if (wanted(name) && e.file_size(ec) >= size && !ec) {
                action(e.path().string());
                fired_ = true;
                return;
              }
            }
            std::this_thread::yield();
          }
        }) {}
  ~Trigger() {
    stop_ = true;
    thread_.join();
  }
  bool fired() const { return fired_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

// Sends `signal` to every process whose command line mentions `text`.
void SignalProcessesMentioning(const std::string& text, int signal) {
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string pid = e.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)), {});
    if (cmdline.find(text) != std::string::npos && std::stoi(pid) != ::getpid())
      ::kill(std::stoi(pid), signal);
  }
}

bool IsTemporary(const std::string& name) { return IsTemporaryCopyName(name); }

// A tmpfs of `size` mounted on `folder` for one test.
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, const std::string& size) : folder_(folder) {
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// Fails every backup-table insert: a settings database that stays locked.
class LockedRecords final : public BackupRecordsFactory {
 public:
  std::unique_ptr<BackupRecords> Create() const override {
    struct Locked final : BackupRecords {
      void Open() override {}
      void Close() noexcept override {}
      void InsertFolderFailure(std::string_view, std::string_view) override { Fail(); }
      void InsertLocalResult(std::string_view, std::string_view, std::string_view, bool) override {
        Fail();
      }
      void InsertRemoteCopy(std::string_view, std::string_view, std::string_view) override {
        Fail();
      }
      void InsertRemoteFailure(std::string_view) override { Fail(); }
      void RecordOwnArchive(ArchiveSide, std::string_view, std::string_view,
                            std::string_view) override {
        Fail();
      }
      void ForgetOwnArchive(ArchiveSide, std::string_view, std::string_view) override { Fail(); }
      OwnArchives ListOwnArchives(ArchiveSide, std::string_view) override {
        Fail();
        return {};
      }
      void RecordDigests(ArchiveSide, std::string_view, std::string_view, std::string_view,
                         const BackupDigests&) override {
        Fail();
      }
      void MakeSpareCopy() noexcept override {}
      static void Fail() { throw std::runtime_error("database is locked"); }
    };
    return std::make_unique<Locked>();
  }
};

class FaultTest : public job_test::JobFixture {
 protected:
  void SetUp() override {
    if (std::system("command -v 7zz >/dev/null") != 0)
      VELTORA_SKIP_OR_FAIL("7-Zip (Debian package 7zip, command 7zz) is not installed");
  }

  bool Logged(const std::string& line) const {
    const auto lines = log_.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  // The share, emptied; only for the cases that need it.
  const testing::SambaShare* Share() {
    std::string whyNot;
    const testing::SambaShare* share = testing::TestSambaServer(whyNot);
    if (share != nullptr)
      for (const auto& e : fs::directory_iterator(share->localFolder)) fs::remove_all(e.path());
    else
      ADD_FAILURE() << whyNot;
    return share;
  }

  BackupConfig Config(const std::vector<std::string>& names, int keep) const {
    BackupConfig c;
    c.caption = "caption";
    c.edition = 0;
    for (const auto& name : names) {
      c.accountSets.push_back({true, "", name, name});
      c.selectedAccountSets.push_back(name);
    }
    c.accountFolder = accounts();
    c.localFolder = backups();
    c.compressionLevel = 1;
    c.archivePassword = kPassword;
    c.keepCount = keep;
    return c;
  }

  void WithShare(BackupConfig& c, const testing::SambaShare& share,
                 const std::string& sub = "") const {
    c.remoteBackup = true;
    c.remoteFolder = share.sharePath + sub;
    c.remoteUser = share.user;
    c.remotePassword = share.password;
  }

  BackupRunSummary Run(const BackupConfig& config, const BackupRecordsFactory* records = nullptr,
                       ProgressListener progress = {}) {
    std::atomic<bool> configured{true};
    std::atomic<bool> running{false};
    std::string whyNot;
    const testing::SambaShare* share =
        config.remoteBackup ? testing::TestSambaServer(whyNot) : nullptr;
    BackupServices services = testing::TestBackupServices(
        log_, *clock_, sql_, records ? *records : records_, share ? share->port : 445);
    // Someone always listens, as on the command line: the archiver's output
    // then travels through a pipe, and the faults strike with it in place.
    services.progress = progress ? std::move(progress) : [](const ProgressReport&) {};
    services.applicationFolder = app();
    auto summary = BackupThreadProc(config, {configured, running}, services).value();
    clock_->Advance(std::chrono::hours(24));
    return summary;
  }

  // Every file of a folder that looks like a finished archive tests good, and
  // no temporary file is left.
  void ExpectOnlyGoodArchives(const std::string& folder) {
    for (const auto& name : FilesIn(folder)) {
      SCOPED_TRACE(folder + ": " + name);
      EXPECT_FALSE(IsTemporary(name)) << "a temporary file was left";
      if (name.ends_with(".7z")) {
        EXPECT_TRUE(TestsGood(JoinPath(folder, name)));
      }
    }
  }

  std::vector<BaklogRow> Rows() const { return SettingsDatabase(app()).ListBackupLog(); }
};

// Three account sets, one of them named "*": each archive holds exactly its
// own set's backup, and retention keeps two of each.
TEST_F(FaultTest, AWildcardNameIsJustAName) {
  std::map<std::string, std::vector<std::string>> contents;
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    const std::string stamp = BackupStamp(clock_->LocalNow());
    for (const char* base : {"*", "X", "Y"}) {
      const std::string content = std::string(base) + " ledger, run " + std::to_string(run);
      WriteFile(accounts() + "/" + base + ".AIS", content);
      contents[base].push_back(std::string(base) + stamp + ".7z|" + content);
    }
    const BackupConfig config = Config({"*.AIS", "X.AIS", "Y.AIS"}, 2);
    EXPECT_TRUE(Run(config).Complete(config));
  }
  std::vector<std::string> expected;
  for (const auto& [base, runs] : contents)
    for (std::size_t i = 1; i < runs.size(); ++i)
      expected.push_back(runs[i].substr(0, runs[i].find('|')));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(backups()), expected);
  for (const auto& [base, runs] : contents)
    for (std::size_t i = 1; i < runs.size(); ++i) {
      const std::string name = runs[i].substr(0, runs[i].find('|'));
      SCOPED_TRACE(name);
      EXPECT_EQ(Extracted(backups() + "/" + name), runs[i].substr(runs[i].find('|') + 1));
    }
}

// 7-Zip killed while it writes the archive: the run fails with a row that says
// so, the backup file stays for the next run, nothing takes the archive's
// name, and the earlier good archive is not pruned.
TEST_F(FaultTest, ArchiverKilledDuringCompression) {
  for (const int signal : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(signal == SIGKILL ? "SIGKILL" : "SIGTERM");
    for (const auto& e : fs::directory_iterator(backups())) fs::remove_all(e.path());
    WriteFile(accounts() + "/ACME.AIS", Incompressible(64 << 10, 1));
    const BackupConfig config = Config({"ACME.AIS"}, 1);
    ASSERT_TRUE(Run(config).Complete(config));
    const std::vector<std::string> before = FilesIn(backups());
    ASSERT_EQ(before.size(), 1u);

    WriteFile(accounts() + "/ACME.AIS", Incompressible(48 << 20, 2));
    log_.Clear();
    const std::string stamp = BackupStamp(clock_->LocalNow());
    BackupRunSummary summary;
    std::vector<int> packing;
    {
      // The archive's temporary file, once the backup file is complete.
      const std::string bak = backups() + "/ACME" + stamp + ".bak";
      Trigger kill(
          backups(), [&](const std::string& name) { return IsTemporary(name) && fs::exists(bak); },
          1 << 20, [&](const std::string& path) { SignalProcessesMentioning(path, signal); });
      summary = Run(config, nullptr, [&](const ProgressReport& r) {
        if (r.stage == ProgressStage::kCompression) packing.push_back(r.percent);
      });
      EXPECT_TRUE(kill.fired());
    }
    ASSERT_FALSE(packing.empty());
    EXPECT_NE(packing.back(), 100) << "a killed archiver's packing never completes";
    EXPECT_FALSE(summary.Complete(config));
    EXPECT_FALSE(Logged("执行RAR压缩批处理成功！"));
    EXPECT_EQ(FilesIn(backups()), (std::vector<std::string>{before[0], "ACME" + stamp + ".bak"}));
    EXPECT_TRUE(TestsGood(backups() + "/" + before[0]));
    const auto rows = Rows();
    ASSERT_GE(rows.size(), 1u);
    EXPECT_EQ(rows[0].localbakfile.rfind("压缩失败：", 0), 0u) << rows[0].localbakfile;
    EXPECT_EQ(rows[0].baksuccess, std::optional<bool>(false));
    EXPECT_EQ(rows[1].rarpwd, "") << "the backup itself has no password";
    EXPECT_EQ(log_.lines().back().rfind("备份线程执行完毕，但有1个账套", 0), 0u)
        << log_.lines().back();
  }
}

// The local disk fills while the backup file is written, then while its
// archive is written: the earlier archive stays good, no partial file takes a
// backup's name, and the run says it failed.
TEST_F(FaultTest, LocalDiskFullDuringTheCopyAndDuringCompression) {
  const SmallDisk disk(backups(), "6m");
  if (!disk.mounted()) VELTORA_SKIP_OR_FAIL("cannot mount a small tmpfs here (needs root)");
  WriteFile(accounts() + "/ACME.AIS", Incompressible(1 << 20, 3));
  const BackupConfig config = Config({"ACME.AIS"}, 1);
  ASSERT_TRUE(Run(config).Complete(config));
  const std::string first = FilesIn(backups()).at(0);

  // 3.5 MiB fits as a backup file, but not also as its archive.
  WriteFile(accounts() + "/ACME.AIS", Incompressible(3584 << 10, 4));
  log_.Clear();
  const std::string stamp = BackupStamp(clock_->LocalNow());
  EXPECT_FALSE(Run(config).Complete(config));
  EXPECT_EQ(FilesIn(backups()), (std::vector<std::string>{first, "ACME" + stamp + ".bak"}));
  EXPECT_TRUE(TestsGood(backups() + "/" + first));
  const std::string archiveRow = Rows().at(0).localbakfile;
  EXPECT_EQ(archiveRow.rfind("压缩失败：", 0), 0u);
  EXPECT_NE(archiveRow.find("No space left on device"), std::string::npos)
      << "the full disk is named: " << archiveRow;
  EXPECT_TRUE(
      Logged("执行RAR压缩批处理失败，压缩失败！导致失败可能的原因为：命令文件的退出代码为1，"
             "1个备份文件没有生成可用的压缩文件"));
  EXPECT_FALSE(Logged("执行RAR压缩批处理成功！"));

  // 8 MiB does not fit at all: the copy fails and leaves nothing behind.
  WriteFile(accounts() + "/ACME.AIS", Incompressible(8 << 20, 5));
  fs::remove(backups() + "/ACME" + stamp + ".bak");
  EXPECT_FALSE(Run(config).Complete(config));
  EXPECT_EQ(FilesIn(backups()), std::vector<std::string>{first});
  EXPECT_TRUE(TestsGood(backups() + "/" + first));
  const auto row = Rows().at(0);
  EXPECT_EQ(row.localbakfile.rfind("本机备份失败：", 0), 0u) << row.localbakfile;
  EXPECT_NE(row.localbakfile.find("No space left on device"), std::string::npos);
}

// Another local user may replace files in a folder that all may write
// without the sticky bit: the run says so once for each such folder, and its
// command file lies in a private folder of the agent instead.
TEST_F(FaultTest, FoldersOpenToOthersAreNamedAndTheCommandFileStaysPrivate) {
  WriteFile(accounts() + "/ACME.AIS", "ledger");
  const BackupConfig config = Config({"ACME.AIS"}, 0);
  const std::string warning = "允许其他用户放入、删除或替换文件";
  const auto warnings = [&] {
    const auto lines = log_.lines();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(warning) != std::string::npos;
    });
  };
  for (const auto& [mode, expected] :
       {std::pair{fs::perms::all, 1}, std::pair{fs::perms::all | fs::perms::sticky_bit, 0},
        std::pair{fs::perms::owner_all, 0}}) {
    log_.Clear();
    fs::permissions(backups(), mode);
    ASSERT_TRUE(Run(config).Complete(config));
    EXPECT_EQ(warnings(), expected) << static_cast<int>(mode);
    if (expected == 1) {
      EXPECT_TRUE(
          Logged("警告：文件夹" + backups() +
                 "允许其他用户放入、删除或替换文件（可写且没有粘滞位），"
                 "他人可能借此替换本程序使用的文件，请将其权限改为只有本程序的用户可以写入！"));
    }
  }
  const std::string privateFolder = app() + "/veltora-private";
  EXPECT_EQ(fs::status(privateFolder).permissions(), fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(privateFolder)) << "the command file goes with its run";
}

// Whether any process's command line or environment that this user can read
// holds `secret`. Plain system calls only: it runs in a forked child.
bool SeesSecret(const char* secret) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool seen = false;
  char buffer[65536];
  while (dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    for (const char* kind : {"cmdline", "environ"}) {
      char path[300];
      std::snprintf(path, sizeof(path), "/proc/%s/%s", e->d_name, kind);
      const int fd = ::open(path, O_RDONLY);
      if (fd < 0) continue;
      const ssize_t n = ::read(fd, buffer, sizeof(buffer) - 1);
      ::close(fd);
      if (n > 0 && ::memmem(buffer, static_cast<std::size_t>(n), secret, std::strlen(secret)))
        seen = true;
    }
  }
  ::closedir(proc);
  return seen;
}

// Another user keeps putting a script of their own under the command file's
// name in a backup folder that everyone may write, and keeps looking for the
// archive password in every process they can read, for the whole run: their
// script never runs, and they never see the password.
TEST_F(FaultTest, AnotherUsersSwapperNeverRunsAnythingNorSeesThePassword) {
  fs::permissions(backups(), fs::perms::all);
  WriteFile(accounts() + "/ACME.AIS", Incompressible(8 << 20, 7));
  const BackupConfig config = Config({"ACME.AIS"}, 0);
  const std::string planted = backups() + "/rarys.bat";
  const std::string staged = backups() + "/staged.bat";
  const std::string ran = backups() + "/swapped-script-ran";
  const std::string seen = backups() + "/password-seen";
  const std::string stop = backups() + "/stop";
  const std::string script = "touch '" + ran + "'\nexit 0\n";
  const pid_t swapper = ::fork();
  if (swapper == 0) {
    if (::geteuid() == 0 &&
        (::setgid(testing::kOtherUser) != 0 || ::setuid(testing::kOtherUser) != 0))
      ::_exit(2);
    for (int round = 0; round < 200000 && ::access(stop.c_str(), F_OK) != 0; ++round) {
      const int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0777);
      if (fd >= 0) {
        (void)!::write(fd, script.data(), script.size());
        ::close(fd);
        ::rename(staged.c_str(), planted.c_str());
      }
      if (round % 50 == 0 && SeesSecret(kPassword))
        ::close(::open(seen.c_str(), O_CREAT | O_WRONLY, 0666));
      ::usleep(1000);
    }
    ::_exit(0);
  }
  ASSERT_GT(swapper, 0);
  const BackupRunSummary summary = Run(config);
  WriteFile(stop, "");
  int status = 0;
  ASSERT_EQ(::waitpid(swapper, &status, 0), swapper);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the swapper ran as planned";
  EXPECT_TRUE(summary.Complete(config)) << ::testing::PrintToString(log_.lines());
  EXPECT_FALSE(fs::exists(ran)) << "a script of another user ran as the agent";
  EXPECT_FALSE(fs::exists(seen)) << "another user saw the archive password";
}

// A backup file an earlier run left, whose archive fails again (its name is
// taken by a folder): this run's own backup is complete, but the set fell
// short, and the run says so.
TEST_F(FaultTest, ALeftoverThatFailsAgainCountsAsAShortSet) {
  WriteFile(accounts() + "/ACME.AIS", "ledger");
  WriteFile(backups() + "/ACME20200101000000.bak", "old ledger");
  fs::create_directories(backups() + "/ACME20200101000000.7z");
  const BackupConfig config = Config({"ACME.AIS"}, 0);
  const BackupRunSummary summary = Run(config);
  EXPECT_EQ(summary.CompleteSets(config), 0);
  EXPECT_FALSE(summary.Complete(config));
  EXPECT_TRUE(fs::exists(backups() + "/ACME20200101000000.bak")) << "kept for a later run";
  EXPECT_EQ(log_.lines().back().rfind("备份线程执行完毕，但有1个账套", 0), 0u)
      << log_.lines().back();
}

// Rows that cannot be written (the settings database stays locked) make the
// run incomplete although every backup is in place.
TEST_F(FaultTest, RowsThatCannotBeWrittenMakeTheRunIncomplete) {
  WriteFile(accounts() + "/ACME.AIS", "ledger");
  // Keep everything: pruning, which reads its own archives from the same
  // database, would fail too and count the set short.
  const BackupConfig config = Config({"ACME.AIS"}, 0);
  const LockedRecords locked;
  const BackupRunSummary summary = Run(config, &locked);
  EXPECT_EQ(summary.CompleteSets(config), 1);
  EXPECT_GT(summary.rowsLost, 0);
  EXPECT_FALSE(summary.Complete(config));
  const auto lines = log_.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      " setlog向数据库写入本机备份日志失败database is locked"),
            lines.end())
      << "with the database's reason";
  EXPECT_EQ(lines.back().rfind("备份线程执行完毕，但有0个账套", 0), 0u) << lines.back();
}

// Another connection holds the settings database for a moment: the rows wait
// for it and land.
TEST_F(FaultTest, ABrieflyLockedSettingsDatabaseIsWaitedFor) {
  WriteFile(accounts() + "/ACME.AIS", "ledger");
  const BackupConfig config = Config({"ACME.AIS"}, 1);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((app() + "/Setlog.dll").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  // Released once the job is seen waiting for it: the run's thread sleeps in
  // SQLite's busy handler, the only place it sleeps before its archiver runs.
  const std::string wchan = "/proc/self/task/" + std::to_string(::gettid()) + "/wchan";
  std::atomic<bool> released{false};
  std::thread releaser([&] {
    while (!released) {
      std::ifstream in(wchan);
      const std::string where((std::istreambuf_iterator<char>(in)), {});
      if (where.find("nanosleep") != std::string::npos) {
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        released = true;
      }
      std::this_thread::yield();
    }
  });
  const BackupRunSummary summary = Run(config);
  released = true;
  releaser.join();
  sqlite3_close(db);
  EXPECT_TRUE(summary.Complete(config)) << ::testing::PrintToString(log_.lines());
  EXPECT_EQ(Rows().size(), 1u);
}

// The share fails while this run's archive travels to it, in each of its
// ways, with keep 1: the share keeps its earlier good archive and nothing
// stands under the new archive's name there; the run says it failed; the
// local side, whose archive tested good, is pruned as usual.
TEST_F(FaultTest, ShareFailsDuringTheCopy) {
  const testing::SambaShare* share = Share();
  if (share == nullptr) return;
  enum class Fault { kKilled, kFrozen, kFull };
  const std::pair<const char*, Fault> faults[] = {
      {"share process killed", Fault::kKilled},
      {"share frozen", Fault::kFrozen},
      {"share full", Fault::kFull},
  };
  for (const auto& [what, fault] : faults) {
    SCOPED_TRACE(what);
    for (const auto& e : fs::directory_iterator(backups())) fs::remove_all(e.path());
    for (const auto& e : fs::directory_iterator(share->localFolder)) fs::remove_all(e.path());
    // The full share is a small disk inside the share.
    const std::string remote = share->localFolder + (fault == Fault::kFull ? "/small" : "");
    fs::create_directories(remote);
    std::optional<SmallDisk> small;
    if (fault == Fault::kFull) {
      small.emplace(remote, "4m,mode=0777");
      if (!small->mounted()) VELTORA_SKIP_OR_FAIL("cannot mount a small tmpfs here (needs root)");
    }
    BackupConfig config = Config({"ACME.AIS"}, 1);
    WithShare(config, *share, fault == Fault::kFull ? "\\small" : "");
    WriteFile(accounts() + "/ACME.AIS", Incompressible(256 << 10, 6));
    ASSERT_TRUE(Run(config).Complete(config)) << ::testing::PrintToString(log_.lines());
    const std::vector<std::string> earlier = FilesIn(remote);
    ASSERT_EQ(earlier.size(), 1u);

    WriteFile(accounts() + "/ACME.AIS", Incompressible(24 << 20, 7));
    const std::string stamp = BackupStamp(clock_->LocalNow());
    // The copy reports its progress from the thread that copies: the fault
    // strikes there, once the share's disk holds part of the temporary file,
    // so the copy is sure to be under way and not yet done.
    bool fired = false;
    const ProgressListener strike = [&](const ProgressReport& report) {
      if (fired || fault == Fault::kFull || report.stage != ProgressStage::kShareCopy) return;
      for (const auto& e : fs::directory_iterator(remote)) {
        std::error_code ec;
        if (IsTemporary(e.path().filename().string()) && e.file_size(ec) >= (512u << 10)) {
          fired = fault == Fault::kKilled ? KillTestSambaServer() : FreezeTestSambaServer();
          return;
        }
      }
    };
    const BackupRunSummary summary = Run(config, nullptr, strike);
    EXPECT_EQ(fired, fault != Fault::kFull);
    if (fault == Fault::kKilled) {
      ASSERT_TRUE(testing::RestartTestSambaServer());
    } else if (fault == Fault::kFrozen) {
      ASSERT_TRUE(testing::ThawTestSambaServer());
    }

    EXPECT_FALSE(summary.Complete(config));
    EXPECT_FALSE(summary.results.at(0).onShare);
    EXPECT_TRUE(summary.results.at(0).archived);
    EXPECT_FALSE(fs::exists(remote + "/ACME" + stamp + ".7z"));
    EXPECT_TRUE(TestsGood(remote + "/" + earlier[0]));
    EXPECT_EQ(FilesIn(backups()), std::vector<std::string>{"ACME" + stamp + ".7z"});
    EXPECT_TRUE(TestsGood(backups() + "/ACME" + stamp + ".7z"));
    const auto lines = log_.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.rfind("无法将" + backups() + "/ACME" + stamp + ".7z复制到", 0) == 0 &&
             l.find("导致失败可能的原因为：") != std::string::npos;
    })) << ::testing::PrintToString(lines);
    for (const auto& r : Rows()) {
      EXPECT_NE(r.localbakfile, share->sharePath + "\\ACME" + stamp) << "no remote row";
    }
  }
}

// Hostile names: each is a backup under its own name, or a failure entry with
// a line that says why; never a file outside the backup folder, never a silent
// skip.
TEST_F(FaultTest, HostileNames) {
  const testing::SambaShare* share = Share();
  if (share == nullptr) return;
  const std::string longName = std::string(226, 'L') + ".AIS";  // 230 bytes
  for (const auto& name :
       {std::string("?.AIS"), std::string("a\\b.AIS"), longName, std::string("Plain.AIS")})
    WriteFile(accounts() + "/" + name, "ledger of " + name);
  const std::string elsewhere = dir_ / "not-a-ledger.txt";
  WriteFile(elsewhere, "what the link points to");
  fs::create_symlink(elsewhere, accounts() + "/Link.AIS");

  BackupConfig config = Config({"?.AIS", "a\\b.AIS", longName, "Plain.AIS", "Link.AIS"}, 2);
  WithShare(config, *share);
  const std::string stamp = BackupStamp(clock_->LocalNow());
  const BackupRunSummary summary = Run(config);
  EXPECT_FALSE(summary.Complete(config));

  std::map<std::string, const LocalResult*> byAccount;
  for (const auto& r : summary.results) byAccount[NameInFolder(r.account)] = &r;
  ASSERT_EQ(byAccount.size(), 5u);
  EXPECT_TRUE(byAccount["Plain.AIS"]->onShare);
  EXPECT_TRUE(byAccount[longName]->onShare) << "a long name the share accepts is copied";
  EXPECT_TRUE(byAccount["?.AIS"]->archived);
  EXPECT_FALSE(byAccount["?.AIS"]->onShare) << "the share cannot hold '?'";
  EXPECT_FALSE(byAccount["a\\b.AIS"]->succeeded);
  EXPECT_FALSE(byAccount["Link.AIS"]->succeeded);
  EXPECT_NE(byAccount["Link.AIS"]->localFile.find("not a regular file"), std::string::npos)
      << byAccount["Link.AIS"]->localFile;

  const auto lines = log_.lines();
  auto has = [&](const std::string& start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  };
  EXPECT_TRUE(has(" 账套" + accounts() + "/a\\b.AIS的名称不能用作备份文件名，备份失败！"));
  EXPECT_TRUE(has("无法将" + backups() + "/?" + stamp + ".7z复制到"));
  EXPECT_TRUE(has(" 账套文件" + accounts() + "/Link.AIS本机备份失败！"));
  EXPECT_EQ(FilesIn(backups()),
            (std::vector<std::string>{"?" + stamp + ".7z", longName.substr(0, 226) + stamp + ".7z",
                                      "Plain" + stamp + ".7z"}));
  ExpectOnlyGoodArchives(backups());
  ExpectOnlyGoodArchives(share->localFolder);
  EXPECT_EQ(
      FilesIn(share->localFolder),
      (std::vector<std::string>{longName.substr(0, 226) + stamp + ".7z", "Plain" + stamp + ".7z"}));
}

// A SQL account-set name is free text: one that would climb out of the backup
// folder is refused with its line and its row.
TEST_F(FaultTest, ASqlNameThatWouldLeaveTheBackupFolder) {
  StandinSqlServer::CreateServer(dir_ / "server", {{"sa", "pw"}});
  StandinSqlServer::CreateDatabase(dir_ / "server", "AIS_X");
  BackupConfig config = Config({}, 1);
  config.edition = 2;
  config.sqlUser = "sa";
  config.sqlPassword = "pw";
  config.accountSets = {{true, "001", "../x", "AIS_X"}, {true, "002", "ok", "AIS_X"}};
  config.selectedAccountSets = {"../x", "ok"};
  const BackupRunSummary summary = Run(config);
  EXPECT_FALSE(summary.Complete(config));
  EXPECT_EQ(summary.CompleteSets(config), 1);
  EXPECT_FALSE(fs::exists(dir_ / "x"));
  for (const auto& e : fs::directory_iterator(dir_.path()))
    EXPECT_FALSE(e.path().filename().string().starts_with("x2024")) << e.path();
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].accountname, "../x");
  EXPECT_EQ(rows[1].baksuccess, std::optional<bool>(false));
  EXPECT_NE(rows[1].localbakfile.find("备份文件会离开本机备份路径"), std::string::npos);
}

}  // namespace
}  // namespace veltora
