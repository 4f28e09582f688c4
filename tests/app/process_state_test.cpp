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
      {"/opt/veltora", "/opt/veltora/", "/opt/veltora/程序运行日志.txt"},
      {"/opt/veltora/", "/opt/veltora/", "/opt/veltora/程序运行日志.txt"},
      {"/", "/", "/程序运行日志.txt"},
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
