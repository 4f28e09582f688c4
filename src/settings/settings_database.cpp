#include "settings/settings_database.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "base/fs_path.h"
#include "base/owner_only_file.h"
#include "base/path.h"
#include "base/text.h"
#include "settings/messages.h"
#include "settings/sqlite_support.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using sqlite::Exec;

// How often the spare copy's rename is tried while another one is under way.
constexpr int kSpareRenameAttempts = 100;
using sqlite::InTransaction;
using sqlite::OpenExisting;
using sqlite::Statement;

// now(): the current local date and time as "yyyy-mm-dd hh:mm:ss", read from
// the clock given as the function's user data.
void NowFunction(sqlite3_context* ctx, int /*argc*/, sqlite3_value** /*argv*/) {
  const auto* clock = static_cast<const Clock*>(sqlite3_user_data(ctx));
  try {
    const std::string text = FormatDateTime(clock->LocalNow());
    sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// The existing file of folder whose name equals name but for ASCII letter
// case; empty when there is none.
std::string FindCaseVariant(const std::string& folder, std::string_view name) {
  std::error_code ec;
  for (fs::directory_iterator it(PathFromUtf8(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string entry = Utf8FromPath(it->path().filename());
    if (EqualsIgnoreAsciiCase(entry, name) && it->is_regular_file(ec))
      return Utf8FromPath(it->path());
  }
  return std::string();
}

// The account list's rows, replacing every old one; inside the caller's
// transaction.
void WriteAccountList(sqlite3* db, const std::vector<AccountListRow>& rows) {
  Statement(db, "delete from accountlist").Run();
  Statement insert(db, "insert into accountlist(accountid,accountname,dbname) values(?,?,?)");
  for (const AccountListRow& row : rows) {
    insert.Bind(1, row.accountid).Bind(2, row.accountname).Bind(3, row.dbname);
    insert.Run();
    insert.Reset();
  }
}

// Every settings column but lastbakday; rarpwd only when a new password is
// given. Throws when the row is missing, rather than reporting a save that
// stored nothing.
void WriteSettingsRow(sqlite3* db, const BaksetRow& values,
                      std::optional<std::string_view> newArchivePassword) {
  std::string sql =
      "update bakset set softvernum=?,accountDir=?,sqluser=?,sqlpwd=?,localuser=?,localpwd=?,"
      "remoteuser=?,remotepwd=?,localbak=?,remotebak=?,localDir=?,remoteDir=?,bakfilenum=?,"
      "rarlevel=?,baktime=?,conout=?,sqlout=?,btwdays=?,safecheck=?";
  if (newArchivePassword) sql += ",rarpwd=?";
  Statement s(db, sql);
  s.Bind(1, values.softvernum)
      .Bind(2, values.accountDir)
      .Bind(3, values.sqluser)
      .Bind(4, values.sqlpwd)
      .Bind(5, values.localuser)
      .Bind(6, values.localpwd)
      .Bind(7, values.remoteuser)
      .Bind(8, values.remotepwd)
      .Bind(9, values.localbak)
      .Bind(10, values.remotebak)
      .Bind(11, values.localDir)
      .Bind(12, values.remoteDir)
      .Bind(13, values.bakfilenum)
      .Bind(14, values.rarlevel)
      .Bind(15, values.baktime)
      .Bind(16, values.conout)
      .Bind(17, values.sqlout)
      .Bind(18, values.btwdays)
      .Bind(19, values.safecheck);
  if (newArchivePassword) s.Bind(20, *newArchivePassword);
  s.Run();
  if (sqlite3_changes(db) == 0) throw std::runtime_error("the settings table bakset has no row");
}

}  // namespace

std::string ResolveSettingsDatabasePath(std::string_view appFolder) {
  const std::string exact = SettingsDatabasePath(appFolder);
  std::error_code ec;
  if (fs::exists(PathFromUtf8(exact), ec)) return exact;
  const std::string variant = FindCaseVariant(
      appFolder.empty() ? std::string(".") : std::string(appFolder), kSettingsDatabaseFileName);
  return variant.empty() ? exact : variant;
}

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

}  // namespace

std::string SettingsDatabasePath(std::string_view appFolder) {
  return JoinPath(appFolder, kSettingsDatabaseFileName);
}

std::string SpareCopyPath(std::string_view appFolder) {
  return JoinPath(appFolder, kSpareCopyFileName);
}

void CreateSettingsDatabase(const std::string& schemaPath, const std::string& target) {
  const std::string schema = ReadWholeFile(schemaPath);
  CreateOwnerOnlyFile(target);
  try {
    {
      ScopedSqlite db = OpenExisting(target, SQLITE_OPEN_READWRITE, kSettingsBusyTimeout);
      InTransaction(db.get(), [&] { Exec(db.get(), schema.c_str()); });
      if (sqlite3_close(db.get()) != SQLITE_OK) sqlite::Throw(db.get());
      db.Release();  // closed
    }
    MakeOwnerOnly(target);
  } catch (...) {
    sqlite::RemoveWithCompanions(target);
    throw;
  }
}

void InstallSettingsDatabase(const std::string& preparedFile, std::string_view appFolder) {
  const std::string existing = ResolveSettingsDatabasePath(appFolder);
  std::error_code ec;
  if (fs::exists(PathFromUtf8(existing), ec))
    throw std::runtime_error("the settings database already exists and is never replaced: " +
                             existing);
  ScopedSqlite source = OpenExisting(preparedFile, SQLITE_OPEN_READONLY, kSettingsBusyTimeout);
  sqlite::BackupInto(source.get(), SettingsDatabasePath(appFolder), kSettingsBusyTimeout);
}

SettingsDatabase::SettingsDatabase(std::string_view appFolder, std::shared_ptr<const Clock> clock,
                                   std::chrono::milliseconds busyTimeout)
    : folder_(appFolder),
      path_(ResolveSettingsDatabasePath(appFolder)),
      clock_(clock != nullptr ? std::move(clock) : std::make_shared<SystemClock>()),
      busyTimeout_(busyTimeout) {
  // READWRITE without CREATE: a missing file is an error, never a new database.
  ScopedSqlite db = OpenExisting(path_, SQLITE_OPEN_READWRITE, busyTimeout_);
  if (sqlite3_create_function_v2(db.get(), "now", 0, SQLITE_UTF8, const_cast<Clock*>(clock_.get()),
                                 NowFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
    sqlite::Throw(db.get());
  // The first read of the file: a file that is no database fails here, before
  // anything below could write to it.
  for (const char* table : kSettingsTables) {
    if (!sqlite::HasTable(db.get(), table))
      throw std::runtime_error(std::string(settings_messages::kMissingTable) + table + ": " +
                               path_);
  }
  // SQLite falls back to reading when the file refuses writing; the settings
  // are written by every user of this class, so that is an error here.
  if (sqlite3_db_readonly(db.get(), "main") == 1)
    throw std::runtime_error(std::string(sqlite3_errstr(SQLITE_READONLY)) + ": " + path_);
  // Two connections switching a rollback-journal file to WAL at the same
  // moment would deadlock, so SQLite refuses one of them at once instead of
  // waiting; that one tries again.
  for (std::chrono::milliseconds waited{0};; waited += std::chrono::milliseconds(50)) {
    Statement wal(db.get(), "PRAGMA journal_mode=WAL");
    try {
      wal.Run();
      break;
    } catch (const std::runtime_error&) {
      if (sqlite3_errcode(db.get()) != SQLITE_BUSY || waited >= busyTimeout_) throw;
    }
    sqlite3_sleep(50);
  }
  db_ = std::move(db);
}

SettingsDatabase::~SettingsDatabase() = default;
SettingsDatabase::SettingsDatabase(SettingsDatabase&&) noexcept = default;
SettingsDatabase& SettingsDatabase::operator=(SettingsDatabase&&) noexcept = default;

bool SettingsDatabase::HasAccountList() const {
  Statement s(db_.get(), "select 1 from accountlist limit 1");
  return s.Step();
}

BaksetRow SettingsDatabase::LoadSettings() const {
  Statement s(db_.get(),
              "select softvernum, accountdir, sqluser, sqlpwd, localuser, localpwd, remoteuser, "
              "remotepwd, localbak, remotebak, localdir, remotedir, bakfilenum, rarlevel, baktime, "
              "conout, sqlout, btwdays, safecheck, rarpwd, lastbakday from bakset limit 1");
  if (!s.Step()) throw std::runtime_error("the settings table bakset has no row");
  BaksetRow row;
  row.softvernum = s.SaturatedInt(0);
  row.accountDir = s.Text(1);
  row.sqluser = s.Text(2);
  row.sqlpwd = s.Text(3);
  row.localuser = s.Text(4);
  row.localpwd = s.Text(5);
  row.remoteuser = s.Text(6);
  row.remotepwd = s.Text(7);
  row.localbak = s.Bool(8);
  row.remotebak = s.Bool(9);
  row.localDir = s.Text(10);
  row.remoteDir = s.Text(11);
  row.bakfilenum = s.SaturatedInt(12);
  row.rarlevel = s.Text(13);
  row.baktime = s.Text(14);
  row.conout = s.SaturatedInt(15);
  row.sqlout = s.SaturatedInt(16);
  row.btwdays = s.SaturatedInt(17);
  row.safecheck = s.Bool(18);
  row.rarpwd = s.Text(19);
  if (!s.IsNull(20)) {
    LocalTime t;
    if (ParseDateTime(s.Text(20), t)) row.lastbakday = ToDateTime(t);
  }
  return row;
}

bool SettingsDatabase::IsAccountNameStored(std::string_view fileName) const {
  Statement s(db_.get(), "select 1 from accountlist where accountname=? limit 1");
  s.Bind(1, fileName);
  return s.Step();
}

bool SettingsDatabase::IsAccountIdStored(std::string_view number) const {
  Statement s(db_.get(), "select 1 from accountlist where accountid=? limit 1");
  s.Bind(1, number);
  return s.Step();
}

void SettingsDatabase::RewriteAccountList(const std::vector<AccountListRow>& rows) {
  InTransaction(db_.get(), [&] { WriteAccountList(db_.get(), rows); });
}

void SettingsDatabase::SaveSettings(const BaksetRow& values,
                                    std::optional<std::string_view> newArchivePassword) {
  WriteSettingsRow(db_.get(), values, newArchivePassword);
}

void SettingsDatabase::SaveAccountListAndSettings(
    const std::vector<AccountListRow>& rows, const BaksetRow& values,
    std::optional<std::string_view> newArchivePassword) {
  InTransaction(db_.get(), [&] {
    WriteAccountList(db_.get(), rows);
    WriteSettingsRow(db_.get(), values, newArchivePassword);
  });
}

std::vector<AccountListRow> SettingsDatabase::LoadAccountList() const {
  Statement s(db_.get(), "select accountid, accountname, dbname from accountlist order by rowid");
  std::vector<AccountListRow> rows;
  while (s.Step()) rows.push_back({s.Text(0), s.Text(1), s.Text(2)});
  return rows;
}

void SettingsDatabase::UpdateArchivePassword(std::string_view password) {
  Statement s(db_.get(), "update bakset set rarpwd=?");
  s.Bind(1, password);
  s.Run();
}

void SettingsDatabase::UpdateLastBackupDay() {
  Statement(db_.get(), "update bakset set lastbakday=now()").Run();
}

void SettingsDatabase::InsertFolderFailure(std::string_view reason, std::string_view remark) {
  Statement s(db_.get(), "insert into baklog(localbakfile,baksuccess,bz) values(?,False,?)");
  s.Bind(1, reason).Bind(2, remark);
  s.Run();
}

void SettingsDatabase::InsertLocalResult(std::string_view account, std::string_view localFile,
                                         std::string_view password, bool succeeded) {
  Statement s(db_.get(),
              "insert into baklog(accountname,localbakfile,rarpwd,baksuccess) values(?,?,?,?)");
  s.Bind(1, account).Bind(2, localFile).Bind(3, password).Bind(4, succeeded);
  s.Run();
}

void SettingsDatabase::InsertRemoteCopy(std::string_view account, std::string_view remoteFile,
                                        std::string_view password) {
  Statement s(db_.get(), "insert into baklog(accountname,localbakfile,bz,rarpwd) values(?,?,?,?)");
  s.Bind(1, account)
      .Bind(2, remoteFile)
      .Bind(3, settings_messages::kRemoteCopyRemark)
      .Bind(4, password);
  s.Run();
}

void SettingsDatabase::InsertRemoteFailure(std::string_view remoteFolder) {
  // The folder is a bound value, so a quote in it can neither break nor
  // extend the statement.
  Statement s(db_.get(), "insert into baklog(localbakfile,bz) values(?,?)");
  s.Bind(1, std::string(remoteFolder) + settings_messages::kRemoteFailureSuffix)
      .Bind(2, settings_messages::kRemoteFailureRemark);
  s.Run();
}

std::int64_t SettingsDatabase::TrimBackupLog() {
  std::int64_t highest = 0;
  {
    Statement s(db_.get(), "select max(id) from baklog");
    if (s.Step()) highest = s.Int64(0);  // an empty table gives NULL, read as 0
  }
  // The subtraction stays in SQL as the statement has always had it.
  Statement s(db_.get(), "delete from baklog where id<?-2000");
  s.Bind(1, highest);
  s.Run();
  return sqlite3_changes64(db_.get());
}

std::vector<BaklogRow> SettingsDatabase::ListBackupLog(int limit) const {
  Statement s(db_.get(),
              "select id,accountname,localbakfile,rarpwd,baksuccess,bz,baktime from baklog "
              "order by id desc limit ?");
  s.Bind(1, limit);
  std::vector<BaklogRow> rows;
  while (s.Step()) {
    BaklogRow row;
    row.id = s.Int64(0);
    row.accountname = s.Text(1);
    row.localbakfile = s.Text(2);
    row.rarpwd = s.Text(3);
    if (!s.IsNull(4)) row.baksuccess = s.Bool(4);
    row.bz = s.Text(5);
    row.baktime = s.Text(6);
    rows.push_back(std::move(row));
  }
  return rows;
}

namespace {

void EnsureOwnArchiveTable(sqlite3* db) {
  // Digest and size are nullable: rows recorded before anything computes
  // them stay valid.
  Exec(db,
       "create table if not exists ownbakfile(id integer primary key autoincrement,"
       "side text not null,folder text not null,filename text not null,stamp text not null,"
       "recorded text not null,sha256 text,bytes integer,unique(side,folder,filename))");
}

// A table of its own rather than columns added to the own-archive table, so a
// database made before it is only ever added to, never altered.
void EnsureBackupDigestTable(sqlite3* db) {
  Exec(db,
       "create table if not exists bakdigest(id integer primary key autoincrement,"
       "side text not null,folder text not null,filename text not null,stamp text not null,"
       "contentname text not null,contentsha256 text not null,contentbytes integer not null,"
       "archivesha256 text not null,archivebytes integer not null,recorded text not null,"
       "unique(side,folder,filename))");
}

void EnsureVerificationTable(sqlite3* db) {
  Exec(db,
       "create table if not exists bakverify(id integer primary key autoincrement,"
       "verified text not null,accountname text not null,side text not null,"
       "stamp text not null,passed integer not null,reason text not null)");
}

bool TableExists(sqlite3* db, std::string_view name) {
  Statement s(db, "select 1 from sqlite_master where type='table' and name=?");
  s.Bind(1, name);
  return s.Step();
}

}  // namespace

void SettingsDatabase::RecordVerifications(const std::vector<VerificationRow>& rows) {
  EnsureVerificationTable(db_.get());
  InTransaction(db_.get(), [&] {
    Statement s(db_.get(),
                "insert into bakverify(verified,accountname,side,stamp,passed,reason) "
                "values(?,?,?,?,?,?)");
    for (const VerificationRow& row : rows) {
      s.Bind(1, row.verified).Bind(2, row.accountSet).Bind(3, row.side).Bind(4, row.stamp);
      s.Bind(5, row.passed).Bind(6, row.reason);
      s.Run();
      s.Reset();
    }
    // A test a week makes few rows, but a failing one is tried after every
    // scheduled run and `verify` may be run from a script: the table is kept
    // bounded.
    Exec(db_.get(), "delete from bakverify where id<(select max(id) from bakverify)-2000");
  });
}

std::vector<VerificationRow> SettingsDatabase::ListVerifications() const {
  std::vector<VerificationRow> rows;
  if (!TableExists(db_.get(), kVerificationTable)) return rows;
  Statement s(db_.get(),
              "select verified,accountname,side,stamp,passed,reason from bakverify "
              "order by id desc");
  while (s.Step()) {
    VerificationRow row;
    row.verified = s.Text(0);
    row.accountSet = s.Text(1);
    row.side = s.Text(2);
    row.stamp = s.Text(3);
    row.passed = s.Bool(4);
    row.reason = s.Text(5);
    rows.push_back(std::move(row));
  }
  return rows;
}

void SettingsDatabase::RecordBackupDigests(const BackupDigestRow& row) {
  EnsureBackupDigestTable(db_.get());
  Statement s(db_.get(),
              "insert or replace into bakdigest(side,folder,filename,stamp,contentname,"
              "contentsha256,contentbytes,archivesha256,archivebytes,recorded) "
              "values(?,?,?,?,?,?,?,?,?,now())");
  s.Bind(1, row.side).Bind(2, row.folder).Bind(3, row.fileName).Bind(4, row.stamp);
  s.Bind(5, row.contentName).Bind(6, row.contentSha256).Bind(7, row.contentBytes);
  s.Bind(8, row.archiveSha256).Bind(9, row.archiveBytes);
  s.Run();
}

std::vector<BackupDigestRow> SettingsDatabase::ListBackupDigests() {
  EnsureBackupDigestTable(db_.get());
  Statement s(db_.get(),
              "select side,folder,filename,stamp,contentname,contentsha256,contentbytes,"
              "archivesha256,archivebytes,recorded from bakdigest order by stamp desc,id desc");
  std::vector<BackupDigestRow> rows;
  while (s.Step()) {
    BackupDigestRow row;
    row.side = s.Text(0);
    row.folder = s.Text(1);
    row.fileName = s.Text(2);
    row.stamp = s.Text(3);
    row.contentName = s.Text(4);
    row.contentSha256 = s.Text(5);
    row.contentBytes = s.Int64(6);
    row.archiveSha256 = s.Text(7);
    row.archiveBytes = s.Int64(8);
    row.recorded = s.Text(9);
    rows.push_back(std::move(row));
  }
  return rows;
}

void SettingsDatabase::RecordOwnArchive(std::string_view side, std::string_view folder,
                                        std::string_view fileName, std::string_view stamp) {
  EnsureOwnArchiveTable(db_.get());
  Statement s(db_.get(),
              "insert or replace into ownbakfile(side,folder,filename,stamp,recorded) "
              "values(?,?,?,?,now())");
  s.Bind(1, side).Bind(2, folder).Bind(3, fileName).Bind(4, stamp);
  s.Run();
}

void SettingsDatabase::ForgetOwnArchive(std::string_view side, std::string_view folder,
                                        std::string_view fileName) {
  EnsureOwnArchiveTable(db_.get());
  Statement s(db_.get(), "delete from ownbakfile where side=? and folder=? and filename=?");
  s.Bind(1, side).Bind(2, folder).Bind(3, fileName);
  s.Run();
  EnsureBackupDigestTable(db_.get());
  Statement d(db_.get(), "delete from bakdigest where side=? and folder=? and filename=?");
  d.Bind(1, side).Bind(2, folder).Bind(3, fileName);
  d.Run();
}

std::vector<std::string> SettingsDatabase::ListOwnArchives(std::string_view side,
                                                           std::string_view folder) {
  EnsureOwnArchiveTable(db_.get());
  Statement s(db_.get(), "select filename from ownbakfile where side=? and folder=?");
  s.Bind(1, side).Bind(2, folder);
  std::vector<std::string> names;
  while (s.Step()) names.push_back(s.Text(0));
  return names;
}

std::vector<std::string> SettingsDatabase::ListBackupNamesIn(std::string_view folder) const {
  std::vector<std::string> names;
  if (folder.empty()) return names;
  // instr finds the folder as text, so no character of it acts as a pattern.
  Statement s(db_.get(), "select distinct localbakfile from baklog where instr(localbakfile,?)=1");
  s.Bind(1, folder);
  while (s.Step()) {
    const std::string file = s.Text(0);
    const std::string rest = file.substr(std::min(folder.size(), file.size()));
    if (file.compare(0, folder.size(), folder) == 0 && !rest.empty() &&
        rest.find_first_of("/\\") == std::string::npos)
      names.push_back(rest);
  }
  return names;
}

void SettingsDatabase::MakeSpareCopy() const {
  const std::string target = SpareCopyPath(folder_);
  // The window thread and the backup thread may refresh the copy at the same
  // moment: each writes its own temporary file, and the last rename wins.
  std::random_device random;
  char unique[32];
  std::snprintf(unique, sizeof unique, ".%08x%08x.tmp", random(), random());
  const std::string temp = target + unique;
  sqlite::BackupInto(db_.get(), temp, busyTimeout_);
  // A journal left beside the old spare copy would be played back onto the new one.
  for (const char* suffix : sqlite::kCompanionSuffixes) sqlite::RemoveQuietly(target + suffix);
  // Windows refuses (access denied) a rename onto a name that another rename
  // is replacing at that moment instead of ordering the two; try again.
  std::error_code ec;
  for (int attempt = 0;; ++attempt) {
    fs::rename(PathFromUtf8(temp), PathFromUtf8(target), ec);
    if (!ec || ec != std::errc::permission_denied || attempt == kSpareRenameAttempts) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ec) {
    sqlite::RemoveQuietly(temp);
    throw std::runtime_error("cannot replace " + target + ": " + ec.message());
  }
}

}  // namespace veltora
