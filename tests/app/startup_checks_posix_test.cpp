// The start-up checks on POSIX: the administrator is the effective root user,
// and the instance lock is a file in the application folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/startup_checks.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

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

TEST(StartupChecksPosixTest, AdministratorIsTheEffectiveRootUser) {
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

// A folder that is missing, or a link planted as the lock file, is a fault a
// later start may mend, not a second agent.
TEST(StartupChecksPosixTest, LockThatCannotBeOpenedIsAFaultNotAnotherInstance) {
  testing::TempDir dir;
  std::filesystem::create_symlink("/etc/passwd", dir / "veltora.lock");
  for (const std::string& folder : {dir / "missing", dir.str()}) {
    SCOPED_TRACE(folder);
    std::unique_ptr<AppFolderLock> lock;
    std::string detail;
    bool fault = false;
    EXPECT_EQ(ClaimSingleInstance(folder, lock, detail, fault),
              "程序无法使用应用程序文件夹，启动失败！");
    EXPECT_TRUE(fault);
    EXPECT_EQ(lock, nullptr);
    EXPECT_NE(detail.find("cannot open the lock file"), std::string::npos) << detail;
  }
}

}  // namespace
}  // namespace veltora
