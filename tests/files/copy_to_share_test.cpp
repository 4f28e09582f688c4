#include "files/copy_to_share.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "files/local_file_system.h"
#include "files/run_file_systems.h"
#include "files/smb_file_system.h"
#include "support/fakes.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RecordingLog;
using testing::TempDir;
using testing::WriteFile;

// Never asked to connect: the remote folder in these cases is a local one.
class NoShare final : public ShareConnector {
 public:
  int Connect(const std::string&, const std::string&, const std::string&) override {
    ADD_FAILURE() << "a local remote folder is used without connecting";
    return 53;
  }
};

class CopyToShareTest : public ::testing::Test {
 protected:
  CopyToShareTest() {
    fs::create_directories(local());
    fs::create_directories(remote());
  }
  std::string local() const { return dir_ / "local"; }
  std::string remote() const { return dir_ / "remote"; }

  CopiedNames Copy(const std::string& user = "u", const std::string& remoteFolder = "") {
    return CopyToShare(router_, share_, log_, user, "pw", local(),
                       remoteFolder.empty() ? remote() : remoteFolder, "*.7z");
  }

  TempDir dir_;
  LocalFileSystem fs_;
  FileSystemRouter router_{fs_, nullptr};
  NoShare share_;
  RecordingLog log_;
};

TEST_F(CopyToShareTest, CopiesWhatTheRemoteFolderLacksAndNeverOverwrites) {
  WriteFile(local() + "/a.7z", "a");
  WriteFile(local() + "/b.7z", "b");
  WriteFile(local() + "/c.bak", "not matching");
  WriteFile(remote() + "/a.7z", "the share's own a");
  const CopiedNames copied = Copy();
  EXPECT_EQ(copied.text, "|b.7z|");
  EXPECT_TRUE(copied.Contains("b.7z"));
  EXPECT_FALSE(copied.Contains("a.7z"));
  EXPECT_FALSE(copied.Contains(".7z")) << "whole names only";
  EXPECT_EQ(ReadFile(remote() + "/a.7z"), "the share's own a");
  EXPECT_EQ(ReadFile(remote() + "/b.7z"), "b");
  EXPECT_EQ(log_.lines(),
            std::vector<std::string>{"成功将" + local() + "/b.7z复制到" + remote() + "/目录下！"});
  log_.Clear();
  EXPECT_EQ(Copy().text, "|") << "everything there already: started, nothing copied";
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(CopyToShareTest, EachFailureHasItsLineAndTheListSaysWhetherTheCopyStarted) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string user;
    std::string remoteFolder;
    std::string list;
    std::string line;
  };
  const Case cases[] = {
      {"no user", [] {}, "", "", "", "复制参数有误，复制失败！"},
      {"remote folder missing", [] {}, "u", dir_ / "nowhere", "", "远程共享文件夹无效！"},
      {"nothing anywhere", [] {}, "u", "", "", "没有文件需要移动到远程共享文件夹,复制失败！"},
      {"only in a subfolder",
       [this] {
         fs::create_directories(local() + "/sub");
         WriteFile(local() + "/sub/a.7z", "a");
       },
       "u", "", "", "没有文件需要复制到远程共享文件夹,复制失败！"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(local());
    fs::create_directories(local());
    log_.Clear();
    c.arrange();
    EXPECT_EQ(Copy(c.user, c.remoteFolder).text, c.list);
    EXPECT_EQ(log_.lines(), std::vector<std::string>{c.line});
  }
}

// A file that cannot be copied gets its line with the reason; a name the share
// could not hold is never sent; the other files still go.
TEST_F(CopyToShareTest, AFailedCopySaysWhyAndTheOthersGo) {
  WriteFile(local() + "/a.7z", "a");
  WriteFile(local() + "/b?.7z", "b");
  WriteFile(local() + "/c.7z", "c");
  // Where c.7z should go, a folder: the copy cannot take that name.
  fs::create_directories(remote() + "/c.7z");
  const CopiedNames copied = Copy();
  EXPECT_EQ(copied.text, "|a.7z|");
  const auto lines = log_.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "成功将" + local() + "/a.7z复制到" + remote() + "/目录下！");
  EXPECT_EQ(lines[1], "无法将" + local() + "/b?.7z复制到" + remote() +
                          "/目录下！导致失败可能的原因为：文件名含有远程共享文件夹不能保存的字符"
                          "（\\ / : * ? \" < > |）或者过长");
  EXPECT_EQ(
      lines[2].rfind(
          "无法将" + local() + "/c.7z复制到" + remote() + "/目录下！导致失败可能的原因为：", 0),
      0u)
      << lines[2];
  EXPECT_GT(lines[2].size(), lines[0].size()) << "with the reason";
  EXPECT_FALSE(fs::exists(remote() + "/b?.7z"));
}

// On a real share each file reports its bytes sent and then its bytes read
// back, each pass ending with done == total, by the file's name.
TEST_F(CopyToShareTest, ACopyToTheShareReportsItsWriteAndItsReadBack) {
  std::string whyNot;
  const testing::SambaShare* share = testing::TestSambaServer(whyNot);
  if (share == nullptr) VELTORA_SKIP_OR_FAIL(whyNot);
  fs::remove_all(share->localFolder + "/progress");
  fs::create_directories(share->localFolder + "/progress");
  fs::permissions(share->localFolder + "/progress", fs::perms::all);  // the share's account writes
  constexpr std::uint64_t kSize = 3 << 20;  // several of the copy's 1 MiB chunks
  WriteFile(local() + "/a.7z", std::string(kSize, 'a'));
  WriteFile(local() + "/b.bak", "not matching");

  struct Report {
    std::string name;
    CopyPass pass;
    std::uint64_t done, total;
  };
  std::vector<Report> reports;
  LocalAndSmbFileSystems files(share->port, std::chrono::seconds(20), CopyMarker());
  const CopiedNames copied = CopyToShare(
      files.Router(), files.Share(), log_, share->user, share->password, local(),
      share->sharePath + "\\progress", "*.7z",
      [&](const std::string& name, CopyPass pass, std::uint64_t done, std::uint64_t total) {
        reports.push_back({name, pass, done, total});
      });
  EXPECT_EQ(copied.text, "|a.7z|") << ::testing::PrintToString(log_.lines());

  std::uint64_t last[2] = {0, 0};
  bool readingBack = false;
  for (const Report& r : reports) {
    SCOPED_TRACE(std::to_string(r.done) + " / " + std::to_string(r.total));
    EXPECT_EQ(r.name, "a.7z");
    EXPECT_EQ(r.total, kSize);
    const bool back = r.pass == CopyPass::kReadBack;
    EXPECT_TRUE(back || !readingBack) << "the read-back comes after the write";
    readingBack = back;
    EXPECT_GE(r.done, last[back]);
    last[back] = r.done;
  }
  EXPECT_EQ(last[0], kSize) << "the write pass ends complete";
  EXPECT_EQ(last[1], kSize) << "and so does the read-back";
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().pass, CopyPass::kReadBack);
  EXPECT_EQ(ReadFile(share->localFolder + "/progress/a.7z"), std::string(kSize, 'a'));
}

TEST(ShareCanHoldNameTest, Names) {
  const std::pair<std::string, bool> cases[] = {
      {"ACME20240501013000.7z", true},
      {"华东 贸易20240501013000.7z", true},
      {"a:b.7z", false},
      {"a\\b.7z", false},
      {"a*b.7z", false},
      {"a\"b.7z", false},
      {"ab.", false},
      {"ab ", false},
      {std::string(255, 'x'), true},
      {std::string(256, 'x'), false},
      {"", false},
      {std::string("a\tb"), false},
  };
  for (const auto& [name, ok] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ShareCanHoldName(name), ok);
  }
}

}  // namespace
}  // namespace veltora
