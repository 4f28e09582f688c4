// The start-up checks on POSIX: the administrator is the effective root user,
// and the instance lock is a file in the application folder.
#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(StartupChecksPosixTest, LockThatCannotBeTakenCountsAsAnotherInstance) {
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
