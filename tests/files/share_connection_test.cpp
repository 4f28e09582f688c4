#include "files/share_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/smb_file_system.h"
#include "support/fakes.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::RecordingLog;

// Answers a set code and remembers what it was asked.
class ScriptedConnector final : public ShareConnector {
 public:
  explicit ScriptedConnector(int code) : code_(code) {}
  int Connect(const std::string& path, const std::string& user,
              const std::string& password) override {
    calls.push_back(path + "|" + user + "|" + password);
    return code_;
  }
  std::vector<std::string> calls;

 private:
  int code_;
};

TEST(ConnectShareTest, TrimsRemovesOneBackslashAndRefusesBlanksWithoutACall) {
  struct Case {
    std::string path;
    std::string user;
    std::vector<std::string> calls;
    bool result;
  } cases[] = {
      {"\\\\srv\\bak\\", "user", {"\\\\srv\\bak|user| pw "}, true},
      {" \\\\srv\\bak\\\\ ", " DOM\\user ", {"\\\\srv\\bak\\|DOM\\user| pw "}, true},
      {"\\\\srv\\bak", "user", {"\\\\srv\\bak|user| pw "}, true},
      {"\\\\srv\\bak", "  ", {}, false},
      {" \t", "user", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + "/" + c.user);
    ScriptedConnector connector(0);
    RecordingLog log;
    EXPECT_EQ(ConnectShare(connector, log, c.path, c.user, " pw "), c.result);
    EXPECT_EQ(connector.calls, c.calls);  // the password goes as given
    EXPECT_TRUE(log.lines().empty());
  }
}

TEST(ConnectShareTest, FailureCodesAreLoggedAndOnly1219CountsAsConnected) {
  for (const int code : {86, 1326, 53, 1219}) {
    SCOPED_TRACE(code);
    ScriptedConnector connector(code);
    RecordingLog log;
    EXPECT_EQ(ConnectShare(connector, log, "\\\\srv\\bak\\", "张三", "secret"), code == 1219);
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{
                  "您好，程序尝试用用户名为:张三的用户，建立与远程共享文件夹\\\\srv\\"
                  "bak的连接但操作失败，错误代码为:" +
                  std::to_string(code) + ",请将这个错误代码告知开发人员，谢谢您的合作！"});
  }
}

// The real client against the test's Samba server.
class SambaConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    share_ = testing::TestSambaServer(whyNot);
    if (share_ == nullptr) VELTORA_SKIP_OR_FAIL(whyNot);
  }
  const testing::SambaShare* share_ = nullptr;
  RecordingLog log_;
};

TEST_F(SambaConnectTest, RightAccountConnectsAgainAndAgain) {
  SmbFileSystem smb(share_->port);
  EXPECT_TRUE(ConnectShare(smb, log_, share_->sharePath + "\\", share_->user, share_->password));
  EXPECT_TRUE(smb.IsFolder(share_->sharePath));
  EXPECT_TRUE(
      ConnectShare(smb, log_, share_->sharePath, "VELTORATEST\\" + share_->user, share_->password));
  EXPECT_TRUE(smb.IsFolder(share_->sharePath));
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(SambaConnectTest, RefusalsAnswerWindowsCodes) {
  struct Case {
    const char* what;
    std::string path;
    std::string user;
    std::string password;
    std::uint16_t port;
    int code;
    bool accountWorks;  // the share is reachable with the account afterwards
  } cases[] = {
      {"wrong password", share_->sharePath, share_->user, "wrong", share_->port, 1326, false},
      {"unknown user", share_->sharePath, "nosuchuser", share_->password, share_->port, 1326,
       false},
      {"unknown share", "\\\\127.0.0.1\\nosuchshare", share_->user, share_->password, share_->port,
       67, true},
      {"share closed to the account", "\\\\127.0.0.1\\locked", share_->user, share_->password,
       share_->port, 5, true},
      {"nothing listening", share_->sharePath, share_->user, share_->password,
       testing::UnusedLoopbackPort(), 53, false},
      {"unknown server", "\\\\no-such-host.invalid\\bak", share_->user, share_->password,
       share_->port, 53, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SmbFileSystem smb(c.port);
    EXPECT_EQ(smb.Connect(c.path, c.user, c.password), c.code);
    EXPECT_EQ(smb.IsFolder(share_->sharePath), c.accountWorks);
  }

  // A refusal after a good connection drops the good one too.
  SmbFileSystem smb(share_->port);
  ASSERT_EQ(smb.Connect(share_->sharePath, share_->user, share_->password), 0);
  EXPECT_FALSE(ConnectShare(smb, log_, share_->sharePath, share_->user, "wrong"));
  EXPECT_FALSE(smb.IsFolder(share_->sharePath));
  EXPECT_EQ(log_.lines(), std::vector<std::string>{
                              "您好，程序尝试用用户名为:" + share_->user +
                              "的用户，建立与远程共享文件夹\\\\127.0.0.1\\bak的连接但操作失败，"
                              "错误代码为:1326,请将这个错误代码告知开发人员，谢谢您的合作！"});
}

TEST(SmbUrlTest, EncodesWhatUrlsCannotHold) {
  struct Case {
    std::string path;
    std::string url;
  } cases[] = {
      {"\\\\srv\\bak", "smb://srv:445/bak"},
      {"\\\\srv\\bak\\\\a b\\中.rar\\", "smb://srv:445/bak/a%20b/%E4%B8%AD.rar"},
      {"\\\\srv\\bak\\50%#?;@x", "smb://srv:445/bak/50%25%23%3F%3B%40x"},
      {"\\\\srv", "smb://srv:445"},
      {"\\\\", ""},
      {"/local/path", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(SmbUrlFor(c.path, 445), c.url);
  }
}

}  // namespace
}  // namespace veltora
