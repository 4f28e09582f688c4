// The run log on POSIX: a read-only log is made writable again by its mode bits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "app/run_log.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::ReadFile;
using testing::WriteFile;

TEST(RunLogPosixTest, ReadOnlyFileIsMadeWritableAndGetsTheLine) {
  testing::TempDir dir;
  const std::string path = dir / "程序运行日志.txt";
  testing::FixedClock clock{LocalTime{2024, 5, 1, 13, 5, 9, 3}};
  WriteFile(path, "old\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(AppendRunLog(path, "msg", false, true, clock));
  EXPECT_EQ(ReadFile(path), "old\r\n在2024-05-01 13:05:09 周三 :msg\r\n");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

}  // namespace
}  // namespace veltora
