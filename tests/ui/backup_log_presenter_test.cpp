#include "ui/backup_log_presenter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/raw_db.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::RawDb;
using testing::TempDir;

struct RecordingLogView final : BackupLogView {
  void SetRows(const std::vector<BackupLogRow>& r) override { rows = r; }
  void ShowNotice(const std::string& text) override { notices.push_back(text); }
  void Close() override { ++closes; }
  std::vector<BackupLogRow> rows;
  std::vector<std::string> notices;
  int closes = 0;
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
            (BackupLogRow{"甲公司", "/bak/甲公司20240502100000.bak", time, "", "p'w"}));

  Raw().Exec("drop table baklog");
  presenter.RefreshClicked();
  EXPECT_EQ(view_.rows.size(), 4u);
  EXPECT_TRUE(view_.notices.empty());
  EXPECT_EQ(view_.closes, 0);
}

}  // namespace
}  // namespace veltora
