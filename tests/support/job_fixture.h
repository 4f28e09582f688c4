// What the backup job's suites share: a settings database laid out by the
// build (the test target says NEEDS_SETTINGS_DB), real folders, a fixed clock,
// a recording log and the stand-in SQL Server's factory.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/backup_job.h"
#include "settings/settings_database.h"
#include "settings/sqlite_backup_records.h"
#include "sqlserver/standin_sql_server.h"
#include "support/backup_services.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora::job_test {

using testing::FixedClock;
using testing::RecordingLog;
using testing::TempDir;

inline constexpr LocalTime kStart{2024, 5, 1, 1, 30, 0, 3};
inline constexpr char kStamp[] = "20240501013000";
inline constexpr char kCaption[] = "青岚软件账套自动备份系统(金蝶版)  V2.1";

inline std::vector<std::string> StartLines() {
  return {kCaption, "Windows操作系统运行了1时0分0秒", "计算机空闲了0时0分5秒",
          "备份线程开始执行备份操作！"};
}

// Runs SQL on a SQLite file and returns the first column of the first row.
inline std::string SqliteValue(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> guard(db, sqlite3_close);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    return std::string("error: ") + sqlite3_errmsg(db);
  std::string value;
  if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
    value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  return value;
}

inline void SqliteExec(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> guard(db, sqlite3_close);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
}

// A temporary folder holding the application folder (with the built settings
// database), the account folder, the local backup folder and the stand-in
// server's folder (made by whoever needs a server), the clock at kStart.
class JobFixture : public ::testing::Test {
 protected:
  JobFixture()
      : clock_(std::make_shared<FixedClock>(kStart)), records_(app(), clock_), sql_(server()) {
    for (const auto& d : {app(), accounts(), backups()}) std::filesystem::create_directories(d);
    InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, app());
  }

  std::string app() const { return dir_ / "app"; }
  std::string accounts() const { return dir_ / "accounts"; }
  std::string backups() const { return dir_ / "backups"; }
  std::string server() const { return dir_ / "server"; }

  TempDir dir_;
  std::shared_ptr<FixedClock> clock_;
  RecordingLog log_;
  SqliteBackupRecordsFactory records_;
  StandinSqlServerFactory sql_;
};

// The backup thread's own suites: a server with the login sa/secret.
class BackupJobTest : public JobFixture {
 protected:
  BackupJobTest() { StandinSqlServer::CreateServer(server(), {{"sa", "secret"}}); }

  BackupConfig FileConfig(std::vector<AccountSetEntry> entries) const {
    BackupConfig c;
    c.caption = kCaption;
    c.edition = 0;
    c.accountSets = std::move(entries);
    c.accountFolder = accounts();
    c.localFolder = backups();
    c.archivePassword = "pw'1";
    c.compressionLevel = 0;
    return c;
  }

  BackupConfig SqlConfig(std::vector<AccountSetEntry> entries) const {
    BackupConfig c = FileConfig(std::move(entries));
    c.edition = 2;
    c.sqlUser = "sa";
    c.sqlPassword = "secret";
    return c;
  }

  // A database on the stand-in with `rows` rows in table t.
  void MakeDatabase(const std::string& name, int rows) {
    SqliteExec(StandinSqlServer::CreateDatabase(server(), name),
               "CREATE TABLE t(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
               "WHERE i<" +
                   std::to_string(rows) + ") INSERT INTO t SELECT i FROM n;");
  }

  std::optional<BackupRunSummary> Run(const BackupConfig& config) {
    std::atomic<bool> configured{true};
    std::atomic<bool> running{false};
    BackupServices services = testing::TestBackupServices(log_, *clock_, sql_, records_);
    services.runLogPath = dir_ / "app/run.log";
    services.rotateRunLog = [this] { ++rotations_; };
    services.uptimeText = [] { return std::string("1时0分0秒"); };
    services.idleText = [] { return std::string("0时0分5秒"); };
    auto summary = BackupThreadProc(config, {configured, running}, services);
    EXPECT_FALSE(running.load()) << "the running flag is cleared on every path";
    return summary;
  }

  std::vector<BaklogRow> Rows() const { return SettingsDatabase(app()).ListBackupLog(); }

  // The start lines, `middle`, and the closing line: success, or the line
  // that counts the account sets a failed run did not complete.
  std::vector<std::string> Lines(std::initializer_list<std::string> middle,
                                 int incomplete = 0) const {
    auto lines = StartLines();
    lines.insert(lines.end(), middle);
    lines.push_back(incomplete == 0 ? std::string("备份线程成功执行了备份操作！")
                                    : "备份线程执行完毕，但有" + std::to_string(incomplete) +
                                          "个账套没有完成全部备份步骤，或有备份记录未能写入，"
                                          "详情请查看本日志！");
    return lines;
  }

  static int Succeeded(const BackupRunSummary& s) {
    return static_cast<int>(std::count_if(s.results.begin(), s.results.end(),
                                          [](const LocalResult& r) { return r.succeeded; }));
  }

  int rotations_ = 0;
};

}  // namespace veltora::job_test
