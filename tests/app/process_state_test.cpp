#include "app/process_state.h"

#include <gtest/gtest.h>

namespace veltora {
namespace {

TEST(ProcessStateTest, PathsFromTheApplicationFolder) {
  const struct {
    const char* folder;
    const char* appFolder;
    const char* runLog;
  } cases[] = {
#ifdef _WIN32
      {"C:\\veltora", "C:\\veltora\\", "C:\\veltora\\程序运行日志.txt"},
      {"C:\\veltora\\", "C:\\veltora\\", "C:\\veltora\\程序运行日志.txt"},
      {"C:/veltora/", "C:/veltora\\", "C:/veltora\\程序运行日志.txt"},
      {"C:\\", "C:\\", "C:\\程序运行日志.txt"},
#else
      {"/opt/veltora", "/opt/veltora/", "/opt/veltora/程序运行日志.txt"},
      {"/opt/veltora/", "/opt/veltora/", "/opt/veltora/程序运行日志.txt"},
      {"/", "/", "/程序运行日志.txt"},
#endif
      {"", "", ""},  // folder unknown: every run-log write is a no-op
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const ProcessState state(c.folder);
    EXPECT_EQ(state.appFolder, c.appFolder);
    EXPECT_EQ(state.runLogPath, c.runLog);
    EXPECT_EQ(RunLogPathFor(c.folder), c.runLog);
    EXPECT_FALSE(state.backupRunning.load());
  }
}

}  // namespace
}  // namespace veltora
