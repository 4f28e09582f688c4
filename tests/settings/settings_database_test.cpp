#include "settings/settings_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "settings/raw_db.h"
#include "settings/sqlite_backup_records.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using ::veltora::testing::RawDb;
using ::veltora::testing::TempDir;
namespace fs = std::filesystem;

constexpr char kSchema[] = VELTORA_SETTINGS_SCHEMA;

class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::chrono::system_clock::time_point at) : at_(at) {}
  std::chrono::system_clock::time_point Now() const override { return at_; }

 private:
  std::chrono::system_clock::time_point at_;
};

// A fresh application folder holding a freshly built Setlog.dll.
class SettingsDatabaseTest : public ::testing::Test {
 protected:
  SettingsDatabaseTest() { CreateSettingsDatabase(kSchema, DbPath()); }

  std::string DbPath() const { return dir_ / "Setlog.dll"; }
  SettingsDatabase Open(std::shared_ptr<const Clock> clock = nullptr) const {
    return SettingsDatabase(dir_.str(), std::move(clock));
  }
  // Fills baklog with count rows, ids 1..count, in one transaction.
  void FillBackupLog(int count) {
    RawDb raw(DbPath());
    raw.Exec("BEGIN");
    for (int i = 0; i < count; ++i)
      raw.Exec("insert into baklog(localbakfile) values('f" + std::to_string(i) + "')");
    raw.Exec("COMMIT");
  }

  TempDir dir_;
};

BaksetRow InitialSettings() {
  BaksetRow row;
  row.softvernum = 0;
  row.localbak = true;
  row.remotebak = false;
  row.bakfilenum = 7;
  row.rarlevel = "标准";
  row.baktime = "23:00:00";
  row.conout = 27;
  row.sqlout = 1800;
  row.btwdays = 1;
  row.safecheck = false;
  return row;
}

TEST_F(SettingsDatabaseTest, FreshDatabaseHasOneInitialSettingsRowAndEmptyTables) {
  const SettingsDatabase db = Open();
  EXPECT_EQ(db.LoadSettings(), InitialSettings());
  EXPECT_FALSE(db.HasAccountList());
  EXPECT_TRUE(db.ListBackupLog().empty());
  RawDb raw(DbPath());
  EXPECT_EQ(raw.Int("select count(*) from bakset"), 1);
  EXPECT_EQ(raw.Text("PRAGMA journal_mode"), "wal");
}

TEST_F(SettingsDatabaseTest, SettingsWithQuotesRoundTrip) {
  SettingsDatabase db = Open();
  BaksetRow values;
  values.softvernum = 2;
  values.accountDir = "/data/O'Neil's \"sets\"";
  values.sqluser = "sa'--";
  values.sqlpwd = "p'w;drop table bakset;--";
  values.localuser = "本机'用户";
  values.localpwd = "'";
  values.remoteuser = "domain\\o'brien";
  values.remotepwd = "''";
  values.localbak = false;
  values.remotebak = true;
  values.localDir = "/backup/it's";
  values.remoteDir = "\\\\server\\share\\it's";
  values.bakfilenum = 500;
  values.rarlevel = "最好";
  values.baktime = "01:02:03";
  values.conout = 3600;
  values.sqlout = 9999;
  values.btwdays = 30;
  values.safecheck = true;
  values.rarpwd = "ignored: only written when a new password is accepted";

  db.SaveSettings(values);
  BaksetRow expected = values;
  expected.rarpwd = "";  // unchanged from the fresh row
  EXPECT_EQ(db.LoadSettings(), expected);

  db.SaveSettings(values, "new'pass");
  expected.rarpwd = "new'pass";
  EXPECT_EQ(db.LoadSettings(), expected);

  db.UpdateArchivePassword("a'b''c");
  expected.rarpwd = "a'b''c";
  EXPECT_EQ(db.LoadSettings(), expected);
  EXPECT_EQ(RawDb(DbPath()).Int("select count(*) from bakset"), 1);
}

TEST_F(SettingsDatabaseTest, NullColumnsReadAsEmptyZeroAndFalse) {
  RawDb(DbPath()).Exec(
      "update bakset set softvernum=NULL,accountDir=NULL,sqluser=NULL,sqlpwd=NULL,"
      "localuser=NULL,localpwd=NULL,remoteuser=NULL,remotepwd=NULL,localbak=NULL,"
      "remotebak=NULL,localDir=NULL,remoteDir=NULL,bakfilenum=NULL,rarlevel=NULL,baktime=NULL,"
      "conout=NULL,sqlout=NULL,btwdays=NULL,safecheck=NULL,rarpwd=NULL,lastbakday=NULL");
  EXPECT_EQ(Open().LoadSettings(), BaksetRow{});
}

TEST_F(SettingsDatabaseTest, MissingSettingsRowIsAnErrorNotASilentSave) {
  RawDb(DbPath()).Exec("delete from bakset");
  SettingsDatabase db = Open();
  EXPECT_THROW(db.LoadSettings(), std::runtime_error);
  EXPECT_THROW(db.SaveSettings(InitialSettings()), std::runtime_error);
}

TEST_F(SettingsDatabaseTest, LastBackupDayIsTheInjectedClocksLocalTime) {
  const auto at = std::chrono::system_clock::from_time_t(1700000000);  // 2023-11-14
  const LocalTime local = ToLocalTime(at);
  SettingsDatabase db = Open(std::make_shared<FixedClock>(at));
  EXPECT_FALSE(db.LoadSettings().lastbakday.has_value());

  db.UpdateLastBackupDay();

  EXPECT_EQ(RawDb(DbPath()).Text("select lastbakday from bakset"), FormatDateTime(local));
  const std::optional<DateTime> stored = db.LoadSettings().lastbakday;
  ASSERT_TRUE(stored.has_value());
  EXPECT_DOUBLE_EQ(*stored, ToDateTime(local));
}

TEST_F(SettingsDatabaseTest, RewritingTheAccountListReplacesItWhole) {
  SettingsDatabase db = Open();
  db.RewriteAccountList({{"001", "甲公司", "AIS001"}, {"002", "B", "AIS002"}, {"003", "C", "X"}});
  EXPECT_EQ(RawDb(DbPath()).Int("select count(*) from accountlist"), 3);

  db.RewriteAccountList({{"", "only.AIS", "only.AIS"}});
  RawDb raw(DbPath());
  EXPECT_EQ(raw.Int("select count(*) from accountlist"), 1);
  EXPECT_EQ(raw.Text("select accountid||'|'||accountname||'|'||dbname from accountlist"),
            "|only.AIS|only.AIS");
  EXPECT_TRUE(db.HasAccountList());

  db.RewriteAccountList({});
  EXPECT_FALSE(db.HasAccountList());
}

TEST_F(SettingsDatabaseTest, FailedAccountListRewriteKeepsTheOldList) {
  SettingsDatabase db = Open();
  db.RewriteAccountList({{"1", "keep.AIS", "keep.AIS"}});
  RawDb(DbPath()).Exec(
      "create trigger refuse before insert on accountlist when new.accountname='bad' "
      "begin select raise(abort, 'refused'); end");

  EXPECT_THROW(db.RewriteAccountList({{"2", "new.AIS", "new.AIS"}, {"3", "bad", "bad"}}),
               std::runtime_error);

  EXPECT_TRUE(db.IsAccountNameStored("keep.AIS"));
  EXPECT_FALSE(db.IsAccountNameStored("new.AIS"));
}

TEST_F(SettingsDatabaseTest, SavingListAndSettingsTogetherIsAllOrNothing) {
  SettingsDatabase db = Open();
  db.RewriteAccountList({{"1", "keep.AIS", "keep.AIS"}});
  BaksetRow values = InitialSettings();
  values.localDir = "/srv/bak";

  // Without a settings row the list is not left rewritten either.
  RawDb(DbPath()).Exec("delete from bakset");
  EXPECT_THROW(db.SaveAccountListAndSettings({{"2", "new.AIS", "new.AIS"}}, values),
               std::runtime_error);
  EXPECT_EQ(db.LoadAccountList(), (std::vector<AccountListRow>{{"1", "keep.AIS", "keep.AIS"}}));

  RawDb(DbPath()).Exec("insert into bakset(localDir) values('')");
  db.SaveAccountListAndSettings({{"2", "b", "B"}, {"", "a", "A"}}, values, "pw'");
  EXPECT_EQ(db.LoadAccountList(), (std::vector<AccountListRow>{{"2", "b", "B"}, {"", "a", "A"}}));
  EXPECT_EQ(db.LoadSettings().localDir, "/srv/bak");
  EXPECT_EQ(db.LoadSettings().rarpwd, "pw'");
}

TEST_F(SettingsDatabaseTest, AccountLookupsTakeQuotesLiterallyAndIgnoreLetterCase) {
  SettingsDatabase db = Open();
  db.RewriteAccountList({{"01'A", "O'Brien.AIS", "O'Brien.AIS"}, {"02", "plain.AIS", "plain"}});
  struct Case {
    const char* value;
    bool byName;
    bool byId;
  };
  const Case cases[] = {
      {"O'Brien.AIS", true, false}, {"o'brien.ais", true, false},
      {"01'A", false, true},        {"01'a", false, true},
      {"plain.AIS", true, false},   {"x' or '1'='1", false, false},
      {"' or ''='", false, false},  {"O'Brien.AIS' --", false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(db.IsAccountNameStored(c.value), c.byName);
    EXPECT_EQ(db.IsAccountIdStored(c.value), c.byId);
  }
  EXPECT_EQ(RawDb(DbPath()).Int("select count(*) from accountlist"), 2);
}

TEST_F(SettingsDatabaseTest, TrimmingKeepsTheNewest2001Ids) {
  struct Case {
    int rows;
    long long deleted;
    long long lowestKept;
  };
  const Case cases[] = {{0, 0, 0}, {2001, 0, 1}, {2002, 1, 2}, {5000, 2999, 3000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    RawDb(DbPath()).Exec("delete from baklog; delete from sqlite_sequence;");
    FillBackupLog(c.rows);
    SettingsDatabase db = Open();

    EXPECT_EQ(db.TrimBackupLog(), c.deleted);

    RawDb raw(DbPath());
    EXPECT_EQ(raw.Int("select count(*) from baklog"), c.rows - c.deleted);
    EXPECT_EQ(raw.Int("select min(id) from baklog"), c.lowestKept);
    EXPECT_EQ(raw.Int("select max(id) from baklog"), c.rows);
  }
}

TEST_F(SettingsDatabaseTest, BackupTableRowsNewestFirstWithDatabaseTimeAndIds) {
  SettingsDatabase db = Open();
  const std::string before = FormatDateTime(ToLocalTime(std::chrono::system_clock::now()));
  db.InsertFolderFailure("本机备份路径无效", "执行备份失败");
  db.InsertLocalResult("/acc/O'Neil.AIS", "/bak/O'Neil20240102030405.bak", "p'w", true);
  db.InsertLocalResult("甲公司", "备份失败", "", false);
  db.InsertRemoteCopy("甲公司", "\\\\srv\\share\\甲公司20240102030405.rar", "p'w");
  db.InsertRemoteFailure("\\\\srv\\it's share\\");
  const std::string after = FormatDateTime(ToLocalTime(std::chrono::system_clock::now()));

  const std::vector<BaklogRow> rows = db.ListBackupLog();
  ASSERT_EQ(rows.size(), 5u);
  struct Expected {
    const char* accountname;
    const char* localbakfile;
    const char* rarpwd;
    std::optional<bool> baksuccess;
    const char* bz;
  };
  const Expected expected[] = {
      {"", "\\\\srv\\it's share\\远程备份失败", "", std::nullopt, "具体原因请查看程序运行日志文件"},
      {"甲公司", "\\\\srv\\share\\甲公司20240102030405.rar", "p'w", std::nullopt, "远程备份"},
      {"甲公司", "备份失败", "", false, ""},
      {"/acc/O'Neil.AIS", "/bak/O'Neil20240102030405.bak", "p'w", true, ""},
      {"", "本机备份路径无效", "", false, "执行备份失败"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].accountname, expected[i].accountname);
    EXPECT_EQ(rows[i].localbakfile, expected[i].localbakfile);
    EXPECT_EQ(rows[i].rarpwd, expected[i].rarpwd);
    EXPECT_EQ(rows[i].baksuccess, expected[i].baksuccess);
    EXPECT_EQ(rows[i].bz, expected[i].bz);
    // The column default: local time as "yyyy-mm-dd hh:mm:ss".
    EXPECT_GE(rows[i].baktime, before);
    EXPECT_LE(rows[i].baktime, after);
    if (i > 0) {
      EXPECT_GT(rows[i - 1].id, rows[i].id);
    }
  }
  EXPECT_EQ(RawDb(DbPath()).Text("select group_concat(ifnull(baksuccess,'null')) from "
                                 "(select baksuccess from baklog order by id)"),
            "0,1,0,null,null");

  const std::vector<BaklogRow> newest = db.ListBackupLog(2);
  ASSERT_EQ(newest.size(), 2u);
  EXPECT_EQ(newest[0].id, rows[0].id);
}

TEST_F(SettingsDatabaseTest, SpareCopyIsAWholeOwnerOnlyDatabaseReplacedEachTime) {
  SettingsDatabase db = Open();
  const std::string spare = SpareCopyPath(dir_.str());
  EXPECT_EQ(spare, dir_ / "setlog.dlb");
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    db.InsertRemoteFailure("r");
    db.MakeSpareCopy();

    RawDb copy(spare, SQLITE_OPEN_READONLY);
    EXPECT_EQ(copy.Text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(copy.Text("PRAGMA journal_mode"), "delete");
    EXPECT_EQ(copy.Int("select count(*) from baklog"), round);
    EXPECT_EQ(copy.Int("select count(*) from bakset"), 1);
    VELTORA_EXPECT_OWNER_ONLY(spare);
  }
}

TEST_F(SettingsDatabaseTest, SpareCopyStaysConsistentWhileAnotherConnectionWrites) {
  const SettingsDatabase db = Open();
  std::atomic<bool> stop{false};
  std::atomic<int> batches{0};
  std::string writerError;
  // Each transaction adds ten rows: a consistent copy always holds a multiple of ten.
  std::thread writer([&] {
    try {
      RawDb raw(DbPath());
      while (!stop) {
        raw.Exec("BEGIN IMMEDIATE");
        for (int i = 0; i < 10; ++i) raw.Exec("insert into baklog(localbakfile) values('w')");
        raw.Exec("COMMIT");
        ++batches;
      }
    } catch (const std::exception& e) {
      writerError = e.what();
    }
  });
  long long previous = 0;
  for (int i = 0; i < 30; ++i) {
    SCOPED_TRACE(i);
    try {
      db.MakeSpareCopy();
      RawDb copy(SpareCopyPath(dir_.str()), SQLITE_OPEN_READONLY);
      EXPECT_EQ(copy.Text("PRAGMA integrity_check"), "ok");
      const long long rows = copy.Int("select count(*) from baklog");
      EXPECT_EQ(rows % 10, 0);
      EXPECT_GE(rows, previous);
      previous = rows;
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      break;
    }
  }
  stop = true;
  writer.join();
  EXPECT_EQ(writerError, "");
  EXPECT_GT(batches.load(), 0);
}

TEST_F(SettingsDatabaseTest, SpareCopiesFromTwoThreadsAtOnceBothSucceed) {
  std::string errors[2];
  auto copier = [&](std::string& error) {
    try {
      const SettingsDatabase db = Open();
      for (int i = 0; i < 20; ++i) db.MakeSpareCopy();
    } catch (const std::exception& e) {
      error = e.what();
    }
  };
  std::thread a(copier, std::ref(errors[0]));
  std::thread b(copier, std::ref(errors[1]));
  a.join();
  b.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
  EXPECT_EQ(RawDb(SpareCopyPath(dir_.str())).Text("PRAGMA integrity_check"), "ok");
  // No temporary file is left behind.
  for (const std::string& name : testing::FilesIn(dir_.str()))
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST(SettingsDatabaseOpen, MissingDatabaseIsAnErrorAndIsNotCreated) {
  TempDir dir;
  try {
    SettingsDatabase db(dir.str());
    FAIL() << "opened a database that does not exist";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("unable to open database file"), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("Setlog.dll"), std::string::npos) << e.what();
  }
  SqliteBackupRecords records(dir.str());
  EXPECT_THROW(records.Open(), std::runtime_error);
  EXPECT_THROW(records.InsertRemoteFailure("x"), std::runtime_error);
  records.MakeSpareCopy();  // swallowed
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(SettingsDatabaseOpen, FileThatIsNoSettingsDatabaseFailsAtOpenAndStaysAsItWas) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* error;
  };
  const Case cases[] = {
      {"text",
       [](const std::string& path) {
         testing::WriteFile(path, "this is not a database, just text that is long enough");
       },
       "file is not a database"},
      {"empty file", [](const std::string& path) { testing::WriteFile(path, ""); },
       "the settings database lacks the table bakset: "},
      {"no backup table",
       [](const std::string& path) {
         CreateSettingsDatabase(kSchema, path);
         RawDb(path).Exec("drop table baklog");
       },
       "the settings database lacks the table baklog: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir / "Setlog.dll";
    c.make(path);
    const std::string before = testing::ReadFile(path);
    try {
      SettingsDatabase db(dir.str());
      ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
    }
    EXPECT_EQ(testing::ReadFile(path), before);
    EXPECT_FALSE(fs::exists(path + "-wal"));
  }
}

// Every connection opened while it lives goes through a copy of the default
// VFS whose sleep first tells that a connection is waiting for a lock. SQLite's
// busy time-out sleeps through the VFS, so the holder of a lock can let go
// exactly when someone is known to be waiting.
class LockWaitWatch {
 public:
  LockWaitWatch() : base_(sqlite3_vfs_find(nullptr)), vfs_(*base_) {
    vfs_.zName = "veltora-lock-wait-watch";
    vfs_.pNext = nullptr;
    vfs_.xSleep = &Sleep;
    current_ = this;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~LockWaitWatch() {
    sqlite3_vfs_unregister(&vfs_);
    current_ = nullptr;
  }
  LockWaitWatch(const LockWaitWatch&) = delete;
  LockWaitWatch& operator=(const LockWaitWatch&) = delete;

  // True once a connection slept waiting; false if none did within a minute
  // (the test then fails on what follows rather than hanging).
  bool AwaitWaiter() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::minutes(1), [&] { return sleeps_ > 0; });
  }

 private:
  static int Sleep(sqlite3_vfs* /*vfs*/, int microseconds) {
    LockWaitWatch* self = current_;
    {
      std::lock_guard lock(self->mutex_);
      ++self->sleeps_;
    }
    self->changed_.notify_all();
    return self->base_->xSleep(self->base_, microseconds);
  }

  static inline LockWaitWatch* current_ = nullptr;
  sqlite3_vfs* base_;
  sqlite3_vfs vfs_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int sleeps_ = 0;
};

TEST_F(SettingsDatabaseTest, BackupRowWaitsOutAShortLockAndFailsOnOneHeldTooLong) {
  LockWaitWatch watch;
  RawDb holder(DbPath());

  // Held until the backup row is known to be waiting for it.
  holder.Exec("BEGIN IMMEDIATE");
  holder.Exec("insert into baklog(bz) values('holder')");
  bool sawWaiter = false;
  std::thread releaser([&] {
    sawWaiter = watch.AwaitWaiter();
    holder.Exec("COMMIT");
  });
  SqliteBackupRecords patient(dir_.str());
  EXPECT_NO_THROW(patient.InsertLocalResult("A", "/bak/A.bak", "pw", true));
  releaser.join();
  EXPECT_TRUE(sawWaiter);
  EXPECT_EQ(RawDb(DbPath()).Text("select group_concat(ifnull(accountname,bz)) from "
                                 "(select accountname, bz from baklog order by id)"),
            "holder,A");

  // Held past the time-out: the insert fails with the driver's text and
  // nothing is written.
  holder.Exec("BEGIN IMMEDIATE");
  SqliteBackupRecords impatient(dir_.str(), nullptr, std::chrono::milliseconds(200));
  try {
    impatient.InsertRemoteCopy("B", "\\\\s\\x\\B.rar", "pw");
    ADD_FAILURE() << "wrote through a lock";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "database is locked");
  }
  holder.Exec("ROLLBACK");
  EXPECT_EQ(RawDb(DbPath()).Int("select count(*) from baklog"), 2);
}

TEST(SettingsDatabaseOpen, LowerCaseFileNameIsFoundWhenTheExactOneIsMissing) {
  TempDir dir;
  CreateSettingsDatabase(kSchema, dir / "setlog.dll");
  SettingsDatabase db(dir.str());
#ifdef _WIN32
  // The exact name opens the same file: Windows ignores letter case.
  EXPECT_TRUE(EqualsIgnoreAsciiCase(db.path(), dir / "setlog.dll")) << db.path();
#else
  EXPECT_EQ(db.path(), dir / "setlog.dll");
#endif
  EXPECT_EQ(db.LoadSettings(), InitialSettings());
}

TEST(SettingsDatabaseFiles, GeneratedInstalledAndBuiltFilesAreOwnerOnly) {
  TempDir dir;
  const std::string generated = dir / "prepared.db";
  CreateSettingsDatabase(kSchema, generated);
  VELTORA_EXPECT_OWNER_ONLY(generated);
  EXPECT_THROW(CreateSettingsDatabase(kSchema, generated), std::runtime_error);

  const std::string app = dir / "app";
  fs::create_directory(app);
  InstallSettingsDatabase(generated, app);
  VELTORA_EXPECT_OWNER_ONLY(SettingsDatabasePath(app));
  {
    SettingsDatabase live(app);
    EXPECT_EQ(live.LoadSettings(), InitialSettings());
#ifndef _WIN32
    // SQLite gives the write-ahead log the database file's own mode.
    VELTORA_EXPECT_OWNER_ONLY(SettingsDatabasePath(app) + "-wal");
#endif
  }

  const std::string built = VELTORA_BUILT_SETTINGS_DB;
  VELTORA_EXPECT_OWNER_ONLY(built);
  RawDb raw(built, SQLITE_OPEN_READONLY);
  EXPECT_EQ(raw.Int("select count(*) from bakset"), 1);
  EXPECT_EQ(raw.Int("select count(*) from baklog"), 0);
}

TEST(SettingsDatabaseFiles, InstallNeverReplacesAnExistingDatabase) {
  TempDir dir;
  const std::string prepared = dir / "prepared.db";
  CreateSettingsDatabase(kSchema, prepared);
  int folders = 0;
  for (const char* existing : {"Setlog.dll", "SETLOG.DLL"}) {
    SCOPED_TRACE(existing);
    const std::string app = dir / ("app-" + std::to_string(++folders));
    fs::create_directory(app);
    CreateSettingsDatabase(kSchema, app + "/" + existing);
    RawDb(app + "/" + existing).Exec("insert into baklog(bz) values('history')");

    try {
      InstallSettingsDatabase(prepared, app);
      FAIL() << "replaced an existing settings database";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
    }
    EXPECT_EQ(RawDb(app + "/" + existing).Int("select count(*) from baklog"), 1);
  }
  EXPECT_THROW(InstallSettingsDatabase(dir / "missing.db", dir / "empty"), std::runtime_error);
}

TEST_F(SettingsDatabaseTest, BackupRecordsFromTheFactoryWriteThroughTheirOwnConnection) {
  const SqliteBackupRecordsFactory factory(dir_.str());
  std::unique_ptr<BackupRecords> records = factory.Create();
  records->InsertLocalResult("A", "/bak/A.bak", "pw", true);  // opens on first use
  records->Open();                                            // harmless when open
  records->InsertLocalResult("B", "", "", false);
  records->InsertFolderFailure("无法访问远程共享文件夹", "执行远程备份失败");
  records->InsertRemoteCopy("A", "\\\\s\\x\\A.rar", "pw");
  records->InsertRemoteFailure("\\\\s\\x\\");
  records->MakeSpareCopy();
  records->Close();

  EXPECT_EQ(RawDb(DbPath()).Text("select group_concat(ifnull(baksuccess,'-')||bz, ',') from "
                                 "(select baksuccess, ifnull(bz,'') bz from baklog order by id)"),
            "1,0,0执行远程备份失败,-远程备份,-具体原因请查看程序运行日志文件");
  EXPECT_EQ(RawDb(SpareCopyPath(dir_.str())).Int("select count(*) from baklog"), 5);
}

// A database from before the digests, with an own-archive table and a row in
// it, gains the digest table on first use and nothing else changes.
TEST_F(SettingsDatabaseTest, DigestsAreAddedToAnOlderDatabaseWithoutAlteringItsTables) {
  {
    RawDb raw(DbPath());
    raw.Exec(
        "create table ownbakfile(id integer primary key autoincrement,side text not null,"
        "folder text not null,filename text not null,stamp text not null,recorded text not null,"
        "sha256 text,bytes integer,unique(side,folder,filename))");
    raw.Exec(
        "insert into ownbakfile(side,folder,filename,stamp,recorded) "
        "values('local','/b/','A20260101000000.7z','20260101000000','2026-01-01 00:00:00')");
  }
  const std::string before = RawDb(DbPath()).Text(
      "select group_concat(sql,';') from sqlite_master where name in ('ownbakfile','baklog')");
  auto records = SqliteBackupRecordsFactory(dir_.str()).Create();
  const BackupDigests digests{"A20260102000000.bak", std::string(64, 'c'), 5000000000,
                              std::string(64, 'a'), 42};
  for (const ArchiveSide side : {ArchiveSide::kLocal, ArchiveSide::kShare}) {
    records->RecordOwnArchive(side, "/b/", "A20260102000000.7z", "20260102000000");
    records->RecordDigests(side, "/b/", "A20260102000000.7z", "20260102000000", digests);
  }
  records->ForgetOwnArchive(ArchiveSide::kShare, "/b/", "A20260102000000.7z");
  records->Close();

  const auto rows = Open().ListBackupDigests();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].side, "local");
  EXPECT_EQ(rows[0].contentName, "A20260102000000.bak");
  EXPECT_EQ(rows[0].contentBytes, 5000000000) << "sizes past 4 GiB";
  EXPECT_EQ(rows[0].archiveSha256, std::string(64, 'a'));
  EXPECT_EQ(rows[0].archiveBytes, 42);
  EXPECT_EQ(RawDb(DbPath()).Text("select group_concat(sql,';') from sqlite_master "
                                 "where name in ('ownbakfile','baklog')"),
            before);
  EXPECT_EQ(RawDb(DbPath()).Int("select count(*) from ownbakfile"), 2);
}

// The test restores go into a table of their own: reading a database from
// before it creates nothing, the first record creates it, and the Parts'
// tables stay as they were.
TEST_F(SettingsDatabaseTest, TestRestoresAreRecordedInATableOfTheirOwn) {
  const auto schemaOf = [this](const char* what) {
    return RawDb(DbPath()).Text("select ifnull(group_concat(sql,';'),'') from sqlite_master " +
                                std::string(what));
  };
  const std::string before = schemaOf("where name in ('bakset','accountlist','baklog')");
  EXPECT_TRUE(Open().ListVerifications().empty());
  EXPECT_EQ(schemaOf("where name='bakverify'"), "") << "a read creates no table";

  const std::vector<VerificationRow> first = {
      {"2026-12-01 01:40:00", "a.AIS", "local", "20261201013000", true, ""},
      {"2026-12-01 01:40:00", "a.AIS", "share", "20261201013000", false, "校验值不符 'x'"}};
  const std::vector<VerificationRow> second = {
      {"2026-12-08 01:40:00", "a.AIS", "local", "", false, "没有可以测试的备份"}};
  Open().RecordVerifications(first);
  Open().RecordVerifications(second);
  EXPECT_EQ(Open().ListVerifications(),
            (std::vector<VerificationRow>{second[0], first[1], first[0]}));
  EXPECT_EQ(schemaOf("where name in ('bakset','accountlist','baklog')"), before);

  // Kept bounded: the newest 2001 ids stay.
  Open().RecordVerifications(std::vector<VerificationRow>(2100, second[0]));
  EXPECT_EQ(RawDb(DbPath()).Int("select count(*) from bakverify"), 2001);
  EXPECT_EQ(RawDb(DbPath()).Int("select min(id) from bakverify"), 2103 - 2000);
}

}  // namespace
}  // namespace veltora
