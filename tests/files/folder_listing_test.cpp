#include "files/folder_listing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/fs_path.h"
#include "base/text.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;
using Entries = std::vector<std::string>;

TEST(NormaliseMaskTest, CleansAndWraps) {
  struct Case {
    const char* mask;
    bool wrap;
    const char* expected;
  };
  const Case cases[] = {
      {"", true, "*.*"},
      {"  <|>  ", false, "*.*"},
      {"abc", true, "*abc*"},
      {"abc", false, "abc"},
      {"a?c.rar", true, "a?c.rar"},
      {"d:\\x\\*.rar", true, "dx*.rar"},
      {" 账套 A ", true, "*账套 A*"},
      {"\"a/b\"", false, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mask) + (c.wrap ? " wrap" : " no wrap"));
    EXPECT_EQ(NormaliseMask(c.mask, c.wrap), c.expected);
  }
}

TEST(MatchesMaskTest, WindowsWildcards) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  };
  const Case cases[] = {
      {"acct20240501013000.rar", "ACCT*.RAR", true},
      {"x.rar", "*.rar", true},
      {"x.rarx", "*.rar", false},
      {".rar", "*.rar", true},
      {"noext", "*.*", true},
      {"a.b", "*.*", true},
      {"", "*", true},
      {"", "?", false},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"abbc", "a?c", false},
      {"abcbd", "a*bd", true},  // needs backtracking past the first "b"
      {"abcbdx", "a*bd", false},
      {"账套A.rar", "账套?.RAR", true},
      {"账套.rar", "账?.rar", true},  // one Chinese character is one "?"
      {"账套.rar", "账??.rar", false},
      {"ä.rar", "Ä.rar", false},  // only ASCII letters ignore case
      {"a*b", "a*b", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " ~ " + c.mask);
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches);
  }
}

// bak/
//   b.rar  a.rar  C.rar  note.txt  Empty/  x.rar/ (a folder)
//   sub/ z.rar  deeper/ y.rar
class ListFolderEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bak_ = dir_ / "Bak";
    for (const char* f : {"b.rar", "a.rar", "C.rar", "note.txt", "sub/z.rar", "sub/deeper/y.rar"}) {
      fs::create_directories(PathFromUtf8(bak_ + "/" + f).parent_path());
      WriteFile(bak_ + "/" + f, "x");
    }
    fs::create_directory(PathFromUtf8(bak_ + "/Empty"));
    fs::create_directory(PathFromUtf8(bak_ + "/x.rar"));
  }

  // An entry as the listing reports it: "/" and "\\" in `name` are the
  // folder's separators, and on Windows the folder part is upper-cased.
  static std::string Listed(const std::string& folder, std::string name) {
#ifdef _WIN32
    for (char& c : name)
      if (c == '/') c = '\\';
    return UpperAscii(folder) + "\\" + name;
#else
    return folder + "/" + name;
#endif
  }

  Entries List(const std::string& folder, const std::string& mask, bool recurse, int kind,
               bool wrap = true, int filter = kNoAttributeFilter) {
    Entries list;
    EXPECT_TRUE(ListFolderEntries(&list, folder, mask, wrap, filter, recurse, kind));
    return list;
  }

  TempDir dir_;
  std::string bak_;
};

TEST_F(ListFolderEntriesTest, OrderKindsAndRecursion) {
  const std::string& b = bak_;
  // Case-insensitive name order; the folder part as given (not upper-cased on
  // POSIX) without its trailing separators.
  EXPECT_EQ(List(b + "//", "*.rar", false, kFilesOnly),
            (Entries{Listed(b, "a.rar"), Listed(b, "b.rar"), Listed(b, "C.rar")}));
  EXPECT_EQ(
      List(" " + b + " ", "*.rar", false, kFilesAndFolders),
      (Entries{Listed(b, "a.rar"), Listed(b, "b.rar"), Listed(b, "C.rar"), Listed(b, "x.rar")}));
  EXPECT_EQ(List(b, "", false, kFoldersOnly),
            (Entries{Listed(b, "Empty"), Listed(b, "sub"), Listed(b, "x.rar")}));
  EXPECT_EQ(List(b, "*.rar", false, 7), List(b, "*.rar", false, kFilesAndFolders));
  EXPECT_EQ(List(b, "*.rar", false, kFilesOnly, true, 128),
            List(b, "*.rar", false, kFilesOnly));  // no attribute filter on POSIX
  EXPECT_EQ(List(b, "rar", false, kFilesOnly), (Entries{Listed(b, "a.rar"), Listed(b, "b.rar"),
                                                        Listed(b, "C.rar")}));  // wrapped to *rar*

  // Depth-first: the folder's own entries, then each subfolder's in turn.
  EXPECT_EQ(List(b, "*.rar", true, kFilesOnly),
            (Entries{Listed(b, "a.rar"), Listed(b, "b.rar"), Listed(b, "C.rar"),
                     Listed(b, "sub/z.rar"), Listed(b, "sub/deeper/y.rar")}));
  // Nothing matches at the top; the subfolders are searched all the same.
  EXPECT_EQ(List(b, "y*.rar", true, kFilesOnly), (Entries{Listed(b, "sub/deeper/y.rar")}));
  EXPECT_EQ(List(b, "nothing*", false, kFilesOnly), Entries{});
}

TEST_F(ListFolderEntriesTest, AppendsToTheCallersList) {
  Entries list{"kept"};
  EXPECT_TRUE(ListFolderEntries(&list, bak_, "b.rar", false, kNoAttributeFilter, false, 1));
  EXPECT_EQ(list, (Entries{"kept", Listed(bak_, "b.rar")}));
}

TEST_F(ListFolderEntriesTest, FolderThatCannotBeSearched) {
  const std::string folders[] = {"", "   ", dir_ / "missing", bak_ + "/note.txt",
                                 "\\\\server\\share\\bak"};
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    Entries list;
    EXPECT_FALSE(ListFolderEntries(&list, folder, "*.*", true, kNoAttributeFilter, true, 0));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(CountFiles(folder, "*.*", true), 0);
  }
  EXPECT_FALSE(ListFolderEntries(nullptr, bak_, "*.*", true, kNoAttributeFilter, false, 0));
}

#ifndef _WIN32
// Names that differ in letter case alone, which only POSIX can hold side by
// side, come in the order of the names as stored.
TEST_F(ListFolderEntriesTest, TiesOfLetterCaseByTheStoredName) {
  WriteFile(bak_ + "/A.rar", "x");
  EXPECT_EQ(List(bak_, "a.rar", false, kFilesOnly), (Entries{bak_ + "/A.rar", bak_ + "/a.rar"}));
}

TEST_F(ListFolderEntriesTest, LinkedFolderIsListedButNotEntered) {
  fs::create_directory_symlink(bak_, bak_ + "/sub/loop");
  EXPECT_EQ(List(bak_ + "/sub", "*", true, kFoldersOnly),
            (Entries{bak_ + "/sub/deeper", bak_ + "/sub/loop"}));
  EXPECT_EQ(CountFiles(bak_, "*.rar", true), 5);
}
#endif

TEST_F(ListFolderEntriesTest, CountFilesCountsFilesOnlyWithoutWrapping) {
  EXPECT_EQ(CountFiles(bak_, "*.rar", false), 3);  // the folder x.rar is no file
  EXPECT_EQ(CountFiles(bak_, "*.rar", true), 5);
  EXPECT_EQ(CountFiles(bak_, "rar", false), 0);  // wrap off: the name must be "rar"
  EXPECT_EQ(CountFiles(bak_, "", false), 4);
}

TEST(FolderOfExistingFileTest, FolderOnlyForAnExistingFile) {
  TempDir dir;
  WriteFile(dir / "程序.exe", "x");
  EXPECT_EQ(FolderOfExistingFile(" " + (dir / "程序.exe") + "\n"), dir.str());
  EXPECT_EQ(FolderOfExistingFile(dir / "missing.exe"), "");
  EXPECT_EQ(FolderOfExistingFile(dir.str()), "");
  EXPECT_EQ(FolderOfExistingFile(""), "");
}

}  // namespace
}  // namespace veltora
