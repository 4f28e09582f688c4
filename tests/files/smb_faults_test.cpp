// The copy to a share when the share misbehaves: bytes stored wrong, a server
// that stops answering, a server that dies. Against the real Samba test
// server, whose processes these tests stop, continue and kill; each fault is
// triggered by what has reached the server's disk, never by a sleep.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/path.h"
#include "files/file_system.h"
#include "files/smb_file_system.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const CopyMarker kOurs = CopyMarker::For("ledger-pc", "/opt/veltora");
// Short, so that a stalled server fails a request soon.
constexpr std::chrono::seconds kRequestTimeout{2};
// Far beyond what any copy here needs, stalled or not: only a copy that never
// returns runs into it.
constexpr std::chrono::seconds kWatchdog{120};
constexpr std::uintmax_t kMiB = 1024 * 1024;

// Polls a condition until it holds or the deadline passes; whether it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class SmbFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    share_ = testing::TestSambaServer(whyNot);
    if (share_ == nullptr) VELTORA_SKIP_OR_FAIL(whyNot);
    folder_ = share_->localFolder + "/faults";
    fs::remove_all(folder_);
    smb_ = std::make_unique<SmbFileSystem>(share_->port, kRequestTimeout, kOurs);
    ASSERT_EQ(smb_->Connect(share_->sharePath, share_->user, share_->password), 0);
    ASSERT_TRUE(smb_->MakeFolder(Remote()));

    std::mt19937 gen(7);
    content_.resize(8 * kMiB);
    for (char& c : content_) c = static_cast<char>(gen() & 0xFF);
    WriteFile(source_, content_);
  }

  // The test folder on the share, or a name in it, as the client names it.
  std::string Remote(const std::string& name = "") const {
    const std::string folder = JoinPath(share_->sharePath, "faults");
    return name.empty() ? folder : JoinPath(folder, name);
  }

  // Names in the test folder, as the server's disk holds them.
  std::vector<std::string> NamesOnDisk() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  // This agent's temporary copy on the server's disk; empty while there is none.
  std::string TemporaryOnDisk() const {
    for (const auto& e : fs::directory_iterator(folder_))
      if (IsTemporaryCopyName(e.path().filename().string(), kOurs)) return e.path();
    return std::string();
  }

  // Copies the source to `name` on another thread and does `fault` to the
  // server once the first megabyte of the temporary file is on its disk. The
  // copy waits in its first progress report until the fault is done, so the
  // fault strikes in the middle of the copy and not after it.
  FileOutcome CopyWithFaultMidway(const std::string& name, const std::function<void()>& fault) {
    std::promise<void> faulted;
    const std::shared_future<void> faultDone = faulted.get_future().share();
    bool first = true;
    std::future<FileOutcome> copy = std::async(std::launch::async, [&] {
      return smb_->CopyFromLocal(source_, Remote(name), false, [&](std::uint64_t, std::uint64_t) {
        if (std::exchange(first, false)) faultDone.wait_for(kWatchdog);
      });
    });
    EXPECT_TRUE(WaitUntil(
        [&] {
          const std::string temp = TemporaryOnDisk();
          std::error_code ec;
          return !temp.empty() && fs::file_size(temp, ec) >= kMiB;
        },
        kWatchdog))
        << "the copy never reached the share";
    fault();
    faulted.set_value();
    if (copy.wait_for(kWatchdog) != std::future_status::ready) {
      ADD_FAILURE() << "the copy did not return while the server was down";
      testing::ThawTestSambaServer();  // so that it can end
    }
    return copy.get();
  }

  const testing::SambaShare* share_ = nullptr;
  std::string folder_;
  std::unique_ptr<SmbFileSystem> smb_;
  TempDir scratch_;
  std::string source_ = scratch_ / "source.7z";
  std::string content_;
};

TEST_F(SmbFaultTest, CopyCountsOnlyWhenTheShareHoldsTheSourcesBytes) {
  const struct {
    const char* what;
    std::function<void(const std::string& temp, const std::string& content)> spoil;
    const char* error;
  } cases[] = {
      {"a byte changes on the share",
       [](const std::string& temp, const std::string& content) {
         const int fd = ::open(temp.c_str(), O_WRONLY);
         ASSERT_GE(fd, 0);
         const char other = static_cast<char>(~content[100]);
         EXPECT_EQ(::pwrite(fd, &other, 1, 100), 1);
         ::close(fd);
       },
       "the copy on the share differs from the source"},
      {"the file on the share grows",
       [](const std::string& temp, const std::string& content) {
         fs::resize_file(temp, content.size() + 1);
       },
       "the copy on the share does not have the source's size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool spoiled = false;
    const FileOutcome outcome =
        smb_->CopyFromLocal(source_, Remote("a.rar"), false, [&](std::uint64_t, std::uint64_t) {
          if (!std::exchange(spoiled, true)) c.spoil(TemporaryOnDisk(), content_);
        });
    EXPECT_TRUE(spoiled);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_TRUE(NamesOnDisk().empty()) << "neither the final name nor the temporary file";
  }

  // Unspoiled, the same copy counts.
  const FileOutcome outcome = smb_->CopyFromLocal(source_, Remote("a.rar"), false, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_TRUE(ReadFile(folder_ + "/a.rar") == content_);
  EXPECT_EQ(NamesOnDisk(), std::vector<std::string>{"a.rar"});
}

TEST_F(SmbFaultTest, StalledServerEndsTheCopyWithAFailure) {
  const FileOutcome outcome =
      CopyWithFaultMidway("a.rar", [] { ASSERT_TRUE(testing::FreezeTestSambaServer()); });
  ASSERT_TRUE(testing::ThawTestSambaServer());
  EXPECT_FALSE(outcome.ok);
  EXPECT_FALSE(outcome.error.empty());
  EXPECT_FALSE(fs::exists(folder_ + "/a.rar"));

  // Once the server answers again, the same client clears what the stalled
  // copy left (as soon as the server has let go of it) and copies anew.
  EXPECT_TRUE(WaitUntil(
      [&] {
        RemoveStaleTemporaryFiles(*smb_, Remote());
        return TemporaryOnDisk().empty();
      },
      kWatchdog));
  const FileOutcome again = smb_->CopyFromLocal(source_, Remote("a.rar"), false, {});
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_TRUE(ReadFile(folder_ + "/a.rar") == content_);
  EXPECT_EQ(NamesOnDisk(), std::vector<std::string>{"a.rar"});
}

// A backup run's client asks a frozen server once: after the first time-out
// every later call fails at once, a change with the time-out's reason.
TEST_F(SmbFaultTest, AfterATimeOutARunsClientFailsAtOnce) {
  smb_ = std::make_unique<SmbFileSystem>(share_->port, kRequestTimeout, kOurs, kSmbClientLibrary,
                                         AfterTimeout::kFailAtOnce);
  ASSERT_EQ(smb_->Connect(share_->sharePath, share_->user, share_->password), 0);
  const FileOutcome first =
      CopyWithFaultMidway("a.rar", [] { ASSERT_TRUE(testing::FreezeTestSambaServer()); });
  EXPECT_FALSE(first.ok);

  const auto start = std::chrono::steady_clock::now();
  const FileOutcome second = smb_->CopyFromLocal(source_, Remote("b.rar"), false, {});
  const FileOutcome deleted = smb_->DeleteFile(Remote("a.rar"));
  std::vector<FolderEntry> entries;
  const bool listed = smb_->ReadFolder(Remote(), entries);
  const int connected = smb_->Connect(share_->sharePath, share_->user, share_->password);
  const auto spent = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(testing::ThawTestSambaServer());

  EXPECT_LT(spent, kRequestTimeout) << "no call waited for the server again";
  EXPECT_EQ(second.error, first.error);
  EXPECT_EQ(deleted.error, first.error);
  EXPECT_FALSE(listed);
  EXPECT_EQ(connected, 53);
}

// A copy back from a share that freezes midway ends with the time-out's
// reason and leaves nothing locally; a run's client then fails at once.
TEST_F(SmbFaultTest, StalledServerEndsTheCopyToLocalAndLeavesNothingHere) {
  smb_ = std::make_unique<SmbFileSystem>(share_->port, kRequestTimeout, kOurs, kSmbClientLibrary,
                                         AfterTimeout::kFailAtOnce);
  ASSERT_EQ(smb_->Connect(share_->sharePath, share_->user, share_->password), 0);
  ASSERT_TRUE(smb_->CopyFromLocal(source_, Remote("a.rar"), false, {}));
  const std::string into = scratch_ / "restore";
  fs::create_directory(into);

  // The first report comes once the first megabyte is here: freeze then.
  bool frozen = false;
  std::future<FileOutcome> copy = std::async(std::launch::async, [&] {
    return smb_->CopyToLocal(Remote("a.rar"), into + "/a.AIS", false,
                             [&](std::uint64_t, std::uint64_t) {
                               if (!std::exchange(frozen, true)) {
                                 EXPECT_TRUE(testing::FreezeTestSambaServer());
                               }
                             });
  });
  const bool returned = copy.wait_for(kWatchdog) == std::future_status::ready;
  if (!returned) testing::ThawTestSambaServer();  // so that it can end
  const FileOutcome outcome = copy.get();
  const auto start = std::chrono::steady_clock::now();
  const FileOutcome again = smb_->CopyToLocal(Remote("a.rar"), into + "/a.AIS", false, {});
  const auto spentAgain = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(testing::ThawTestSambaServer());

  ASSERT_TRUE(returned) << "the copy did not return while the server was frozen";
  EXPECT_TRUE(frozen);
  EXPECT_FALSE(outcome.ok);
  // Ended by the client's time-out (not bounded in seconds here: its clean-up
  // asks the frozen server again, and a loaded machine stretches that).
  EXPECT_EQ(outcome.error, "Connection timed out");
  EXPECT_TRUE(testing::FilesIn(into).empty()) << "neither the target nor a temporary file";
  EXPECT_EQ(again.error, outcome.error);
  EXPECT_LT(spentAgain, kRequestTimeout) << "the server was not asked again";
}

TEST_F(SmbFaultTest, KilledServerLeavesNothingUnderTheFinalName) {
  const FileOutcome outcome =
      CopyWithFaultMidway("a.rar", [] { ASSERT_TRUE(testing::KillTestSambaServer()); });
  EXPECT_FALSE(outcome.ok);
  EXPECT_FALSE(outcome.error.empty());

  ASSERT_TRUE(testing::RestartTestSambaServer());
  EXPECT_FALSE(fs::exists(folder_ + "/a.rar"));
  ASSERT_TRUE(smb_->IsFolder(Remote())) << "the client reaches the restarted server";
  EXPECT_FALSE(smb_->IsFile(Remote("a.rar")));
  // The leftover temporary file is this agent's to clear.
  EXPECT_GE(RemoveStaleTemporaryFiles(*smb_, Remote()), 0);
  EXPECT_TRUE(NamesOnDisk().empty());
}

}  // namespace
}  // namespace veltora
