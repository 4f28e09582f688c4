// The backup thread on POSIX file systems: a full disk made with a small
// tmpfs, a folder made immutable with chattr.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/job_fixture.h"

namespace veltora {
namespace {

using namespace job_test;
using testing::FilesIn;
using testing::WriteFile;

TEST_F(BackupJobTest, FileEditionRecordsAVanishedSourceAndACopyThatFails) {
  // The local folder sits on a 64 KiB file system: the large file cannot be
  // copied, which the copy reports without raising.
  if (::mount("tmpfs", backups().c_str(), "tmpfs", 0, "size=64k") != 0)
    VELTORA_SKIP_OR_FAIL("cannot mount a small tmpfs here (needs root)");
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{backups()};

  WriteFile(dir_ / "accounts/Big.AIS", std::string(256 * 1024, 'x'));
  WriteFile(dir_ / "accounts/Small.AIS", "small");
  const auto summary = Run(FileConfig({{true, "", "Gone.AIS", "Gone.AIS"},
                                       {true, "", "Big.AIS", "Big.AIS"},
                                       {true, "", "Small.AIS", "Small.AIS"}}));
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->results.size(), 3u);
  EXPECT_EQ(Succeeded(*summary), 1);

  const std::string src = accounts() + "/";
  const auto lines = log_.lines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[4], " 源账套文件" + src + "Gone.AIS已经不存在，备份失败");
  EXPECT_EQ(lines[5].rfind(" 账套文件" + src + "Big.AIS本机备份失败！导致失败可能的原因为：", 0),
            0u)
      << lines[5];
  EXPECT_EQ(lines[6], " 账套文件" + src + "Small.AIS本机备份成功");

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].localbakfile, "本机备份失败：源账套已经不存在");
  EXPECT_EQ(rows[2].baksuccess, std::optional<bool>(false));
  EXPECT_EQ(rows[1].localbakfile.rfind("本机备份失败：", 0), 0u);
  EXPECT_NE(rows[1].localbakfile.find("No space left on device"), std::string::npos)
      << rows[1].localbakfile;
  EXPECT_EQ(rows[1].rarpwd, "");
  EXPECT_EQ(rows[1].baksuccess, std::optional<bool>(false));
  // No partial backup under a backup's name, and no temporary file left.
  EXPECT_EQ(FilesIn(backups()), std::vector<std::string>{std::string("Small") + kStamp + ".bak"});
}

// A local folder the program may not write to ends the job early with its
// line and row.
TEST_F(BackupJobTest, LocalFolderNotWritableEndsTheJob) {
  WriteFile(dir_ / "accounts/A.AIS", "a");
  const std::vector<AccountSetEntry> ticked = {{true, "", "A.AIS", "A.AIS"}};
  // Root ignores permission bits; an immutable folder refuses even root.
  if (std::system(("chattr +i '" + backups() + "' 2>/dev/null").c_str()) != 0)
    VELTORA_SKIP_OR_FAIL("chattr +i is not available here");
  Run(FileConfig(ticked));
  std::system(("chattr -i '" + backups() + "'").c_str());
  EXPECT_EQ(log_.lines(), Lines({"本机备份路径没有读写权限，备份失败！"}, 1));
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].localbakfile, "本机备份路径没有读写权限");
  EXPECT_EQ(rows[0].bz, "执行备份失败");
  EXPECT_TRUE(FilesIn(backups()).empty());
}

}  // namespace
}  // namespace veltora
