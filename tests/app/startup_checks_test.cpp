#include "app/startup_checks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

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

// Restores the effective user id on every path out of the test.
class EffectiveUser {
 public:
  explicit EffectiveUser(uid_t uid) : ok_(::seteuid(uid) == 0) {}
  ~EffectiveUser() {
    if (ok_) {
      EXPECT_EQ(::seteuid(0), 0);
    }
  }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

TEST(StartupChecksTest, AdministratorIsTheEffectiveRootUser) {
  constexpr char kRefusal[] = "您好，请以管理员帐号登录系统后再运行本程序！";
  if (::geteuid() != 0) {
    EXPECT_FALSE(IsAdministrator());
    EXPECT_EQ(RefuseNonAdministrator(), kRefusal);
    VELTORA_SKIP_OR_FAIL("the administrator case needs the tests to run as root");
  }
  EXPECT_TRUE(IsAdministrator());
  EXPECT_EQ(RefuseNonAdministrator(), "");
  {
    // The real id stays 0: a process that dropped its effective id is no
    // longer an administrator.
    EffectiveUser nobody(65534);
    ASSERT_TRUE(nobody.ok());
    ASSERT_EQ(::getuid(), 0u);
    EXPECT_FALSE(IsAdministrator());
    EXPECT_EQ(RefuseNonAdministrator(), kRefusal);
  }
  EXPECT_TRUE(IsAdministrator());
}

TEST(StartupChecksTest, SecondInstanceOnTheFolderIsRefusedUntilTheFirstGoes) {
  constexpr char kRefusal[] = "您好，程序已经运行，无需重复运行！";
  testing::TempDir dir;
  std::unique_ptr<AppFolderLock> first;
  std::string detail;
  EXPECT_EQ(ClaimSingleInstance(dir.str(), first, detail), "");
  ASSERT_NE(first, nullptr);

  std::unique_ptr<AppFolderLock> second;
  EXPECT_EQ(ClaimSingleInstance(dir.str(), second, detail), kRefusal);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(detail.find("another backup or agent is running"), std::string::npos) << detail;

  first.reset();
  EXPECT_EQ(ClaimSingleInstance(dir.str(), second, detail), "");
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(detail, "");
}

TEST(StartupChecksTest, LockThatCannotBeTakenCountsAsAnotherInstance) {
  testing::TempDir dir;
  std::unique_ptr<AppFolderLock> lock;
  std::string detail;
  EXPECT_EQ(ClaimSingleInstance(dir / "missing", lock, detail),
            "您好，程序已经运行，无需重复运行！");
  EXPECT_EQ(lock, nullptr);
  EXPECT_NE(detail.find("cannot open the lock file"), std::string::npos) << detail;
}

}  // namespace
}  // namespace veltora
