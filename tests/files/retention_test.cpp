#include "files/retention.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "base/path.h"
#include "base/text.h"
#include "files/local_file_system.h"
#include "files/smb_file_system.h"
#include "support/fakes.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::RecordingLog;
using testing::TempDir;
using testing::WriteFile;

// Real local files whose creation times the test sets: Linux keeps birth
// times but offers no way to set them, so this wrapper reports the times a
// case gives and passes every other call to the real file system.
class TimedFileSystem final : public FileSystem {
 public:
  explicit TimedFileSystem(FileSystem& real) : real_(real) {}
  void SetCreated(const std::string& name, DateTime t) { times_[name] = t; }

  const CopyMarker& marker() const override { return real_.marker(); }
  bool IsFile(const std::string& p) override { return real_.IsFile(p); }
  bool IsFolder(const std::string& p) override { return real_.IsFolder(p); }
  bool ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) override {
    if (!real_.ReadFolder(folder, entries)) return false;
    for (auto& e : entries)
      if (auto it = times_.find(e.name); it != times_.end()) e.created = it->second;
    return true;
  }
  DateTime CreationTime(const std::string& p) override {
    auto it = times_.find(BaseName(p));
    return it != times_.end() ? it->second : real_.CreationTime(p);
  }
  bool MakeFolder(const std::string& p) override { return real_.MakeFolder(p); }
  bool RemoveFolder(const std::string& p) override { return real_.RemoveFolder(p); }
  bool DeleteFile(const std::string& p) override { return real_.DeleteFile(p); }
  bool Rename(const std::string& a, const std::string& b) override { return real_.Rename(a, b); }
  CopyOutcome CopyFromLocal(const std::string& s, const std::string& t, bool o,
                            const CopyProgress& p) override {
    return real_.CopyFromLocal(s, t, o, p);
  }

 private:
  FileSystem& real_;
  std::map<std::string, DateTime> times_;
};

// Never asked to connect: these cases use local folders on both sides.
class NoShare final : public ShareConnector {
 public:
  int Connect(const std::string&, const std::string&, const std::string&) override {
    ADD_FAILURE() << "no share path in these cases";
    return 53;
  }
};

std::string Stamped(const std::string& base, int hour) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "202405%02d%02d0000", 1 + hour / 24, hour % 24);
  return base + stamp + ".7z";
}

class RetentionTest : public ::testing::Test {
 protected:
  RetentionTest() : timed_(local_), router_(timed_, nullptr), ctx_{router_, share_, log_} {
    fs::create_directories(localDir());
    fs::create_directories(remoteDir());
  }

  std::string localDir() const { return dir_ / "local"; }
  std::string remoteDir() const { return dir_ / "remote"; }
  void RemoteCases(const RetentionContext& ctx, const std::string& remote,
                   const std::string& physicalRemote, const std::string& user = "user",
                   const std::string& password = "pw");

  // Makes a backup created at `hour` o'clock (a day is 24 hours on).
  void Make(const std::string& folder, const std::string& base, int hour) {
    const std::string name = Stamped(base, hour);
    WriteFile(JoinPath(folder, name), name);
    timed_.SetCreated(name, 45413.0 + hour / 24.0);
    if (timedShare_) timedShare_->SetCreated(name, 45413.0 + hour / 24.0);
  }

  std::vector<std::string> Left(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  LocalFileSystem local_;
  TimedFileSystem timed_;
  FileSystemRouter router_;
  TimedFileSystem* timedShare_ = nullptr;  // set by the share's test
  NoShare share_;
  RecordingLog log_;
  RetentionContext ctx_;
};

TEST(SortByDateTest, StableAscendingAndReversedDescending) {
  std::vector<ybhzf> files = {{"c", 3}, {"a1", 1}, {"b", 2}, {"a2", 1}, {"x", -1.0}};
  ASSERT_TRUE(SortByDate(files, true));
  std::vector<std::string> order;
  for (const auto& f : files) order.push_back(f.path);
  EXPECT_EQ(order, (std::vector<std::string>{"x", "a1", "a2", "b", "c"}));
  ASSERT_TRUE(SortByDate(files, false));
  order.clear();
  for (const auto& f : files) order.push_back(f.path);
  EXPECT_EQ(order, (std::vector<std::string>{"c", "b", "a2", "a1", "x"}));
  std::vector<ybhzf> none;
  EXPECT_FALSE(SortByDate(none, true));
}

TEST_F(RetentionTest, PruneLocalLeavesExactlyTheNewestKeepCount) {
  struct Case {
    const char* what;
    std::vector<int> acmeHours;   // backups of ACME, by creation hour
    std::vector<int> acme2Hours;  // backups of ACME2, which ACME's mask must leave alone
    int keep;
    bool result;
    std::vector<int> acmeLeft;
  };
  const Case cases[] = {
      {"four, keep 3", {1, 2, 3, 4}, {}, 3, true, {2, 3, 4}},
      {"exactly keep", {1, 2, 3}, {}, 3, true, {1, 2, 3}},
      {"ACME2 is not ACME's", {1, 2, 3}, {0, 5, 6, 7}, 2, true, {2, 3}},
      {"keep 0 with files", {1, 2}, {}, 0, false, {1, 2}},
      {"keep 0 without files", {}, {1}, 0, true, {}},
      {"keep 1", {4, 1, 3}, {}, 1, true, {4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(localDir());
    fs::create_directories(localDir());
    log_.Clear();
    for (int h : c.acmeHours) Make(localDir(), "ACME", h);
    for (int h : c.acme2Hours) Make(localDir(), "ACME2", h);

    EXPECT_EQ(PruneLocal(ctx_, localDir(), BackupMaskFor("ACME", ".7z"), c.keep, true), c.result);

    std::vector<std::string> expected;
    for (int h : c.acmeLeft) expected.push_back(Stamped("ACME", h));
    for (int h : c.acme2Hours) expected.push_back(Stamped("ACME2", h));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Left(localDir()), expected);
    const std::size_t deleted = c.acmeHours.size() - c.acmeLeft.size();
    EXPECT_EQ(log_.lines().size(), deleted);
    for (const auto& line : log_.lines())
      EXPECT_EQ(
          line.rfind("本地备份文件夹中的文件数量加上远程共享文件夹中备份文件的数量大于额定数量，"
                     "删除本地共享文件夹中的备份文件" +
                         localDir() + "/ACME",
                     0),
          0u)
          << line;
  }
}

TEST_F(RetentionTest, PruneLocalDeletesOldestFirstAmongEqualTimesAndInSubfolders) {
  Make(localDir(), "ACME", 5);
  fs::create_directories(localDir() + "/old");
  Make(localDir() + "/old", "ACME", 1);  // in a subfolder, oldest
  Make(localDir(), "ACME", 3);
  // Same creation time: the listing's first (by name) counts as older.
  const std::string a = Stamped("ACME", 3);
  const std::string b = "ACME20240501030001.7z";
  WriteFile(JoinPath(localDir(), b), "b");
  timed_.SetCreated(b, 45413.0 + 3 / 24.0);
  fs::permissions(JoinPath(localDir(), a), fs::perms::owner_read);  // read-only goes too

  ASSERT_TRUE(PruneLocal(ctx_, localDir(), BackupMaskFor("ACME", ".7z"), 2, true));
  EXPECT_EQ(Left(localDir()), (std::vector<std::string>{b, Stamped("ACME", 5)}));
  const auto lines = log_.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("/old/" + Stamped("ACME", 1) + "成功!"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(a + "成功!"), std::string::npos) << lines[1];
}

// The remote side as a second local folder, then as a folder on a real
// Samba share: the same table of cases against both.
void RetentionTest::RemoteCases(const RetentionContext& ctx, const std::string& remote,
                                const std::string& physicalRemote, const std::string& user,
                                const std::string& password) {
  struct Case {
    const char* what;
    int local;
    int remote;
    int keep;
    std::size_t localLeft;
    std::size_t remoteLeft;
  };
  const Case cases[] = {
      {"both over", 4, 5, 3, 3, 2},    {"remote within", 5, 2, 3, 3, 2},
      {"remote empty", 5, 0, 3, 3, 0}, {"both at keep", 3, 3, 3, 3, 2},
      {"both under", 1, 1, 3, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(localDir());
    fs::create_directories(localDir());
    for (const auto& e : fs::directory_iterator(physicalRemote)) fs::remove_all(e.path());
    for (int h = 0; h < c.local; ++h) Make(localDir(), "ACME", 10 + h);
    for (int h = 0; h < c.remote; ++h) Make(physicalRemote, "ACME", h);
    for (int h = 0; h < 2; ++h) Make(physicalRemote, "ACME2", h);  // never ACME's
    EXPECT_TRUE(PruneLocalAndRemote(ctx, user, password, localDir(), remote,
                                    BackupMaskFor("ACME", ".7z"), c.keep, true));
    EXPECT_EQ(Left(localDir()).size(), c.localLeft);
    EXPECT_EQ(Left(physicalRemote).size(), c.remoteLeft + 2);
    // The newest stay: the oldest local backup left is the right one.
    if (c.localLeft > 0 && c.local > c.keep) {
      EXPECT_EQ(Left(localDir()).front(), Stamped("ACME", 10 + c.local - c.keep));
    }
  }
}

TEST_F(RetentionTest, PruneLocalAndRemoteLeavesKeepLocallyAndOneFewerOnTheRemoteSide) {
  RemoteCases(ctx_, remoteDir(), remoteDir());
}

TEST_F(RetentionTest, PruneLocalAndRemoteOnASambaShare) {
  std::string whyNot;
  const testing::SambaShare* share = testing::TestSambaServer(whyNot);
  if (share == nullptr) VELTORA_SKIP_OR_FAIL(whyNot);
  // Made once the server runs: the client takes its port then.
  SmbFileSystem smb(share->port);
  TimedFileSystem timedShare(smb);
  timedShare_ = &timedShare;
  const FileSystemRouter shareRouter(timed_, &timedShare);
  ASSERT_EQ(smb.Connect(share->sharePath, share->user, share->password), 0);
  const std::string remote = share->sharePath + "\\retention";
  fs::remove_all(share->localFolder + "/retention");
  ASSERT_TRUE(smb.MakeFolder(remote));
  const RetentionContext ctx{shareRouter, smb, log_};
  RemoteCases(ctx, remote, share->localFolder + "/retention", share->user, share->password);
  // Deletions on the share name the file by its share path, the folder part
  // upper-cased as the share's listing reports it.
  bool named = false;
  for (const auto& line : log_.lines())
    named = named || line.find("删除远程共享文件夹中的备份文件" + UpperAscii(remote) + "\\ACME") !=
                         std::string::npos;
  EXPECT_TRUE(named);
}

TEST_F(RetentionTest, PruneFailuresWriteTheirLines) {
  struct Case {
    const char* what;
    std::string user;
    std::string local;
    std::string remote;
    int keep;
    const char* line;
  };
  const Case cases[] = {
      {"no user", "", localDir(), remoteDir(), 2, "文件比较参数有误，比较或筛选文件失败！"},
      {"keep 0", "u", localDir(), remoteDir(), 0, "文件比较参数有误，比较或筛选文件失败！"},
      {"local missing", "u", dir_ / "nope", remoteDir(), 2,
       "文件比较参数有误，比较或筛选文件失败！"},
      {"remote missing", "u", localDir(), dir_ / "nope", 2,
       "远程共享文件夹无效，比较或筛选文件失败！"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log_.Clear();
    EXPECT_FALSE(
        PruneLocalAndRemote(ctx_, c.user, "pw", c.local, c.remote, "ACME*.7z", c.keep, true));
    EXPECT_EQ(log_.lines(), std::vector<std::string>{c.line});
  }
  log_.Clear();
  EXPECT_FALSE(PruneLocal(ctx_, dir_ / "nope", "ACME*.7z", 2, true));
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"本地备份文件夹无效，比较或筛选文件失败！"});
}

}  // namespace
}  // namespace veltora
