#include "service/agent_service.h"

#include <gtest/gtest.h>

namespace veltora {
namespace {

// The folder must come back whole from the command line the service manager
// stores, or the service serves another folder than the one installed.
TEST(AgentServiceCommandLineTest, TheFolderComesBackWhole) {
  const std::string exe = "C:\\Program Files\\青岚\\veltora-cli.exe";
  for (const std::string folder :
       {"C:\\Program Files\\青岚", "D:\\", "D:\\账套 备份\\", "\\\\server\\share\\a b",
        "C:\\100% & !x!", "C:\\trailing\\\\", "C:\\plain"}) {
    const std::string line = AgentServiceCommandLine(exe, folder);
    EXPECT_EQ(AppFolderOfServiceCommand(line), folder) << line;
  }
  EXPECT_EQ(AgentServiceCommandLine(exe, "D:\\"),
            "\"C:\\Program Files\\青岚\\veltora-cli.exe\" --app-dir \"D:\\\\\" serve --service");
}

// A line edited by hand in the service's properties: unquoted, tabs, an
// escaped quote; one without the option names no folder.
TEST(AgentServiceCommandLineTest, ReadsLinesItDidNotWrite) {
  EXPECT_EQ(AppFolderOfServiceCommand("C:\\v\\veltora-cli.exe --app-dir C:\\data serve --service"),
            "C:\\data");
  EXPECT_EQ(AppFolderOfServiceCommand("x.exe\t--app-dir\t\"a\\\\\\\"b\" serve"), "a\\\"b");
  EXPECT_EQ(AppFolderOfServiceCommand("\"C:\\a b\\veltora-cli.exe\" serve --service"),
            std::nullopt);
  EXPECT_EQ(AppFolderOfServiceCommand("\"C:\\a b\\x.exe\" --app-dir"), std::nullopt);
}

}  // namespace
}  // namespace veltora
