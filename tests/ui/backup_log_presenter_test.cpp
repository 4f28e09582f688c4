#include "ui/backup_log_presenter.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/single_instance.h"
#include "base/path.h"
#include "files/run_file_systems.h"
#include "settings/raw_db.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::RawDb;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The window in memory: what it was told and asked, the answers the test
// gives, and the tasks meant for the window's thread, kept until Flush so
// that a test sees the window while the work is out.
struct RecordingLogView final : BackupLogView {
  void SetRows(const std::vector<BackupLogRow>& r) override { rows = r; }
  void ShowNotice(const std::string& text) override { notices.push_back(text); }
  void ShowWarning(const std::string& text) override { warnings.push_back(text); }
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    return yes;
  }
  std::string ChooseFolder(const std::string& prompt) override {
    prompts.push_back(prompt);
    return folder;
  }
  std::optional<std::string> AskText(const std::string& prompt,
                                     const std::string& initial) override {
    prompts.push_back(prompt);
    initialTexts.push_back(initial);
    return text;
  }
  void SetStatus(const std::string& s) override { statuses.push_back(s); }
  void SetRestoreEnabled(bool enabled) override { restoreEnabled = enabled; }
  void RunOnWindowThread(std::function<void()> task) override { tasks.push_back(std::move(task)); }
  void Close() override { ++closes; }

  void Flush() {
    while (!tasks.empty()) {
      auto task = std::move(tasks.front());
      tasks.pop_front();
      task();
    }
  }

  std::vector<BackupLogRow> rows;
  std::vector<std::string> notices, warnings, questions, prompts, initialTexts, statuses;
  bool restoreEnabled = false;
  std::deque<std::function<void()>> tasks;
  int closes = 0;
  // The answers.
  std::string folder;
  bool yes = false;
  std::optional<std::string> text;
};

class BackupLogPresenterTest : public ::testing::Test {
 protected:
  BackupLogPresenterTest() {
    std::filesystem::create_directories(app_);
    InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, app_);
  }
  BackupLogPresenter Presenter() {
    return BackupLogPresenter(view_, [this] { return std::make_unique<SettingsDatabase>(app_); });
  }
  RawDb Raw() const { return RawDb(SettingsDatabasePath(app_)); }
  // Rows with ids 1..count, each naming its id in the backup file column.
  void Fill(int count) {
    RawDb raw = Raw();
    raw.Exec("BEGIN");
    for (int id = 1; id <= count; ++id)
      raw.Exec("insert into baklog(localbakfile) values('f" + std::to_string(id) + "')");
    raw.Exec("COMMIT");
  }

  TempDir dir_;
  std::string app_ = dir_ / "app";
  RecordingLogView view_;
};

TEST_F(BackupLogPresenterTest, OpeningKeepsTheNewest2001RowsNewestFirst) {
  Fill(2500);
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    BackupLogPresenter presenter = Presenter();
    ASSERT_TRUE(presenter.OnShow());
    ASSERT_EQ(view_.rows.size(), 2001u);
    EXPECT_EQ(view_.rows.front().backupFile, "f2500");
    EXPECT_EQ(view_.rows.back().backupFile, "f500");
    presenter.CloseClicked();
    presenter.OnClose();
  }
  EXPECT_EQ(Raw().Int("select count(*) from baklog"), 2001);
  EXPECT_TRUE(view_.notices.empty());
  EXPECT_EQ(view_.closes, 2);
}

TEST_F(BackupLogPresenterTest, EmptyTableShowsAnEmptyGridWithoutMessage) {
  BackupLogPresenter presenter = Presenter();
  EXPECT_TRUE(presenter.OnShow());
  EXPECT_TRUE(view_.rows.empty());
  EXPECT_TRUE(view_.notices.empty());
  EXPECT_EQ(view_.closes, 0);
}

TEST_F(BackupLogPresenterTest, MissingDatabaseTellsOnceAndCloses) {
  std::filesystem::remove(SettingsDatabasePath(app_));
  BackupLogPresenter presenter = Presenter();
  EXPECT_FALSE(presenter.OnShow());
  EXPECT_EQ(view_.notices, std::vector<std::string>{"查询备份日志出错"});
  EXPECT_EQ(view_.closes, 1);
  presenter.RefreshClicked();  // nothing to refresh, nothing said
  EXPECT_EQ(view_.notices.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(SettingsDatabasePath(app_)));
}

TEST_F(BackupLogPresenterTest, RefreshShowsNewRowsAndKeepsTheGridWhenItFails) {
  Fill(3);
  BackupLogPresenter presenter = Presenter();
  ASSERT_TRUE(presenter.OnShow());
  ASSERT_EQ(view_.rows.size(), 3u);

  SettingsDatabase(app_).InsertLocalResult("甲公司", "/bak/甲公司20240502100000.bak", "p'w", true);
  presenter.RefreshClicked();
  ASSERT_EQ(view_.rows.size(), 4u);
  const std::string time = Raw().Text("select baktime from baklog where id=4");
  EXPECT_EQ(view_.rows.front(),
            (BackupLogRow{"甲公司", "/bak/甲公司20240502100000.bak", time, "", "p'w", 4}));

  Raw().Exec("drop table baklog");
  presenter.RefreshClicked();
  EXPECT_EQ(view_.rows.size(), 4u);
  EXPECT_TRUE(view_.notices.empty());
  EXPECT_EQ(view_.closes, 0);
}

// Restores from rows whose backups lie in the local folder as .bak files,
// which a restore reads through as they are: the presenter's decisions with
// the real restore and real folders, without an archiver.
class BackupLogRestoreTest : public BackupLogPresenterTest {
 protected:
  static constexpr char kStamp[] = "20240501013000";

  // The account set ACME of a file edition (0) or a SQL edition (2), backed
  // up to the local folder only.
  void Configure(int edition) {
    std::filesystem::create_directories(backups_);
    std::filesystem::create_directories(target_);
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.softvernum = edition;
    row.localDir = backups_;
    row.localbak = true;
    row.remotebak = false;
    db.SaveSettings(row);
    db.RewriteAccountList({edition > 1 ? AccountListRow{"", "ACME", "acme_db"}
                                       : AccountListRow{"", "ACME.AIS", "ACME.AIS"}});
  }
  std::string BackupName(const std::string& stamp = kStamp) const { return "ACME" + stamp; }
  // A backup of ACME and its row, as the job records it.
  void BackUp(const std::string& content) {
    WriteFile(JoinPath(backups_, BackupName() + ".bak"), content);
    SettingsDatabase(app_).InsertLocalResult("ACME", WithTrailingSeparator(backups_) + BackupName(),
                                             "", true);
  }
  BackupLogPresenter RestorePresenter(RecordingLogView& view) {
    RestoreServices r;
    r.applicationFolder = app_;
    r.openSettings = [this] { return std::make_unique<SettingsDatabase>(app_); };
    r.makeFileSystems = [] {
      return std::make_unique<LocalAndSmbFileSystems>(445, std::chrono::milliseconds(1000),
                                                      CopyMarker(), AfterTimeout::kFailAtOnce);
    };
    r.clock = std::make_shared<testing::FixedClock>(LocalTime{2024, 5, 2, 9, 0, 0, 4});
    return BackupLogPresenter(
        view, BackupLogServices{[this] { return std::make_unique<SettingsDatabase>(app_); }, r,
                                [] { return std::make_unique<ImmediateWork>(); }});
  }
  std::int64_t IdOfRow(const RecordingLogView& view, const std::string& backupFile) const {
    for (const auto& row : view.rows)
      if (row.backupFile == backupFile) return row.id;
    ADD_FAILURE() << "no row " << backupFile;
    return 0;
  }
  std::string Ledger() const { return JoinPath(target_, "ACME.AIS"); }

  std::string backups_ = dir_ / "backups";
  std::string target_ = dir_ / "target";
};

TEST_F(BackupLogRestoreTest, AFileEditionRowIsRestoredIntoTheChosenFolderOffTheWindowThread) {
  Configure(0);
  BackUp("the ledger as backed up");
  BackupLogPresenter presenter = RestorePresenter(view_);
  ASSERT_TRUE(presenter.OnShow());
  EXPECT_TRUE(view_.restoreEnabled);
  view_.folder = target_;
  const std::int64_t id = view_.rows.at(0).id;

  presenter.RestoreClicked(id);
  // The lookup has run; its answer waits for the window's thread.
  ASSERT_FALSE(view_.tasks.empty());
  EXPECT_TRUE(presenter.RestoreRunning());
  EXPECT_FALSE(view_.restoreEnabled);
  presenter.RestoreClicked(id);
  EXPECT_EQ(view_.tasks.size(), 1u) << "one restore at a time";
  presenter.CloseClicked();
  EXPECT_EQ(view_.closes, 0);
  EXPECT_EQ(view_.notices,
            std::vector<std::string>{"您好，正在恢复备份，请等恢复完成后再关闭备份日志窗口！"});
  view_.notices.clear();

  view_.Flush();
  EXPECT_EQ(view_.prompts, std::vector<std::string>{"请选择要把账套恢复到哪个文件夹："});
  EXPECT_TRUE(view_.questions.empty());
  EXPECT_EQ(ReadFile(Ledger()), "the ledger as backed up");
  EXPECT_EQ(view_.notices, std::vector<std::string>{
                               "账套已恢复到：" + Ledger() +
                               "\n注意：这个备份是在记录校验值之前做的，只能确认压缩文件完整，"
                               "无法确认与备份时一致"});
  EXPECT_TRUE(view_.warnings.empty());
  const std::string step = "正在恢复…解压并校验 " + BackupName() + ".bak ";
  EXPECT_EQ(view_.statuses,
            (std::vector<std::string>{"正在查找这一行的备份…", "正在恢复…", step + "0%",
                                      step + "100%", "恢复完成：" + Ledger()}));
  EXPECT_TRUE(view_.restoreEnabled);
  EXPECT_FALSE(presenter.RestoreRunning());
  presenter.CloseClicked();
  EXPECT_EQ(view_.closes, 1);
}

TEST_F(BackupLogRestoreTest, AnExistingLedgerIsReplacedOnlyWhenTheUserSaysSo) {
  Configure(0);
  BackUp("the ledger as backed up");
  struct Case {
    const char* name;
    bool chooseFolder;
    bool ledgerThere;
    bool yes;
  };
  const Case cases[] = {
      {"picker cancelled", false, false, false},
      {"ledger there, no", true, true, false},
      {"ledger there, yes", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(target_);
    std::filesystem::create_directories(target_);
    if (c.ledgerThere) WriteFile(Ledger(), "today's ledger");
    RecordingLogView view;
    view.folder = c.chooseFolder ? target_ : "";
    view.yes = c.yes;
    BackupLogPresenter presenter = RestorePresenter(view);
    ASSERT_TRUE(presenter.OnShow());
    presenter.RestoreClicked(view.rows.at(0).id);
    view.Flush();

    EXPECT_EQ(view.prompts.size(), 1u);
    const std::vector<std::string> question = {"您选择的文件夹中已有同名的账套文件：\n" + Ledger() +
                                               "\n是否替换？替换前，原有文件将改名留作副本。"};
    EXPECT_EQ(view.questions, c.ledgerThere ? question : std::vector<std::string>{});
    EXPECT_TRUE(view.warnings.empty());
    EXPECT_TRUE(view.restoreEnabled);
    EXPECT_FALSE(presenter.RestoreRunning());
    const std::string aside = Ledger() + ".before-restore-20240502090000";
    if (c.yes) {
      EXPECT_EQ(ReadFile(Ledger()), "the ledger as backed up");
      EXPECT_EQ(ReadFile(aside), "today's ledger");
      ASSERT_EQ(view.notices.size(), 1u);
      EXPECT_TRUE(view.notices[0].starts_with("账套已恢复到：" + Ledger() +
                                              "\n原有文件已留作副本：" + aside + "\n"))
          << view.notices[0];
    } else {
      // Nothing happened.
      EXPECT_TRUE(view.notices.empty());
      EXPECT_EQ(testing::FilesIn(target_),
                c.ledgerThere ? std::vector<std::string>{"ACME.AIS"} : std::vector<std::string>{});
      if (c.ledgerThere) {
        EXPECT_EQ(ReadFile(Ledger()), "today's ledger");
      }
      EXPECT_EQ(view.statuses.back(), "");
    }
  }
}

TEST_F(BackupLogRestoreTest, AFailedRestoreWarnsWithItsReasonAndLeavesTheFolderAlone) {
  Configure(0);
  BackUp("the ledger as backed up");
  struct Case {
    const char* name;
    std::function<void()> harm;
    std::string reasonStart;
  };
  std::unique_ptr<AppFolderLock> runLock;
  const Case cases[] = {
      {"digest differs",
       [&] {
         SettingsDatabase(app_).RecordBackupDigests(
             {"local", WithTrailingSeparator(backups_), BackupName() + ".bak", kStamp,
              BackupName() + ".bak", std::string(64, '0'), 23, std::string(64, '0'), 23, ""});
       },
       "恢复备份失败！\n没有一个副本能够恢复，目标未作任何改动。本机备份："},
      {"a backup run holds the folder",
       [&] {
         std::string error;
         runLock = AppFolderLock::TryAcquire(app_, kRunLockFileName, error);
         ASSERT_NE(runLock, nullptr) << error;
       },
       "恢复备份失败！\n备份线程正在运行，请等备份完成后再恢复："},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.harm();
    RecordingLogView view;
    view.folder = target_;
    BackupLogPresenter presenter = RestorePresenter(view);
    ASSERT_TRUE(presenter.OnShow());
    presenter.RestoreClicked(view.rows.at(0).id);
    view.Flush();
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_TRUE(view.warnings[0].starts_with(c.reasonStart)) << view.warnings[0];
    EXPECT_TRUE(view.notices.empty());
    EXPECT_TRUE(testing::FilesIn(target_).empty());
    EXPECT_EQ(view.statuses.back(), "恢复失败");
    EXPECT_TRUE(view.restoreEnabled);
  }
}

TEST_F(BackupLogRestoreTest, ASqlEditionRowAsksForTheNewDatabasesName) {
  Configure(2);
  BackUp("a database backup");
  struct Case {
    const char* name;
    std::optional<std::string> answer;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {"cancelled", std::nullopt, {}},
      {"blank", "  ", {"您好，新数据库的名称不能为空！"}},
      // The restore goes for the server, which this window was given none of.
      {"confirmed", "acme_copy", {"恢复备份失败！\n无法连接 SQL Server"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingLogView view;
    view.text = c.answer;
    BackupLogPresenter presenter = RestorePresenter(view);
    ASSERT_TRUE(presenter.OnShow());
    presenter.RestoreClicked(view.rows.at(0).id);
    view.Flush();
    EXPECT_EQ(view.prompts,
              std::vector<std::string>{"备份将恢复为一个新的数据库，请确认新数据库的名称："});
    EXPECT_EQ(view.initialTexts, std::vector<std::string>{"acme_db_restored_20240501013000"});
    EXPECT_EQ(view.warnings, c.warnings);
    EXPECT_TRUE(view.notices.empty());
    EXPECT_TRUE(view.restoreEnabled);
  }
}

TEST_F(BackupLogRestoreTest, RowsWithoutABackupSaySoAndAShareCopyRowFindsItsBackup) {
  Configure(0);
  BackUp("the ledger as backed up");
  const std::string local = WithTrailingSeparator(backups_);
  {
    SettingsDatabase db(app_);
    db.InsertLocalResult("ACME", "压缩失败：磁盘已满", "", false);
    db.InsertRemoteFailure("\\\\srv\\bak\\");
    db.InsertLocalResult("ACME", local + BackupName("20240401013000"), "", true);  // pruned
    db.InsertRemoteCopy("ACME", "\\\\srv\\bak\\" + BackupName(), "");
  }
  const std::string notABackup = "您好，这一行记录的不是一个成功的备份，没有可以恢复的备份文件！";
  const std::string gone =
      "您好，这一行的备份文件在本机和远程备份路径中都已找不到（可能已按保留个数删除，"
      "或账套已不在备份列表中），无法恢复！";
  struct Case {
    std::string row;  // its backup file column
    std::string notice;
    bool foldersReached;  // the lookup ran
  };
  const Case cases[] = {
      {"压缩失败：磁盘已满", notABackup, false},
      {"\\\\srv\\bak\\远程备份失败", notABackup, false},
      {local + BackupName("20240401013000"), gone, true},
      // The share's copy is the same backup: the picker opens (and is cancelled).
      {"\\\\srv\\bak\\" + BackupName(), "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    RecordingLogView view;
    BackupLogPresenter presenter = RestorePresenter(view);
    ASSERT_TRUE(presenter.OnShow());
    presenter.RestoreClicked(IdOfRow(view, c.row));
    view.Flush();
    EXPECT_EQ(view.notices,
              c.notice.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.notice});
    EXPECT_EQ(view.prompts.size(), c.notice.empty() ? 1u : 0u) << "the folder picker";
    EXPECT_EQ(!view.statuses.empty(), c.foldersReached);
    EXPECT_TRUE(view.warnings.empty());
    EXPECT_TRUE(view.restoreEnabled);
    EXPECT_FALSE(presenter.RestoreRunning());
  }
}

}  // namespace
}  // namespace veltora
