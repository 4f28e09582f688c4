// The start-up checks on POSIX: the administrator is the effective root user,
// and the instance lock is a file in the application folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/startup_checks.h"
#include "support/other_user_posix.h"
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

// A folder that is missing is a fault a later start may mend, not a second
// agent.
TEST(StartupChecksPosixTest, LockThatCannotBeOpenedIsAFaultNotAnotherInstance) {
  testing::TempDir dir;
  std::unique_ptr<AppFolderLock> lock;
  std::string detail;
  bool fault = false;
  EXPECT_EQ(ClaimSingleInstance(dir / "missing", lock, detail, fault),
            "程序无法使用应用程序文件夹，启动失败！");
  EXPECT_TRUE(fault);
  EXPECT_EQ(lock, nullptr);
  EXPECT_NE(detail.find("cannot open the lock file"), std::string::npos) << detail;
}

// In an application folder everyone may write, another user puts something of
// theirs where a lock file belongs. It is no lock of ours and no holder: both
// locks refuse with their own reason (a fault, so a later start may succeed
// once it is gone), and the thing a link leads to is not touched.
TEST(StartupChecksPosixTest, ALockFileThatIsNotOursIsRefusedWithItsOwnMessage) {
  struct Plant {
    const char* name;
    std::function<bool(const std::string& lock, const std::string& victim)> plant;
    const char* detail;
    bool needsRoot;  // the planter must be another user than the test's
  };
  const Plant plants[] = {
      {"symbolic link",
       [](const std::string& lock, const std::string& victim) {
         return ::symlink(victim.c_str(), lock.c_str()) == 0;
       },
       " is a link", false},
      {"dangling symbolic link",
       [](const std::string& lock, const std::string& victim) {
         return ::symlink((victim + ".new").c_str(), lock.c_str()) == 0;
       },
       " is a link", false},
      {"FIFO",
       [](const std::string& lock, const std::string&) {
         return ::mkfifo(lock.c_str(), 0600) == 0;
       },
       " is not a regular file", false},
      {"folder",
       [](const std::string& lock, const std::string&) { return ::mkdir(lock.c_str(), 0700) == 0; },
       " is not a regular file", false},
      {"file of another user",
       [](const std::string& lock, const std::string&) {
         const int fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
         return fd >= 0 && ::close(fd) == 0;
       },
       " belongs to user ", true},
  };
  for (const Plant& p : plants) {
    for (const char* name : {kInstanceLockFileName, kRunLockFileName}) {
      SCOPED_TRACE(std::string(p.name) + " as " + name);
      if (p.needsRoot && ::geteuid() != 0) continue;
      testing::TempDir dir;
      const std::string shared = dir / "app";
      std::filesystem::create_directory(shared);
      ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
      ASSERT_EQ(::chmod(dir.str().c_str(), 0755), 0);
      const std::string victim = dir / "victim";
      testing::WriteFile(victim, "secret\n");
      ASSERT_EQ(::chmod(victim.c_str(), 0444), 0);
      const std::string lockPath = shared + "/" + name;
      ASSERT_TRUE(testing::AsOtherUser([&] { return p.plant(lockPath, victim); }));

      std::string detail;
      bool held = true;
      bool foreign = false;
      EXPECT_EQ(AppFolderLock::TryAcquire(shared, name, detail, &held, &foreign), nullptr);
      EXPECT_TRUE(foreign);
      EXPECT_FALSE(held);
      EXPECT_NE(
          detail.find(std::string("the lock file is not this program's: ") + lockPath + p.detail),
          std::string::npos)
          << detail;
      if (name == std::string(kInstanceLockFileName)) {
        std::unique_ptr<AppFolderLock> lock;
        bool fault = false;
        EXPECT_EQ(ClaimSingleInstance(shared, lock, detail, fault),
                  "锁文件veltora.lock不是本程序的锁文件（可能是他人放置的链接或文件，请删除它），"
                  "程序无法启动！");
        EXPECT_TRUE(fault);
        EXPECT_EQ(lock, nullptr);
      }
      EXPECT_EQ(testing::ReadFile(victim), "secret\n");
      struct stat st {};
      ASSERT_EQ(::stat(victim.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0444u);
      EXPECT_FALSE(std::filesystem::exists(victim + ".new"));
    }
  }
}

}  // namespace
}  // namespace veltora
