#include "app/startup_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/fs_path.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

constexpr char kBlankRefusal[] =
    "您好，由于本软件要用到DOS命令，文件夹路径不要包含空格，所以不能放在电脑桌面等路径含空格的"
    "文件夹里。请在硬盘分区根目录下建文件夹保存本软件后再运行。谢谢。";

TEST(StartupChecksTest, BlankAnywhereInThePathRefuses) {
  struct Case {
    const char* path;
    bool refused;
  } cases[] = {
      {"/opt/veltora/veltora-cli", false},
      {"/home/会计/备份/veltora-cli", false},
      {"/opt/my backups/veltora-cli", true},
      {"/opt/veltora/veltora cli", true},
      {" /opt/veltora/veltora-cli", true},
      {"/opt/veltora/veltora-cli ", true},
      // Only the ASCII blank breaks the command file; other white space does not.
      {"/opt/tab\there/veltora-cli", false},
      {"/opt/全角\u3000空格/veltora-cli", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(RefuseBlankInPath(c.path), c.refused ? kBlankRefusal : "");
  }
}

TEST(StartupChecksTest, TheCurrentFolderBecomesTheFolderGivenWhenItExists) {
  testing::TempDir dir;
  const std::filesystem::path folder = dir.path() / PathFromUtf8("程序 文件夹");
  std::filesystem::create_directories(folder);
  const std::filesystem::path before = std::filesystem::current_path();
  struct Restore {
    std::filesystem::path path;
    ~Restore() { std::filesystem::current_path(path); }
  } restore{before};

  EXPECT_FALSE(MakeCurrentFolder(Utf8FromPath(dir.path() / "missing")));
  EXPECT_FALSE(MakeCurrentFolder(""));
  EXPECT_EQ(std::filesystem::current_path(), before);
  ASSERT_TRUE(MakeCurrentFolder(Utf8FromPath(folder)));
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), folder));
}

TEST(StartupChecksTest, SecondInstanceOnTheFolderIsRefusedUntilTheFirstGoes) {
  constexpr char kRefusal[] = "您好，程序已经运行，无需重复运行！";
  testing::TempDir dir;
  std::unique_ptr<AppFolderLock> first;
  std::string detail;
  bool fault = true;
  EXPECT_EQ(ClaimSingleInstance(dir.str(), first, detail, fault), "");
  EXPECT_FALSE(fault);
  ASSERT_NE(first, nullptr);

  std::unique_ptr<AppFolderLock> second;
  EXPECT_EQ(ClaimSingleInstance(dir.str(), second, detail, fault), kRefusal);
  EXPECT_FALSE(fault) << "another agent is no fault";
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(detail.find("another backup or agent is running"), std::string::npos) << detail;

  first.reset();
  EXPECT_EQ(ClaimSingleInstance(dir.str(), second, detail, fault), "");
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(detail, "");
}

}  // namespace
}  // namespace veltora
