// The settings database: an SQLite file "Setlog.dll" in the application folder
// with the tables bakset (the settings, one row), accountlist (the chosen
// account sets) and baklog (the backup table), and its spare copy "setlog.dlb".
//
// The program never creates the database: it is built from
// resources/settings_schema.sql by veltora-make-settings-db and put in place by
// InstallSettingsDatabase. A SettingsDatabase object is one connection; give
// each thread its own object. The journal runs in WAL mode so that the spare
// copy and the log window can read while the backup thread writes, and every
// connection waits for another one's lock (kSettingsBusyTimeout) before a
// statement fails with "database is locked".
//
// Every value reaches SQLite as a bound parameter. Every failure throws
// std::runtime_error whose what() is SQLite's own message text (for a failed
// open followed by the path).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/date_time.h"
#include "engine/backup_records.h"
#include "settings/sqlite_handles.h"

namespace veltora {

inline constexpr char kSettingsDatabaseFileName[] = "Setlog.dll";
inline constexpr char kSpareCopyFileName[] = "setlog.dlb";

// How long a connection waits for a lock held by another connection (the
// window saving while the backup thread records a row, a log being read in
// another process). A backup row that still cannot be written after this is
// an error the run reports.
inline constexpr std::chrono::milliseconds kSettingsBusyTimeout{30000};

// The tables every settings database has.
inline constexpr const char* kSettingsTables[] = {"bakset", "accountlist", "baklog"};

// How the tables spell the two sides an archive can lie on.
inline constexpr char kLocalSideKey[] = "local";
inline constexpr char kShareSideKey[] = "share";
inline const char* SideKey(ArchiveSide side) {
  return side == ArchiveSide::kLocal ? kLocalSideKey : kShareSideKey;
}

// The table of the archives this application folder made, by side ("local",
// "share"), folder and file name. It is created by the first use, so databases
// made before it, and the prepared empty one, go on working; the trim of the
// backup table never touches it. The digest and size columns stay empty until
// something fills them.
inline constexpr char kOwnArchiveTable[] = "ownbakfile";
// The digests of the backups the job made, one row per archive file and side.
inline constexpr char kBackupDigestTable[] = "bakdigest";
// The test restores: one row per account set and side each time the backups
// were tested. Created by the first record, like the tables above.
inline constexpr char kVerificationTable[] = "bakverify";

// The settings row. Members are named after their columns. Reading turns a
// NULL text into "", a NULL number into 0 and a NULL yes/no into false; a
// number beyond the range of int reads as the nearest int. Values are as
// stored: the loader puts them back into their ranges.
struct BaksetRow {
  int softvernum = 0;  // Kingdee edition index 0..3
  std::string accountDir;
  std::string sqluser;
  std::string sqlpwd;
  std::string localuser;
  std::string localpwd;
  std::string remoteuser;
  std::string remotepwd;
  bool localbak = false;
  bool remotebak = false;
  std::string localDir;
  std::string remoteDir;
  int bakfilenum = 0;  // backups to keep, 0 = no limit
  std::string rarlevel;
  std::string baktime;  // time of day "hh:mm:ss"
  int conout = 0;
  int sqlout = 0;
  int btwdays = 0;
  bool safecheck = false;
  std::string rarpwd;
  // The last scheduled start; empty while none has been recorded (or when the
  // stored text is not a date-time).
  std::optional<DateTime> lastbakday;

  friend bool operator==(const BaksetRow&, const BaksetRow&) = default;
};

// One chosen account set. File editions: accountid empty, accountname and
// dbname both the .AIS file name.
struct AccountListRow {
  std::string accountid;
  std::string accountname;
  std::string dbname;

  friend bool operator==(const AccountListRow&, const AccountListRow&) = default;
};

// One row of the backup table.
struct BaklogRow {
  std::int64_t id = 0;
  std::string accountname;
  std::string localbakfile;
  std::string rarpwd;
  std::optional<bool> baksuccess;  // empty in remote-copy rows
  std::string bz;
  std::string baktime;  // "yyyy-mm-dd hh:mm:ss", local time of the insert
};

// One archive's digests: the backup inside it (the .bak the server wrote or
// the copied ledger) and the archive file itself, each as sha256sum prints it.
// Without compression the archive is the backup, and both halves are equal.
struct BackupDigestRow {
  std::string side;  // "local" or "share"
  std::string folder;
  std::string fileName;  // the archive's name in folder
  std::string stamp;
  std::string contentName;  // the backup's file name inside the archive
  std::string contentSha256;
  std::int64_t contentBytes = 0;
  std::string archiveSha256;
  std::int64_t archiveBytes = 0;
  std::string recorded;  // "yyyy-mm-dd hh:mm:ss", local time
};

// One test restore of an account set's newest backup on one side.
struct VerificationRow {
  std::string verified;    // "yyyy-mm-dd hh:mm:ss", local time; the same for every row of one test
  std::string accountSet;  // as the account list names it
  std::string side;        // "local" or "share"
  std::string stamp;       // the tested backup's; empty when the set had none to test
  bool passed = false;
  std::string reason;  // why it failed; empty when it passed

  friend bool operator==(const VerificationRow&, const VerificationRow&) = default;
};

// folder + "Setlog.dll" / folder + "setlog.dlb", joined with one separator.
std::string SettingsDatabasePath(std::string_view appFolder);
std::string SpareCopyPath(std::string_view appFolder);

// Builds a fresh settings database at target from the schema script. Refuses
// when anything exists at target. The file is owner-only. Used by the build
// tool veltora-make-settings-db.
void CreateSettingsDatabase(const std::string& schemaPath, const std::string& target);

// Puts the prepared database into an application folder as its Setlog.dll.
// Refuses when the folder already has one (in any letter case): a live
// database with its settings and history is never replaced. The copy is made
// through SQLite, so it is consistent even if the prepared file is in use, and
// it is owner-only.
void InstallSettingsDatabase(const std::string& preparedFile, std::string_view appFolder);

class SettingsDatabase {
 public:
  // Opens the existing Setlog.dll of appFolder for reading and writing; never
  // creates it. When the file is missing but the folder holds a spelling that
  // differs only in letter case, that file is used (Windows would see the
  // same file). The clock feeds the SQL function now(); the system clock when
  // null. Throws when the file cannot be opened for writing, is no database
  // or lacks one of the three tables; DiagnoseSettingsDatabase
  // (settings_repair.h) then tells which of these it is.
  explicit SettingsDatabase(std::string_view appFolder,
                            std::shared_ptr<const Clock> clock = nullptr,
                            std::chrono::milliseconds busyTimeout = kSettingsBusyTimeout);
  ~SettingsDatabase();
  SettingsDatabase(SettingsDatabase&&) noexcept;
  SettingsDatabase& operator=(SettingsDatabase&&) noexcept;
  SettingsDatabase(const SettingsDatabase&) = delete;
  SettingsDatabase& operator=(const SettingsDatabase&) = delete;

  const std::string& folder() const { return folder_; }
  // The file actually opened.
  const std::string& path() const { return path_; }

  // Start-up: has any account set been chosen? (accountlist has a row)
  bool HasAccountList() const;
  // The settings row. Throws when the table has no row.
  BaksetRow LoadSettings() const;
  // Whether accountlist holds a row with this file name / account number.
  // ASCII letters compare without regard to case.
  bool IsAccountNameStored(std::string_view fileName) const;
  bool IsAccountIdStored(std::string_view number) const;
  // The account list in the order it was written.
  std::vector<AccountListRow> LoadAccountList() const;

  // Replaces the whole account list with rows, in order, in one transaction:
  // on failure the old list stays.
  void RewriteAccountList(const std::vector<AccountListRow>& rows);
  // Writes every settings column of values except rarpwd and lastbakday;
  // rarpwd only when a new archive password was accepted. Throws when the
  // settings row is missing, rather than reporting a save that stored nothing.
  void SaveSettings(const BaksetRow& values,
                    std::optional<std::string_view> newArchivePassword = std::nullopt);
  // The save of the main window: the account list rewritten and the settings
  // row written in one transaction, so that a failure of either leaves both
  // as they were.
  void SaveAccountListAndSettings(
      const std::vector<AccountListRow>& rows, const BaksetRow& values,
      std::optional<std::string_view> newArchivePassword = std::nullopt);
  void UpdateArchivePassword(std::string_view password);
  // lastbakday = now(), the injected clock's local time.
  void UpdateLastBackupDay();

  // The backup table's rows; baktime and id are filled by the database.
  // A whole folder failed: localbakfile = reason, baksuccess = false, bz = remark.
  void InsertFolderFailure(std::string_view reason, std::string_view remark);
  // One account set's local result.
  void InsertLocalResult(std::string_view account, std::string_view localFile,
                         std::string_view password, bool succeeded);
  // One backup copied to the share: bz "远程备份", baksuccess NULL.
  void InsertRemoteCopy(std::string_view account, std::string_view remoteFile,
                        std::string_view password);
  // Nothing reached the share: localbakfile = remoteFolder + "远程备份失败",
  // bz "具体原因请查看程序运行日志文件".
  void InsertRemoteFailure(std::string_view remoteFolder);

  // Keeps the rows whose id is at least the highest id minus 2000; answers
  // how many rows were deleted. An empty table loses nothing.
  std::int64_t TrimBackupLog();
  // The backup table newest first; at most limit rows, every row when
  // limit is negative.
  std::vector<BaklogRow> ListBackupLog(int limit = -1) const;

  // The own-archive table (kOwnArchiveTable), created when missing. `side` is
  // "local" or "share"; `folder` as the job spells it, with its separator.
  void RecordOwnArchive(std::string_view side, std::string_view folder, std::string_view fileName,
                        std::string_view stamp);
  void ForgetOwnArchive(std::string_view side, std::string_view folder, std::string_view fileName);
  // The digest table (kBackupDigestTable), created when missing: a row per
  // side, folder and archive name; recording one again replaces it.
  // ForgetOwnArchive forgets its digests too.
  void RecordBackupDigests(const BackupDigestRow& row);
  // Every recorded row, newest first.
  std::vector<BackupDigestRow> ListBackupDigests();
  // The verification table (kVerificationTable): the rows of one test
  // restore, written together, the table created when missing. Keeps the
  // newest 2001 ids, as the trim of the backup table does.
  void RecordVerifications(const std::vector<VerificationRow>& rows);
  // Every recorded row, newest first; none while the table does not exist
  // (reading never creates it).
  std::vector<VerificationRow> ListVerifications() const;
  // The file names recorded in folder on side.
  std::vector<std::string> ListOwnArchives(std::string_view side, std::string_view folder);
  // What the backup table's rows name directly in folder (localbakfile is the
  // folder, exactly as given, then a name without separator): the backups
  // made before the own-archive table, without their extension.
  std::vector<std::string> ListBackupNamesIn(std::string_view folder) const;

  // Refreshes setlog.dlb beside the database with SQLite's online backup: the
  // copy is written to a temporary file and renamed over the old one, so
  // setlog.dlb is always a whole, consistent database, even while another
  // connection writes. It is a self-contained file (no WAL) and owner-only.
  void MakeSpareCopy() const;

 private:
  std::string folder_;
  std::string path_;
  std::shared_ptr<const Clock> clock_;
  std::chrono::milliseconds busyTimeout_;
  ScopedSqlite db_;
};

// The settings database file of a folder: the exact spelling, or a case
// variant that exists; the exact spelling when neither exists.
std::string ResolveSettingsDatabasePath(std::string_view appFolder);

}  // namespace veltora
