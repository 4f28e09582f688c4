#include "files/retention.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

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

constexpr char kRefusal[] = "Permission denied";

// Real local files whose creation times the test sets: Linux keeps birth
// times but offers no way to set them, so this wrapper reports the times a
// case gives, can refuse to delete a named file, and passes every other call to
// the real file system.
class TimedFileSystem final : public FileSystem {
 public:
  explicit TimedFileSystem(FileSystem& real) : real_(real) {}
  void SetCreated(const std::string& name, DateTime t) { times_[name] = t; }
  void RefuseDeleting(const std::string& name) { refused_ = name; }

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
    auto it = times_.find(NameInFolder(p));
    return it != times_.end() ? it->second : real_.CreationTime(p);
  }
  FileOutcome MakeFolder(const std::string& p) override { return real_.MakeFolder(p); }
  FileOutcome RemoveFolder(const std::string& p) override { return real_.RemoveFolder(p); }
  FileOutcome DeleteFile(const std::string& p) override {
    if (NameInFolder(p) == refused_) return FileOutcome::Failed(kRefusal);
    return real_.DeleteFile(p);
  }
  FileOutcome Rename(const std::string& a, const std::string& b) override {
    return real_.Rename(a, b);
  }
  FileOutcome CopyFromLocal(const std::string& s, const std::string& t, bool o,
                            const CopyProgress& p) override {
    return real_.CopyFromLocal(s, t, o, p);
  }
  FileOutcome CopyToLocal(const std::string& s, const std::string& t, bool o,
                          const CopyProgress& p) override {
    return real_.CopyToLocal(s, t, o, p);
  }

 private:
  FileSystem& real_;
  std::map<std::string, DateTime> times_;
  std::string refused_;
};

// Never asked to connect: these cases use local folders on both sides.
class NoShare final : public ShareConnector {
 public:
  int Connect(const std::string&, const std::string&, const std::string&) override {
    ADD_FAILURE() << "no share path in these cases";
    return 53;
  }
};

// A backup stamped `hour` hours after 2024-05-01 00:00.
std::string Stamped(const std::string& base, int hour) {
  return base + BackupStamp(FromDateTime(45413.0 + hour / 24.0)) + ".7z";
}

BackupSeries Series(const std::string& base) { return {base, ".7z"}; }

// Rules for a folder where this agent is alone and the clock never ran ahead.
PruneRules AllOwn() {
  PruneRules rules;
  rules.isOwn = [](const std::string&) { return true; };
  return rules;
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

  // Makes a backup stamped at `hour` o'clock (a day is 24 hours on), created
  // at `createdHour` (the same unless given).
  void Make(const std::string& folder, const std::string& base, int hour, int createdHour = -1) {
    const std::string name = Stamped(base, hour);
    WriteFile(JoinPath(folder, name), name);
    const DateTime created = 45413.0 + (createdHour < 0 ? hour : createdHour) / 24.0;
    timed_.SetCreated(name, created);
    if (timedShare_) timedShare_->SetCreated(name, created);
  }

  std::vector<std::string> Left(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.is_regular_file() || e.is_symlink()) names.push_back(e.path().filename().string());
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

TEST(BackupSeriesTest, TheBaseNameIsLiteralAndTheStampIsFourteenDigits) {
  struct Case {
    const char* base;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"ACME", "ACME20240501013000.7z", true},
      {"ACME", "acme20240501013000.7z", false},  // a base name is compared byte for byte
      {"ACME", "ACME20240501013000.7Z", true},   // the extension ignores case
      {"ACME", "ACME220240501013000.7z", false},
      {"ACME", "ACME2024050101300.7z", false},
      {"ACME", "ACME2024050101300x.7z", false},
      {"ACME", "ACME20240501013000.7z.part", false},
      {"*", "*20240501013000.7z", true},
      {"*", "X20240501013000.7z", false},
      {"a?c", "abc20240501013000.7z", false},
      {"a?c", "a?c20240501013000.7z", true},
      {"../x", "../x20240501013000.7z", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " / " + c.name);
    EXPECT_EQ(Series(c.base).Matches(c.name), c.matches);
  }
  EXPECT_EQ(Series("ACME").Mask(), "ACME??????????????.7z");
}

TEST(SortByDateTest, ByStampThenCreationTimeStable) {
  std::vector<BackupFileEntry> files = {{"c", "3", 1},  {"a1", "1", 5}, {"b", "2", 0},
                                        {"a2", "1", 5}, {"a0", "1", 4}, {"x", "0", -1.0}};
  ASSERT_TRUE(SortByDate(files, true));
  std::vector<std::string> order;
  for (const auto& f : files) order.push_back(f.path);
  EXPECT_EQ(order, (std::vector<std::string>{"x", "a0", "a1", "a2", "b", "c"}));
  ASSERT_TRUE(SortByDate(files, false));
  order.clear();
  for (const auto& f : files) order.push_back(f.path);
  EXPECT_EQ(order, (std::vector<std::string>{"c", "b", "a2", "a1", "a0", "x"}));
  std::vector<BackupFileEntry> none;
  EXPECT_FALSE(SortByDate(none, true));
}

TEST_F(RetentionTest, PruneLocalLeavesExactlyTheNewestKeepCount) {
  struct Case {
    const char* what;
    std::vector<int> acmeHours;   // backups of ACME, by stamp
    std::vector<int> acme2Hours;  // backups of ACME2, which ACME's series must leave alone
    int keep;
    bool result;
    std::vector<int> acmeLeft;
  };
  const Case cases[] = {
      {"four, keep 3", {1, 2, 3, 4}, {}, 3, true, {2, 3, 4}},
      {"exactly keep", {1, 2, 3}, {}, 3, true, {1, 2, 3}},
      {"ACME2 is not ACME's", {1, 2, 3}, {0, 5, 6, 7}, 2, true, {2, 3}},
      {"keep 0", {1, 2}, {}, 0, false, {1, 2}},
      {"keep 1", {4, 1, 3}, {}, 1, true, {4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(localDir());
    fs::create_directories(localDir());
    log_.Clear();
    for (int h : c.acmeHours) Make(localDir(), "ACME", h);
    for (int h : c.acme2Hours) Make(localDir(), "ACME2", h);

    EXPECT_EQ(PruneLocal(ctx_, localDir(), Series("ACME"), c.keep, AllOwn()), c.result);

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

// What a folder may hold besides the series' own backups, and what the
// pruning does with it: it orders by the stamp in the name, not by when the
// file came to be, and never looks below the top of the folder or through a
// link.
TEST_F(RetentionTest, PruneLocalOrdersByStampAndTouchesOnlyTheTopOfTheFolder) {
  Make(localDir(), "ACME", 1, /*createdHour=*/50);  // an old backup copied in by hand today
  Make(localDir(), "ACME", 5);
  Make(localDir(), "ACME", 3);
  fs::create_directories(localDir() + "/old");
  Make(localDir() + "/old", "ACME", 0);  // a user's own subfolder
  const std::string outside = dir_ / "outside.7z";
  WriteFile(outside, "not a backup");
  fs::create_symlink(outside, localDir() + "/" + Stamped("ACME", 2));
  // Same stamp hour, later seconds: still ordered by stamp.
  const std::string b = "ACME20240501030001.7z";
  WriteFile(JoinPath(localDir(), b), "b");
  fs::permissions(JoinPath(localDir(), Stamped("ACME", 3)),
                  fs::perms::owner_read);  // read-only goes too

  ASSERT_TRUE(PruneLocal(ctx_, localDir(), Series("ACME"), 2, AllOwn()));
  EXPECT_EQ(Left(localDir()), (std::vector<std::string>{Stamped("ACME", 0), Stamped("ACME", 2), b,
                                                        Stamped("ACME", 5)}));
  EXPECT_TRUE(fs::exists(outside));
  const auto lines = log_.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(Stamped("ACME", 1) + "成功!"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(Stamped("ACME", 3) + "成功!"), std::string::npos) << lines[1];
}

TEST_F(RetentionTest, AFailedDeletionStopsThePruningWithItsLineAndReason) {
  for (int h : {1, 2, 3, 4}) Make(localDir(), "ACME", h);
  timed_.RefuseDeleting(Stamped("ACME", 2));
  EXPECT_FALSE(PruneLocal(ctx_, localDir(), Series("ACME"), 1, AllOwn()));
  EXPECT_EQ(Left(localDir()),
            (std::vector<std::string>{Stamped("ACME", 2), Stamped("ACME", 3), Stamped("ACME", 4)}));
  const std::string prefix =
      "本地备份文件夹中的文件数量加上远程共享文件夹中备份文件的数量大于额定数量，"
      "删除本地共享文件夹中的备份文件" +
      localDir() + "/";
  EXPECT_EQ(log_.lines(), (std::vector<std::string>{
                              prefix + Stamped("ACME", 1) + "成功!",
                              prefix + Stamped("ACME", 2) +
                                  "失败，比较或筛选文件失败！导致失败可能的原因为：" + kRefusal}));
}

// What no keep count deletes: this run's verified backup (whatever stamps the
// others carry), a backup stamped later than now (named in its own line) and
// another agent's backups of a same-named series (counted in one line). Only
// the rest count toward the keep count, and each deletion is told.
TEST_F(RetentionTest, LeavesThisRunsBackupFutureStampsAndOtherAgentsBackups) {
  struct Case {
    const char* what;
    std::vector<int> own;      // hours of this agent's backups
    std::vector<int> foreign;  // another agent's
    int verified;              // this run's backup, one of `own`
    int keep;
    std::vector<int> left;
    std::vector<int> future;  // named as stamped later than now (hour 10)
    int foreignLeft;          // counted in the one line, 0: no line
  };
  const Case cases[] = {
      {"a stamp 400 days ahead", {1, 2, 3, 9600}, {}, 3, 1, {3, 9600}, {9600}, 0},
      {"another agent's keep their own count", {1, 3, 5}, {2, 4, 6}, 5, 2, {2, 3, 4, 5, 6}, {}, 3},
      {"the clock went back: this run's is the oldest", {1, 2, 3}, {}, 1, 2, {1, 3}, {}, 0},
      {"another agent's in the future", {1, 2}, {60}, 2, 1, {2, 60}, {60}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(localDir());
    fs::create_directories(localDir());
    log_.Clear();
    std::set<std::string> own;
    for (int h : c.own) {
      Make(localDir(), "ACME", h);
      own.insert(Stamped("ACME", h));
    }
    for (int h : c.foreign) Make(localDir(), "ACME", h);
    std::vector<std::string> told;
    PruneRules rules;
    rules.isOwn = [&own](const std::string& name) { return own.count(name) != 0; };
    rules.verified = {Stamped("ACME", c.verified)};
    rules.nowStamp = BackupStamp(FromDateTime(45413.0 + 10 / 24.0));
    rules.deleted = [&told](const std::string& name) { told.push_back(name); };

    EXPECT_TRUE(PruneLocal(ctx_, localDir(), Series("ACME"), c.keep, rules));

    std::vector<std::string> left;
    for (int h : c.left) left.push_back(Stamped("ACME", h));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(Left(localDir()), left);
    const std::string folder = localDir() + "/";
    std::vector<std::string> lines;
    for (int h : c.future)
      lines.push_back("本地备份文件夹中的备份文件" + folder + Stamped("ACME", h) +
                      "的备份时间晚于当前时间，已保留，不参与筛选与删除！");
    if (c.foreignLeft > 0)
      lines.push_back("本地备份文件夹" + folder + "中有" + std::to_string(c.foreignLeft) +
                      "个ACME??????????????.7z文件不是本程序备份的（可能来自另一台计算机或另一个"
                      "程序目录），已保留，不参与筛选与删除！");
    std::vector<std::string> deleted;
    for (int h : c.own)
      if (std::find(c.left.begin(), c.left.end(), h) == c.left.end()) {
        deleted.push_back(Stamped("ACME", h));
        lines.push_back(
            "本地备份文件夹中的文件数量加上远程共享文件夹中备份文件的数量大于额定数量，"
            "删除本地共享文件夹中的备份文件" +
            folder + Stamped("ACME", h) + "成功!");
      }
    EXPECT_EQ(log_.lines(), lines);
    EXPECT_EQ(told, deleted);
  }
}

// The remote side as a second local folder, then as a folder on a real
// Samba share: the same table of cases against both. Each side is pruned to
// the keep count only when named.
void RetentionTest::RemoteCases(const RetentionContext& ctx, const std::string& remote,
                                const std::string& physicalRemote, const std::string& user,
                                const std::string& password) {
  struct Case {
    const char* what;
    int local;
    int remote;
    PruneSides sides;
    std::size_t localLeft;
    std::size_t remoteLeft;
  };
  const Case cases[] = {
      {"both over, both verified", 4, 5, {true, true}, 3, 3},
      {"share not verified", 5, 5, {true, false}, 3, 5},
      {"local not verified", 5, 4, {false, true}, 5, 3},
      {"both under", 1, 1, {true, true}, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(localDir());
    fs::create_directories(localDir());
    for (const auto& e : fs::directory_iterator(physicalRemote)) fs::remove_all(e.path());
    for (int h = 0; h < c.local; ++h) Make(localDir(), "ACME", 10 + h);
    for (int h = 0; h < c.remote; ++h) Make(physicalRemote, "ACME", h);
    for (int h = 0; h < 2; ++h) Make(physicalRemote, "ACME2", h);  // never ACME's
    EXPECT_TRUE(PruneLocalAndRemote(ctx, user, password, localDir(), remote, Series("ACME"), 3,
                                    c.sides, AllOwn(), AllOwn()));
    EXPECT_EQ(Left(localDir()).size(), c.localLeft);
    EXPECT_EQ(Left(physicalRemote).size(), c.remoteLeft + 2);
    // The newest stay.
    if (c.sides.local && c.local > 3) {
      EXPECT_EQ(Left(localDir()).front(), Stamped("ACME", 10 + c.local - 3));
    }
    if (c.sides.remote && c.remote > 3) {
      EXPECT_EQ(Left(physicalRemote).front(), Stamped("ACME", c.remote - 3));
    }
  }
}

TEST_F(RetentionTest, PruneLocalAndRemoteOnTwoLocalFolders) {
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
  // Deletions on the share name the file by its share path.
  bool named = false;
  for (const auto& line : log_.lines())
    named = named ||
            line.find("删除远程共享文件夹中的备份文件" + remote + "\\ACME") != std::string::npos;
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
    EXPECT_FALSE(PruneLocalAndRemote(ctx_, c.user, "pw", c.local, c.remote, Series("ACME"), c.keep,
                                     {true, true}, AllOwn(), AllOwn()));
    EXPECT_EQ(log_.lines(), std::vector<std::string>{c.line});
  }
  log_.Clear();
  EXPECT_FALSE(PruneLocal(ctx_, dir_ / "nope", Series("ACME"), 2, AllOwn()));
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"本地备份文件夹无效，比较或筛选文件失败！"});
}

}  // namespace
}  // namespace veltora
