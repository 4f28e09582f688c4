// The file operations where Windows shows what POSIX does not: file times as
// the search reports them, attributes, error texts, and share paths as UNC
// paths (under Wine the share \\veltora-test\share that the test wrapper makes
// in the prefix).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/fs_path.h"
#include "base/path.h"
#include "base/text.h"
#include "base/wide_text.h"
#include "files/file_ops.h"
#include "files/file_system.h"
#include "files/folder_listing.h"
#include "files/local_file_system.h"
#include "files/temp_names.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Sets one of a file's times to a local date and time, converted the way
// GetFileDate converts back (the current bias).
void SetTime(const std::string& path, FileTime kind, const LocalTime& t) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(t.year);
  local.wMonth = static_cast<WORD>(t.month);
  local.wDay = static_cast<WORD>(t.day);
  local.wHour = static_cast<WORD>(t.hour);
  local.wMinute = static_cast<WORD>(t.minute);
  local.wSecond = static_cast<WORD>(t.second);
  local.wMilliseconds = 999;
  FILETIME localFile{};
  FILETIME utc{};
  ASSERT_TRUE(::SystemTimeToFileTime(&local, &localFile));
  ASSERT_TRUE(::LocalFileTimeToFileTime(&localFile, &utc));
  const HANDLE file =
      ::CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  const bool set = ::SetFileTime(file, kind == FileTime::kCreation ? &utc : nullptr,
                                 kind == FileTime::kLastAccess ? &utc : nullptr,
                                 kind == FileTime::kLastWrite ? &utc : nullptr);
  ::CloseHandle(file);
  ASSERT_TRUE(set) << path;
}

void SetAttributes(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(::SetFileAttributesW(Widen(path).c_str(), attributes)) << path;
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---------------------------------------------------------------------------

TEST(GetFileDateWinTest, TwoSecondResolutionWithinTheMsDosRange) {
  TempDir dir;
  const std::string file = dir / "账套 a.bak";
  WriteFile(file, "x");
  struct Case {
    LocalTime set;
    DateTime expected;
  };
  const Case cases[] = {
      {{2024, 5, 1, 1, 30, 7}, ToDateTime({2024, 5, 1, 1, 30, 6})},
      {{2024, 5, 1, 1, 30, 6}, ToDateTime({2024, 5, 1, 1, 30, 6})},
      {{2024, 12, 31, 23, 59, 59}, ToDateTime({2024, 12, 31, 23, 59, 58})},
      {{1980, 1, 1, 0, 0, 1}, ToDateTime({1980, 1, 1, 0, 0, 0})},
      {{2107, 12, 31, 23, 59, 59}, ToDateTime({2107, 12, 31, 23, 59, 58})},
      {{1979, 12, 31, 23, 59, 59}, kUnreadableTime},
      {{2108, 1, 1, 0, 0, 0}, kUnreadableTime},
  };
  const LocalTime other{2001, 2, 3, 4, 5, 6};  // far off, so that a swapped kind shows
  for (const FileTime kind : {FileTime::kLastAccess, FileTime::kLastWrite}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(static_cast<int>(kind)) + " " + FormatDateTime(c.set));
      SetTime(file, FileTime::kLastAccess, kind == FileTime::kLastAccess ? c.set : other);
      SetTime(file, FileTime::kLastWrite, kind == FileTime::kLastWrite ? c.set : other);
      EXPECT_EQ(GetFileDate(file, kind), c.expected);
    }
  }
  // A folder has its times too.
  SetTime(dir.str(), FileTime::kLastWrite, {2020, 6, 7, 8, 9, 11});
  EXPECT_EQ(GetFileDate(dir.str(), FileTime::kLastWrite), ToDateTime({2020, 6, 7, 8, 9, 10}));
}

// The local time `shift` from now, at the two-second resolution file dates
// have.
DateTime AtFileDateResolution(std::chrono::milliseconds shift) {
  LocalTime t = ToLocalTime(std::chrono::system_clock::now() + shift);
  t.second -= t.second % 2;
  return ToDateTime(t);
}

// A fresh file's creation time is the moment it was made. (Wine keeps no
// creation time of its own on a Linux file system: it answers the last-write
// time, so the two cannot be told apart there.)
TEST(GetFileDateWinTest, CreationTimeIsWhenTheFileWasMade) {
  TempDir dir;
  const DateTime before = AtFileDateResolution(std::chrono::milliseconds(-1000));
  WriteFile(dir / "a.bak", "x");
  const DateTime after = AtFileDateResolution(std::chrono::milliseconds(1000));
  const DateTime created = GetFileDate(dir / "a.bak", FileTime::kCreation);
  EXPECT_GE(created, before);
  EXPECT_LE(created, after);
  EXPECT_GT(GetFileDate(dir.str(), FileTime::kCreation), 0.0);
}

// The search behind GetFileDate takes its path as a pattern; a wildcard must
// not make it answer with the date of whichever file matches.
TEST(GetFileDateWinTest, WildcardsNameNoFile) {
  TempDir dir;
  WriteFile(dir / "a.bak", "x");
  ASSERT_GT(GetFileDate(dir / "a.bak", FileTime::kLastWrite), 0.0);
  for (const char* pattern : {"*.bak", "a?bak", "*"}) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(GetFileDate(dir / pattern, FileTime::kLastWrite), kUnreadableTime);
    EXPECT_FALSE(FileExists(dir / pattern));
    EXPECT_FALSE(ForceDeleteFile(dir / pattern));
  }
  EXPECT_TRUE(FileExists(dir / "a.bak"));
}

TEST(ForceDeleteFileWinTest, ResetsReadOnlyHiddenAndSystemAttributes) {
  TempDir dir;
  const DWORD attributeSets[] = {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE};
  for (const DWORD attributes : attributeSets) {
    SCOPED_TRACE(attributes);
    const std::string file = dir / "只读 备份.bak";
    WriteFile(file, "x");
    SetAttributes(file, attributes);
    EXPECT_TRUE(ForceDeleteFile(file));
    EXPECT_FALSE(Exists(file));
  }
  // A read-only folder stays.
  fs::create_directory(PathFromUtf8(dir / "folder"));
  SetAttributes(dir / "folder", FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(ForceDeleteFile(dir / "folder"));
  EXPECT_TRUE(FolderExists(dir / "folder"));
}

// bak/
//   plain.rar  hidden.rar (H)  ro.rar (R)  sys.rar (S)
//   HiddenSub/ (H) x.rar      SysSub/ (S) y.rar
TEST(ListFolderEntriesWinTest, HiddenAndReadOnlyEntriesAreListedSystemOnesNot) {
  TempDir dir;
  const std::string bak = dir / "bak";
  fs::create_directories(PathFromUtf8(bak + "\\HiddenSub"));
  fs::create_directories(PathFromUtf8(bak + "\\SysSub"));
  for (const char* name :
       {"plain.rar", "hidden.rar", "ro.rar", "sys.rar", "HiddenSub\\x.rar", "SysSub\\y.rar"})
    WriteFile(bak + "\\" + name, "x");
  SetAttributes(bak + "\\hidden.rar", FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(bak + "\\ro.rar", FILE_ATTRIBUTE_READONLY);
  SetAttributes(bak + "\\sys.rar", FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(bak + "\\HiddenSub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(bak + "\\SysSub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);

  const std::string listed = UpperAscii(bak);
  std::vector<std::string> list;
  ASSERT_TRUE(ListFolderEntries(&list, bak, "*.rar", false, kNoAttributeFilter, true, kFilesOnly));
  EXPECT_EQ(list, (std::vector<std::string>{listed + "\\hidden.rar", listed + "\\plain.rar",
                                            listed + "\\ro.rar", listed + "\\HiddenSub\\x.rar"}));
  list.clear();
  ASSERT_TRUE(ListFolderEntries(&list, bak, "", false, kNoAttributeFilter, false, kFoldersOnly));
  EXPECT_EQ(list, std::vector<std::string>{listed + "\\HiddenSub"});
  EXPECT_EQ(CountFiles(bak, "*.rar", true), 4);
}

// ---------------------------------------------------------------------------

TEST(CopyFileSafelyWinTest, CopiesBytesAndWriteTimeThroughATemporaryName) {
  TempDir dir;
  const std::string source = dir / "账套 备份 20240501013000.7z";
  const std::string target = dir / "远程 副本.7z";
  std::string content((3u << 20) + 17, '\0');  // beyond one 1 MiB buffer
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 251);
  WriteFile(source, content);
  WriteFile(target, std::string(5u << 20, 'o'));  // longer: no old tail may survive
  SetTime(source, FileTime::kLastWrite, {2023, 3, 4, 5, 6, 8});

  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  const FileOutcome outcome = CopyFileSafely(
      source, target,
      [&](std::uint64_t done, std::uint64_t total) { calls.emplace_back(done, total); });
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_TRUE(ReadFile(target) == content);
  EXPECT_EQ(GetFileDate(target, FileTime::kLastWrite), ToDateTime({2023, 3, 4, 5, 6, 8}));
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_pair<std::uint64_t>(content.size(), content.size()));
  EXPECT_EQ(testing::FilesIn(dir.str()),
            (std::vector<std::string>{"账套 备份 20240501013000.7z", "远程 副本.7z"}));
}

TEST(CopyFileSafelyWinTest, FailuresSayWhyAndLeaveTheTargetAndNoTemporaryFile) {
  TempDir dir;
  WriteFile(dir / "source", "new content");
  WriteFile(dir / "target", "old content");
  fs::create_directories(PathFromUtf8(dir / "folder\\inside"));
  struct Case {
    std::string source;
    std::string target;
    std::string reason;  // empty: whatever the system says
  };
  const Case cases[] = {
      {dir / "missing", dir / "target", WindowsErrorText(ERROR_FILE_NOT_FOUND)},
      {dir / "folder", dir / "target", "not a regular file"},
      {dir / "source", dir / "no-folder\\target", WindowsErrorText(ERROR_PATH_NOT_FOUND)},
      {dir / "source", dir / "folder", ""},  // the rename is refused
      {dir / "sou*", dir / "target", WindowsErrorText(ERROR_INVALID_NAME)},
      {"\\\\server\\share\\source", dir / "target", WindowsErrorText(ERROR_NOT_SUPPORTED)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.target);
    const FileOutcome outcome = CopyFileSafely(c.source, c.target);
    EXPECT_FALSE(outcome.ok);
    if (!c.reason.empty()) {
      EXPECT_EQ(outcome.error, c.reason);
    }
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_EQ(ReadFile(dir / "target"), "old content");
    EXPECT_EQ(testing::FilesIn(dir.str()),
              (std::vector<std::string>{"folder", "source", "target"}));
    EXPECT_EQ(testing::FilesIn(dir / "folder"), std::vector<std::string>{"inside"});
  }

  // Told not to overwrite, an existing target stays as it was.
  LocalFileSystem local;
  const FileOutcome refused = local.CopyFromLocal(dir / "source", dir / "target", false, {});
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(ReadFile(dir / "target"), "old content");
  EXPECT_EQ(testing::FilesIn(dir.str()), (std::vector<std::string>{"folder", "source", "target"}));
}

// A copy coming back to this machine: whole, with the owner-only access list,
// and never over a file that is there unless told; never to a share.
TEST(CopyToLocalWinTest, MakesAnOwnerOnlyCopyAndKeepsAnExistingFileUnlessTold) {
  TempDir dir;
  const std::string source = dir / "账套 备份 20240501013000.AIS";
  const std::string content((1u << 20) + 17, 'a');
  WriteFile(source, content);
  SetTime(source, FileTime::kLastWrite, {2023, 3, 4, 5, 6, 8});
  const std::string target = dir / "账套.AIS";
  LocalFileSystem local;

  FileOutcome outcome = local.CopyToLocal(source, target, false, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_TRUE(ReadFile(target) == content);
  VELTORA_EXPECT_OWNER_ONLY(target);
  EXPECT_EQ(GetFileDate(target, FileTime::kLastWrite), ToDateTime({2023, 3, 4, 5, 6, 8}));

  WriteFile(target, "mine");
  outcome = local.CopyToLocal(source, target, false, {});
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, WindowsErrorText(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadFile(target), "mine");
  outcome = local.CopyToLocal(source, target, true, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_TRUE(ReadFile(target) == content);
  VELTORA_EXPECT_OWNER_ONLY(target);

  outcome = local.CopyToLocal(source, "\\\\server\\share\\a.AIS", true, {});
  EXPECT_EQ(outcome.error, WindowsErrorText(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(testing::FilesIn(dir.str()),
            (std::vector<std::string>{"账套 备份 20240501013000.AIS", "账套.AIS"}));
}

// ---------------------------------------------------------------------------

// A share path is a UNC path that Windows itself reaches: the local file
// system serves it as the router's share side.
class UncShareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* share = std::getenv("VELTORA_TEST_UNC_SHARE");
    if (share == nullptr || !unc_.IsFolder(share))
      VELTORA_SKIP_OR_FAIL("no test share reachable as a UNC path (VELTORA_TEST_UNC_SHARE)");
    root_ = JoinPath(share, "t-" + RandomToken(12));
    ASSERT_TRUE(unc_.MakeFolder(root_)) << root_;
  }
  void TearDown() override {
    if (!root_.empty()) {
      std::error_code ec;
      fs::remove_all(PathFromUtf8(root_), ec);
    }
  }
  std::string At(const std::string& name) const { return JoinPath(root_, name); }

  const CopyMarker marker_ = CopyMarker::For("ledger-pc", "C:\\veltora");
  LocalFileSystem local_{marker_};
  LocalFileSystem unc_{marker_};
  FileSystemRouter router_{local_, &unc_};
  TempDir scratch_;
  std::string root_;
};

TEST_F(UncShareTest, FileOperationsListingAndCopiesReachTheShare) {
  ASSERT_TRUE(IsSharePath(root_));
  EXPECT_TRUE(IsFolderWritable(router_, " " + root_ + "\\ "));
  EXPECT_FALSE(IsFolderWritable(router_, At("missing")));

  const std::string content(2u << 20, 'z');
  WriteFile(scratch_ / "a.7z", content);
  const FileOutcome copied = unc_.CopyFromLocal(scratch_ / "a.7z", At("账套 a.7z"), false, {});
  ASSERT_TRUE(copied.ok) << copied.error;
  EXPECT_TRUE(ReadFile(At("账套 a.7z")) == content);
  EXPECT_FALSE(unc_.CopyFromLocal(scratch_ / "a.7z", At("账套 a.7z"), false, {}).ok)
      << "an existing copy is never overwritten";
  EXPECT_TRUE(CopyFileOver(router_, scratch_ / "a.7z", At("b.7z")));

  std::vector<std::string> list;
  ASSERT_TRUE(ListFolderEntries(router_, &list, root_, "*.7z", false, kNoAttributeFilter, false,
                                kFilesOnly));
  EXPECT_EQ(list, (std::vector<std::string>{UpperAscii(root_) + "\\b.7z",
                                            UpperAscii(root_) + "\\账套 a.7z"}));
  EXPECT_GT(GetFileDate(router_, At("b.7z"), FileTime::kCreation), 0.0);

  // Leftovers of this agent's interrupted copies go; another agent's stay.
  const std::string ours = TemporaryCopyName(marker_, "c.7z");
  const std::string theirs = TemporaryCopyName(CopyMarker::For("other-pc", "C:\\veltora"), "c.7z");
  WriteFile(At(ours), "partial");
  WriteFile(At(theirs), "in flight");
  EXPECT_EQ(RemoveStaleTemporaryFiles(unc_, root_), 1);

  SetAttributes(At("b.7z"), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(ForceDeleteFile(router_, At("b.7z")));
  EXPECT_EQ(testing::FilesIn(root_), (std::vector<std::string>{theirs, "账套 a.7z"}));

  // And back to this machine from the share.
  const std::string restored = scratch_ / "账套.AIS";
  const FileOutcome back = unc_.CopyToLocal(At("账套 a.7z"), restored, false, {});
  ASSERT_TRUE(back.ok) << back.error;
  EXPECT_TRUE(ReadFile(restored) == content);
  VELTORA_EXPECT_OWNER_ONLY(restored);
  EXPECT_FALSE(unc_.CopyToLocal(At("missing.7z"), scratch_ / "b.AIS", false, {}).ok);
  EXPECT_EQ(testing::FilesIn(scratch_.str()), (std::vector<std::string>{"a.7z", "账套.AIS"}));

  // The path-only forms serve the local disk alone.
  EXPECT_FALSE(FolderExists(root_));
  EXPECT_FALSE(FileExists(At("账套 a.7z")));
}

}  // namespace
}  // namespace veltora
