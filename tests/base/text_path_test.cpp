#include <gtest/gtest.h>

#include "base/path.h"
#include "base/text.h"

namespace veltora {
namespace {

TEST(TextTest, TrimRemovesBlanksAndControlsButNotChinese) {
  EXPECT_EQ(Trim(" \t\r\n abc \x01"), "abc");
  EXPECT_EQ(Trim("  账套 "), "账套");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(UpperAscii("d:\\bak\\账套a.rar"), "D:\\BAK\\账套A.RAR");
}

TEST(TextTest, ControlCharactersAreWrittenOut) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {std::string("\x01\x1b[2J\x7f", 6) + '\0', "\\x01\\x1B[2J\\x7F\\x00"},
      {"行\u2028分\u2029段\u0085", "行\\u2028分\\u2029段\\u0085"},
      // Kept: a backslash (Windows paths), Chinese, other characters of the
      // same lead bytes, bytes that are no UTF-8, a lone lead byte at the end.
      {"C:\\备份\\A.AIS \u2027\u00a0\xff\xc2", "C:\\备份\\A.AIS \u2027\u00a0\xff\xc2"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShowControlCharacters(c.text), c.shown) << c.text;
}

TEST(PathTest, JoinsWithExactlyOneSeparatorOfTheFoldersKind) {
  // A local folder takes "/" on POSIX and "\\" on Windows; a share "\\" on both.
  struct Case {
    const char* folder;
    const char* name;
    const char* joinedPosix;
    const char* joinedWindows;
  };
  const Case cases[] = {
      {"/bak", "a.bak", "/bak/a.bak", "/bak\\a.bak"},
      {"/bak/", "a.bak", "/bak/a.bak", "/bak\\a.bak"},
      {"/bak//", "/a.bak", "/bak/a.bak", "/bak\\a.bak"},
      {"D:\\bak\\", "\\a.bak", "D:\\bak/a.bak", "D:\\bak\\a.bak"},
      {"\\\\srv\\share", "a.rar", "\\\\srv\\share\\a.rar", "\\\\srv\\share\\a.rar"},
      {"\\\\srv\\share\\", "a.rar", "\\\\srv\\share\\a.rar", "\\\\srv\\share\\a.rar"},
      {"/", "a", "/a", "/a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
#ifdef _WIN32
    EXPECT_EQ(JoinPath(c.folder, c.name), c.joinedWindows);
#else
    EXPECT_EQ(JoinPath(c.folder, c.name), c.joinedPosix);
#endif
  }
  EXPECT_EQ(BaseName("\\\\srv\\share\\log.txt"), "log.txt");
  EXPECT_EQ(BaseName("/app/程序运行日志.txt"), "程序运行日志.txt");
  EXPECT_EQ(StemOf("ABC.AIS"), "ABC");
  EXPECT_EQ(StemOf("a.b.AIS"), "a.b");
}

TEST(PathTest, AbsoluteIsAShareOrAFullPathOfThePlatform) {
  struct Case {
    const char* path;
    bool posix;
    bool windows;
  };
  const Case cases[] = {
      {"/srv/bak", true, false}, {"\\\\srv\\share", true, true}, {"D:\\bak", false, true},
      {"d:/bak", false, true},   {"D:bak", false, false},        {"\\bak", false, false},
      {"relbak", false, false},  {"./bak", false, false},        {"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
#ifdef _WIN32
    EXPECT_EQ(IsAbsolutePath(c.path), c.windows);
#else
    EXPECT_EQ(IsAbsolutePath(c.path), c.posix);
#endif
  }
}

}  // namespace
}  // namespace veltora
