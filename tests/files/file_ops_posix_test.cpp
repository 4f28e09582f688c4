// The file operations where POSIX shows what Windows does not: mode bits,
// birth times, links, privileges, resource limits and small file systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "files/file_ops.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

std::string RandomBytes(std::size_t size) {
  std::mt19937 gen(42);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

void SetTimes(const std::string& path, std::time_t access, std::time_t modify) {
  const struct timespec times[2] = {{access, 999'999'999}, {modify, 999'999'999}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Runs a check in a child process without root's power to write anywhere, so
// that folder permissions are really enforced. The child's exit status carries
// the answer: 0 false, 1 true, 2 could not drop privileges.
int RunUnprivileged(const std::function<bool()>& check) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ::_exit(check() ? 1 : 0);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 2;
  return WEXITSTATUS(status);
}

// ---------------------------------------------------------------------------

TEST(GetFileDateTest, KeepsMsDosRangeAndTwoSecondResolution) {
  TempDir dir;
  const std::string file = dir / "a.bak";
  WriteFile(file, "x");
  struct Case {
    int y, mo, d, h, mi, s;
    DateTime expected;
  };
  const Case cases[] = {
      {2024, 5, 1, 1, 30, 7, ToDateTime({2024, 5, 1, 1, 30, 6})},
      {2024, 5, 1, 1, 30, 6, ToDateTime({2024, 5, 1, 1, 30, 6})},
      {2024, 12, 31, 23, 59, 59, ToDateTime({2024, 12, 31, 23, 59, 58})},
      {1980, 1, 1, 0, 0, 1, ToDateTime({1980, 1, 1, 0, 0, 0})},
      {2107, 12, 31, 23, 59, 59, ToDateTime({2107, 12, 31, 23, 59, 58})},
      {1979, 12, 31, 23, 59, 59, kUnreadableTime},
      {2108, 1, 1, 0, 0, 0, kUnreadableTime},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FormatDateTime({c.y, c.mo, c.d, c.h, c.mi, c.s}));
    const std::time_t when = testing::LocalSeconds(c.y, c.mo, c.d, c.h, c.mi, c.s);
    // The other time far off, so that a swapped kind shows.
    const std::time_t other = when - 400 * 86400;
    SetTimes(file, other, when);
    EXPECT_EQ(GetFileDate(file, FileTime::kLastWrite), c.expected);
    SetTimes(file, when, other);
    EXPECT_EQ(GetFileDate(file, FileTime::kLastAccess), c.expected);
  }
}

// The local time `shift` from now, at the two-second resolution file dates
// have.
DateTime AtFileDateResolution(std::chrono::milliseconds shift) {
  LocalTime t = ToLocalTime(std::chrono::system_clock::now() + shift);
  t.second -= t.second % 2;
  return ToDateTime(t);
}

TEST(GetFileDateTest, CreationTimeIsWhenTheFileWasMadeNotItsWriteTime) {
  TempDir dir;
  const std::string file = dir / "备份 a.bak";
  // File times come from the kernel's coarse clock, which may lag the system
  // clock by a tick; the window allows for it.
  const DateTime before = AtFileDateResolution(std::chrono::milliseconds(-100));
  WriteFile(file, "x");
  const DateTime after = AtFileDateResolution(std::chrono::milliseconds(0));
  const std::time_t old = testing::LocalSeconds(1999, 1, 2, 3, 4, 5);
  SetTimes(file, old, old);

  struct statx sx {};
  ASSERT_EQ(::statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME, &sx), 0);
  if ((sx.stx_mask & STATX_BTIME) == 0) {
    // This file system keeps no birth time: the creation time is unreadable.
    EXPECT_EQ(GetFileDate(file, FileTime::kCreation), kUnreadableTime);
    return;
  }
  const DateTime created = GetFileDate(file, FileTime::kCreation);
  EXPECT_GE(created, before);
  EXPECT_LE(created, after);
  EXPECT_NE(created, GetFileDate(file, FileTime::kLastWrite));
  EXPECT_GT(GetFileDate(dir.str(), FileTime::kCreation), 0.0) << "folders have a creation time too";
}

// ---------------------------------------------------------------------------

TEST(IsFolderWritableTest, ReadOnlyFolderForAnOrdinaryUser) {
  // Root writes through any permission bits, so the check runs as "nobody".
  TempDir dir;
  fs::create_directory(dir / "ro");
  fs::create_directory(dir / "rw");
  ASSERT_EQ(::chmod(dir.str().c_str(), 0755), 0);
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);
  ASSERT_EQ(::chmod((dir / "rw").c_str(), 0777), 0);

  const int writable = RunUnprivileged([&] { return IsFolderWritable(dir / "rw"); });
  if (writable == 2) VELTORA_SKIP_OR_FAIL("cannot run a check as an unprivileged user");
  EXPECT_EQ(writable, 1);
  EXPECT_EQ(RunUnprivileged([&] { return IsFolderWritable(dir / "ro"); }), 0);
  EXPECT_TRUE(fs::is_empty(dir / "ro"));
  EXPECT_TRUE(fs::is_empty(dir / "rw"));
}

// ---------------------------------------------------------------------------

class CopyFileSafelyPosixTest : public ::testing::Test {
 protected:
  // The target folder holds exactly these names: nothing partial, no temp.
  void ExpectFolderHoldsOnly(const std::set<std::string>& names) {
    EXPECT_EQ(NamesIn(dir_.str()), names);
  }

  TempDir dir_;
};

TEST_F(CopyFileSafelyPosixTest, CopiesBytesModeAndWriteTimeOverAnOldTarget) {
  const std::string source = dir_ / "账套 备份 20240501013000.rar";
  const std::string target = dir_ / "远程 副本.rar";
  const std::string content = RandomBytes((3u << 20) + 17);  // beyond one 1 MiB buffer
  WriteFile(source, content);
  WriteFile(target, RandomBytes((5u << 20)));  // longer: no old tail may survive
  // Set-id and sticky bits never travel with a copy.
  ASSERT_EQ(::chmod(source.c_str(), 06750), 0);
  const std::time_t written = testing::LocalSeconds(2023, 3, 4, 5, 6, 8);
  SetTimes(source, written, written);

  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  const FileOutcome outcome = CopyFileSafely(
      source, target,
      [&](std::uint64_t done, std::uint64_t total) { calls.emplace_back(done, total); });

  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.error, "");
  EXPECT_TRUE(ReadFile(target) == content);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(st.st_mtim.tv_sec, written);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_pair<std::uint64_t>(content.size(), content.size()));
  for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_LE(calls[i - 1].first, calls[i].first);
  ExpectFolderHoldsOnly({"账套 备份 20240501013000.rar", "远程 副本.rar"});
}

TEST_F(CopyFileSafelyPosixTest, FailuresLeaveTargetUntouchedAndNoTempFile) {
  WriteFile(dir_ / "source", "new content");
  WriteFile(dir_ / "target", "old content");
  fs::create_directories(dir_ / "folder/inside");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);  // reading it would never end
  fs::create_symlink(dir_ / "source", dir_ / "link");
  struct Case {
    std::string source;
    std::string target;
    std::string reason;
  };
  const Case cases[] = {
      {dir_ / "missing", dir_ / "target", "No such file or directory"},
      {dir_ / "folder", dir_ / "target", "not a regular file"},
      {dir_ / "fifo", dir_ / "target", "not a regular file"},
      {dir_ / "link", dir_ / "target", "not a regular file"},
      {"/dev/null", dir_ / "target", "not a regular file"},
      {dir_ / "source", dir_ / "no-folder/target", "No such file or directory"},
      {dir_ / "source", dir_ / "folder", "Is a directory"},  // the rename is refused
      {dir_ / "source", dir_ / "target/below", "Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.target);
    const FileOutcome outcome = CopyFileSafely(c.source, c.target);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, c.reason);
    EXPECT_EQ(ReadFile(dir_ / "target"), "old content");
    ExpectFolderHoldsOnly({"source", "target", "folder", "fifo", "link"});
    EXPECT_EQ(NamesIn(dir_ / "folder"), std::set<std::string>{"inside"});
  }
}

// Lowers the file-size limit of this process for one scope: writes beyond it
// fail with EFBIG, a real write failure in the middle of a copy.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = SIG_DFL;
  bool ok_ = false;
};

TEST_F(CopyFileSafelyPosixTest, WriteFailureMidwayKeepsOldTarget) {
  WriteFile(dir_ / "source", RandomBytes(4u << 20));
  WriteFile(dir_ / "target", "old content");
  FileOutcome outcome;
  {
    FileSizeLimit limit(1u << 20);
    ASSERT_TRUE(limit.ok());
    outcome = CopyFileSafely(dir_ / "source", dir_ / "target");
  }
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, "File too large");
  EXPECT_EQ(ReadFile(dir_ / "target"), "old content");
  ExpectFolderHoldsOnly({"source", "target"});
}

// A small tmpfs: another file system (the copy falls back from the in-kernel
// copy to reads and writes) that really fills up.
TEST_F(CopyFileSafelyPosixTest, AcrossFileSystemsAndOntoAFullDisk) {
  const std::string small = dir_ / "small";
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
    VELTORA_SKIP_OR_FAIL("mounting a small tmpfs needs privileges this run lacks");
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};

  const std::string fits = RandomBytes((300u << 10) + 5);
  WriteFile(dir_ / "fits", fits);
  const FileOutcome copied = CopyFileSafely(dir_ / "fits", small + "/fits");
  ASSERT_TRUE(copied.ok) << copied.error;
  EXPECT_TRUE(ReadFile(small + "/fits") == fits);
  ASSERT_TRUE(fs::remove(small + "/fits"));

  WriteFile(dir_ / "source", RandomBytes(2u << 20));
  WriteFile(small + "/target", "old content");
  const FileOutcome outcome = CopyFileSafely(dir_ / "source", small + "/target");
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, "No space left on device");
  EXPECT_EQ(ReadFile(small + "/target"), "old content");
  EXPECT_EQ(NamesIn(small), std::set<std::string>{"target"});
}

}  // namespace
}  // namespace veltora
