// The share connection of Windows. Wine has no network provider (it answers
// 1222), so the connector's calls are injected; one real call shows the
// system's answer goes through.
#include <gtest/gtest.h>

#include "files/run_file_systems.h"
#include "files/share_connection.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::RecordingLog;

TEST(ShareConnectionWinTest, CancelsThenConnectsAndTellsTheCodes) {
  struct Case {
    std::string path;
    std::string user;
    int code;
    bool result;
    std::string connected;  // the path both calls were given; empty: no call
    std::string logLine;
  };
  const Case cases[] = {
      {"  \\\\srv\\bak\\ ", " admin ", 0, true, "\\\\srv\\bak", ""},
      {"\\\\srv\\bak\\\\", "admin", 0, true, "\\\\srv\\bak\\", ""},
      {"\\\\srv\\bak", "admin", 86, false, "\\\\srv\\bak",
       "您好，程序尝试用用户名为:admin的用户，建立与远程共享文件夹\\\\srv\\bak的连接但操作失败，"
       "错误代码为:86,请将这个错误代码告知开发人员，谢谢您的合作！"},
      {"\\\\srv\\bak", "admin", 1219, true, "\\\\srv\\bak",
       "您好，程序尝试用用户名为:admin的用户，建立与远程共享文件夹\\\\srv\\bak的连接但操作失败，"
       "错误代码为:1219,请将这个错误代码告知开发人员，谢谢您的合作！"},
      {"\\\\srv\\bak", "  ", 0, false, "", ""},
      {"", "admin", 0, false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + "|" + c.user + "|" + std::to_string(c.code));
    std::vector<std::string> calls;
    WNetShareConnector connector(
        {[&](const std::string& name) {
           calls.push_back("cancel " + name);
           return 2250;  // no such connection
         },
         [&](const std::string& name, const std::string& user, const std::string& password) {
           calls.push_back("add " + name + " " + user + " " + password);
           return c.code;
         }});
    RecordingLog log;
    EXPECT_EQ(ConnectShare(connector, log, c.path, c.user, " pw "), c.result);
    if (c.connected.empty()) {
      EXPECT_TRUE(calls.empty());
    } else {
      EXPECT_EQ(calls, (std::vector<std::string>{"cancel " + c.connected,
                                                 "add " + c.connected + " admin  pw "}))
          << "the password untrimmed";
    }
    EXPECT_EQ(log.lines(),
              c.logLine.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.logLine});
  }
}

TEST(ShareConnectionWinTest, TheSystemProviderAnswersACode) {
  LocalAndSmbFileSystems files(445, std::chrono::milliseconds(1000), CopyMarker());
  RecordingLog log;
  const int code = files.Share().Connect("\\\\veltora-no-such-host\\share", "user", "secret");
  EXPECT_NE(code, 0);
  EXPECT_FALSE(
      ConnectShare(files.Share(), log, "\\\\veltora-no-such-host\\share", "user", "secret"));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].find("secret"), std::string::npos);
  // Share paths are served by the local file system, as UNC paths.
  EXPECT_EQ(&files.Router().For("\\\\srv\\bak\\x"), &files.Router().local());
}

}  // namespace
}  // namespace veltora
