#include "files/file_ops.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/fs_path.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(PathFromUtf8(folder)))
    names.insert(Utf8FromPath(entry.path().filename()));
  return names;
}

// Takes the write permission away: the read-only attribute on Windows.
void MakeReadOnly(const std::string& path) {
  fs::permissions(PathFromUtf8(path),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

// Every entry below the folder with the contents of each file.
std::set<std::string> Snapshot(const fs::path& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string path = Utf8FromPath(e.path());
    out.insert(path + "|" + (e.is_regular_file() ? ReadFile(path) : ""));
  }
  return out;
}

// ---------------------------------------------------------------------------

TEST(GetFileDateTest, UnreadableGivesMinusOne) {
  TempDir dir;
  WriteFile(dir / "a", "x");
  for (const FileTime kind : {FileTime::kCreation, FileTime::kLastAccess, FileTime::kLastWrite}) {
    SCOPED_TRACE(static_cast<int>(kind));
    EXPECT_EQ(GetFileDate(dir / "missing", kind), kUnreadableTime);
    EXPECT_EQ(GetFileDate("", kind), kUnreadableTime);
    EXPECT_EQ(GetFileDate("\\\\server\\share\\a", kind), kUnreadableTime);
  }
}

// ---------------------------------------------------------------------------

TEST(ForceDeleteFileTest, DeletesFilesOnly) {
  TempDir dir;
  const std::string readOnly = dir / "只读.bak";
  WriteFile(readOnly, "x");
  MakeReadOnly(readOnly);
  EXPECT_TRUE(ForceDeleteFile(readOnly));
  EXPECT_FALSE(fs::exists(PathFromUtf8(readOnly)));

  EXPECT_FALSE(ForceDeleteFile(readOnly)) << "already gone";
  fs::create_directory(dir / "folder");
  EXPECT_FALSE(ForceDeleteFile(dir / "folder"));
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_FALSE(ForceDeleteFile(" " + (dir / "folder")));

#ifndef _WIN32
  // A link goes; what it points to stays.
  WriteFile(dir / "target", "keep");
  fs::create_symlink(dir / "target", dir / "link");
  EXPECT_TRUE(ForceDeleteFile(dir / "link"));
  EXPECT_FALSE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(ReadFile(dir / "target"), "keep");

  // The path is used as given: a trimmed look-alike is not deleted. (Windows
  // itself drops trailing blanks from a name.)
  WriteFile(dir / "t", "x");
  EXPECT_FALSE(ForceDeleteFile((dir / "t") + " "));
  EXPECT_TRUE(fs::exists(dir / "t"));
#endif
}

// ---------------------------------------------------------------------------

TEST(IsFolderWritableTest, WritableFolderLeavesNoTestFolder) {
  TempDir dir;
  WriteFile(dir / "keep.bak", "x");
  EXPECT_TRUE(IsFolderWritable(dir.str()));
  EXPECT_TRUE(IsFolderWritable("  " + dir.str() + "/ \t"));
  EXPECT_EQ(NamesIn(dir.str()), std::set<std::string>{"keep.bak"});
}

// ---------------------------------------------------------------------------

// Whatever holds the test folder's name is the user's: the test goes round it
// and leaves it exactly as it was.
TEST(IsFolderWritableTest, LeavesWhatHoldsTheTestFoldersNameAlone) {
  TempDir outside;
  WriteFile(outside / "precious.bak", "keep");
  const struct {
    const char* what;
    std::function<void(const std::string& name)> make;
  } cases[] = {
      {"a folder with contents",
       [](const std::string& name) {
         fs::create_directories(PathFromUtf8(name + "/sub"));
         WriteFile(name + "/a.txt", "mine");
         WriteFile(name + "/sub/b.txt", "mine too");
         MakeReadOnly(name + "/a.txt");
       }},
      {"an empty folder",
       [](const std::string& name) { fs::create_directory(PathFromUtf8(name)); }},
      {"a file", [](const std::string& name) { WriteFile(name, "mine"); }},
#ifndef _WIN32
      {"a link to a folder elsewhere",
       [&outside](const std::string& name) { fs::create_directory_symlink(outside.path(), name); }},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string name = dir / "读写测试";
    c.make(name);
    const std::set<std::string> before = Snapshot(dir.path());
    EXPECT_TRUE(IsFolderWritable(dir.str()));
    EXPECT_EQ(Snapshot(dir.path()), before);
    EXPECT_EQ(NamesIn(outside.str()), std::set<std::string>{"precious.bak"});
  }
}

// ---------------------------------------------------------------------------

TEST(IsFolderWritableTest, TestsOfOneFolderAtTheSameMomentAllSucceed) {
  TempDir dir;
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i)
        if (!IsFolderWritable(dir.str())) ++refused;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(refused.load(), 0);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// ---------------------------------------------------------------------------

TEST(IsFolderWritableTest, FalseWhereNoFolderCanBeMade) {
  TempDir dir;
  WriteFile(dir / "file", "x");
  const char* const paths[] = {"", "   "};
  for (const char* p : paths) {
    SCOPED_TRACE(p);
    EXPECT_FALSE(IsFolderWritable(p));
  }
  const std::string missing[] = {dir / "missing", dir / "file", dir / "file/below",
                                 "\\\\server\\share\\bak"};
  for (const std::string& p : missing) {
    SCOPED_TRACE(p);
    EXPECT_FALSE(IsFolderWritable(p));
  }
}

// ---------------------------------------------------------------------------

TEST(FileQueriesTest, NamesAndExistence) {
  TempDir dir;
  const std::string file = dir / "账套 A.AIS";
  WriteFile(file, "x");
  EXPECT_EQ(FileNameIfExists("  " + file + " "), "账套 A.AIS");
  EXPECT_EQ(FileNameIfExists(dir / "missing.AIS"), "");
  EXPECT_EQ(FileNameIfExists(dir.str()), "") << "a folder is no file";
  EXPECT_EQ(FileNameIfExists(""), "");

  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir.str()));
  EXPECT_TRUE(FolderExists(dir.str()));
  EXPECT_FALSE(FolderExists(file));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FolderExists(""));
  EXPECT_FALSE(FolderExists("\\\\server\\share"));
}

// ---------------------------------------------------------------------------

class CopyFileSafelyTest : public ::testing::Test {
 protected:
  // The target folder holds exactly these names: nothing partial, no temp.
  void ExpectFolderHoldsOnly(const std::set<std::string>& names) {
    EXPECT_EQ(NamesIn(dir_.str()), names);
  }

  TempDir dir_;
};

// ---------------------------------------------------------------------------

TEST_F(CopyFileSafelyTest, EmptyAndLongNamedFiles) {
  WriteFile(dir_ / "empty", "");
  const FileOutcome empty = CopyFileSafely(dir_ / "empty", dir_ / "empty copy");
  ASSERT_TRUE(empty.ok) << empty.error;
  EXPECT_EQ(ReadFile(dir_ / "empty copy"), "");

  // A name near the file system's limit of 255 bytes is still copyable: the
  // temporary name does not grow with it. 82 three-byte characters + ".rar".
  std::string longName;
  for (int i = 0; i < 82; ++i) longName += "账";
  longName += ".rar";
  const FileOutcome longOne = CopyFileSafely(dir_ / "empty", dir_ / longName);
  ASSERT_TRUE(longOne.ok) << longOne.error;
  ExpectFolderHoldsOnly({"empty", "empty copy", longName});
}

// ---------------------------------------------------------------------------

TEST(CopyFileOverTest, TrimsReplacesReadOnlyTargetAndRefusesNonFiles) {
  TempDir dir;
  WriteFile(dir / "a.rar", "new");
  WriteFile(dir / "b.rar", "old");
  MakeReadOnly(dir / "b.rar");
  EXPECT_TRUE(CopyFileOver(" " + (dir / "a.rar") + " ", "\t" + (dir / "b.rar") + " "));
  EXPECT_EQ(ReadFile(dir / "b.rar"), "new");

  EXPECT_FALSE(CopyFileOver("", dir / "b.rar"));
  EXPECT_FALSE(CopyFileOver(dir / "a.rar", "  "));
  EXPECT_FALSE(CopyFileOver(dir / "missing.rar", dir / "b.rar"));
  EXPECT_FALSE(CopyFileOver(dir.str(), dir / "c.rar"));
  EXPECT_EQ(ReadFile(dir / "b.rar"), "new");
  EXPECT_EQ(NamesIn(dir.str()), (std::set<std::string>{"a.rar", "b.rar"}));
}

}  // namespace
}  // namespace veltora
