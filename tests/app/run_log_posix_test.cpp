// The run log on POSIX: a read-only log is made writable again by its mode
// bits, and nothing another user plants under the log's name takes a line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "app/run_log.h"
#include "support/fakes.h"
#include "support/other_user_posix.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(RunLogPosixTest, ReadOnlyFileIsMadeWritableAndGetsTheLine) {
  testing::TempDir dir;
  const std::string path = dir / "程序运行日志.txt";
  testing::FixedClock clock{LocalTime{2024, 5, 1, 13, 5, 9, 3}};
  WriteFile(path, "old\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(AppendRunLog(path, "msg", false, true, clock));
  EXPECT_EQ(ReadFile(path), "old\r\n在2024-05-01 13:05:09 周三 :msg\r\n");
  EXPECT_NE(ModeOf(path) & S_IWUSR, 0u);
}

// An application folder everyone may write (0777): another user replaces the
// log by a link to a read-only file of this process's user (root's, when the
// tests run as root), a FIFO, or a link to a file not there yet; or a hard
// link stands there (root plants that one: the kernel's protected hard links
// keep another user from linking a file not theirs). Neither appending nor
// starting the log anew writes, widens, empties or creates anything, and no
// FIFO holds the writer up.
TEST(RunLogPosixTest, NothingPlantedUnderTheLogsNameTakesTheLine) {
  testing::FixedClock clock{LocalTime{2024, 5, 1, 13, 5, 9, 3}};
  struct Plant {
    const char* name;
    std::function<bool(const std::string& log, const std::string& victim)> plant;
    bool byOtherUser;
  };
  const Plant plants[] = {
      {"symbolic link to a read-only file",
       [](const std::string& log, const std::string& victim) {
         return ::symlink(victim.c_str(), log.c_str()) == 0;
       },
       true},
      {"symbolic link to a file not there yet",
       [](const std::string& log, const std::string& victim) {
         return ::symlink((victim + ".new").c_str(), log.c_str()) == 0;
       },
       true},
      {"FIFO",
       [](const std::string& log, const std::string&) { return ::mkfifo(log.c_str(), 0666) == 0; },
       true},
      {"hard link to a read-only file",
       [](const std::string& log, const std::string& victim) {
         return ::link(victim.c_str(), log.c_str()) == 0;
       },
       false},
  };
  for (const Plant& p : plants) {
    for (const bool startNew : {false, true}) {
      SCOPED_TRACE(std::string(p.name) + (startNew ? ", started anew" : ", appended"));
      testing::TempDir dir;
      const std::string shared = dir / "app";
      fs::create_directory(shared);
      ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
      ASSERT_EQ(::chmod(dir.str().c_str(), 0755), 0);
      const std::string victim = dir / "victim";
      WriteFile(victim, "root:x:0:0::/root:/bin/sh\n");
      ASSERT_EQ(::chmod(victim.c_str(), 0444), 0);
      const std::string log = shared + "/程序运行日志.txt";
      if (p.byOtherUser) {
        ASSERT_TRUE(testing::AsOtherUser([&] { return p.plant(log, victim); }));
      } else {
        ASSERT_TRUE(p.plant(log, victim));
      }

      EXPECT_FALSE(AppendRunLog(log, "A\nevil::0:0:::", startNew, true, clock));
      EXPECT_EQ(ReadFile(victim), "root:x:0:0::/root:/bin/sh\n");
      EXPECT_EQ(ModeOf(victim), 0444u);
      EXPECT_FALSE(fs::exists(victim + ".new"));
    }
  }
}

}  // namespace
}  // namespace veltora
