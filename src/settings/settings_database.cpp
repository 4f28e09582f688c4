#include "settings/settings_database.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "base/path.h"
#include "base/text.h"
#include "settings/messages.h"
#include "settings/owner_only_file.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;

constexpr int kBusyTimeoutMs = 10000;

[[noreturn]] void ThrowSqlite(sqlite3* db) {
  throw std::runtime_error(db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

// One prepared statement; finalized on every path.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK)
      ThrowSqlite(db);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::string_view text) {
    Check(
        sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
  }
  // Without this a literal would pick the bool overload.
  Statement& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
  Statement& Bind(int index, std::int64_t value) {
    Check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
  }
  Statement& Bind(int index, int value) { return Bind(index, static_cast<std::int64_t>(value)); }
  Statement& Bind(int index, bool value) { return Bind(index, value ? 1 : 0); }

  // True while a row is available.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    ThrowSqlite(db_);
  }
  void Run() {
    while (Step()) {
    }
  }
  // Ready to run again with new bindings.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::string Text(int col) const {
    const auto* p = sqlite3_column_text(stmt_, col);
    if (p == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(p),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)));
  }
  std::int64_t Int64(int col) const { return sqlite3_column_int64(stmt_, col); }
  int Int(int col) const { return sqlite3_column_int(stmt_, col); }
  bool Bool(int col) const { return sqlite3_column_int64(stmt_, col) != 0; }

 private:
  void Check(int rc) const {
    if (rc != SQLITE_OK) ThrowSqlite(db_);
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowSqlite(db);
}

using Connection = std::unique_ptr<sqlite3, decltype([](sqlite3* db) { sqlite3_close_v2(db); })>;

// Opens a file that must exist. A failure names the file after SQLite's text.
Connection OpenExisting(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Connection db(raw);
  if (rc != SQLITE_OK) {
    throw std::runtime_error(
        std::string(raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)) + ": " + path);
  }
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  return db;
}

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

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

// A database file together with the journal files SQLite may keep beside it.
void RemoveWithCompanions(const std::string& path) {
  RemoveQuietly(path);
  for (const char* suffix : {"-journal", "-wal", "-shm"}) RemoveQuietly(path + suffix);
}

// Copies the database open on source into a new owner-only file at target
// with the online backup API. The copy is taken under one read transaction,
// so it is consistent whatever other connections write meanwhile. The result
// uses a rollback journal, which makes it one self-contained file. Refuses an
// existing target; leaves nothing behind on failure.
void BackupInto(sqlite3* source, const std::string& target) {
  CreateOwnerOnlyFile(target);
  try {
    {
      Connection dest = OpenExisting(target, SQLITE_OPEN_READWRITE);
      sqlite3_backup* backup = sqlite3_backup_init(dest.get(), "main", source, "main");
      if (backup == nullptr) ThrowSqlite(dest.get());
      int rc = SQLITE_OK;
      // A reader is rarely refused under WAL (only while the log is being
      // recovered); give it the same patience as any other statement.
      for (int waited = 0; waited <= kBusyTimeoutMs; waited += 100) {
        rc = sqlite3_backup_step(backup, -1);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
        sqlite3_sleep(100);
      }
      const int finish = sqlite3_backup_finish(backup);
      if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errstr(rc));
      if (finish != SQLITE_OK) ThrowSqlite(dest.get());
      Statement(dest.get(), "PRAGMA journal_mode=DELETE").Run();
      if (sqlite3_close(dest.get()) != SQLITE_OK) ThrowSqlite(dest.get());
      dest.release();  // closed
    }
    MakeOwnerOnly(target);
  } catch (...) {
    RemoveWithCompanions(target);
    throw;
  }
}

// The existing file of folder whose name equals name but for ASCII letter
// case; empty when there is none.
std::string FindCaseVariant(const std::string& folder, std::string_view name) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (EqualsIgnoreAsciiCase(entry, name) && it->is_regular_file(ec)) return it->path().string();
  }
  return std::string();
}

// The settings database file of a folder: the exact spelling, or a case
// variant that exists; the exact spelling when neither exists.
std::string ResolveDatabasePath(std::string_view appFolder) {
  const std::string exact = SettingsDatabasePath(appFolder);
  std::error_code ec;
  if (fs::exists(exact, ec)) return exact;
  const std::string variant = FindCaseVariant(
      appFolder.empty() ? std::string(".") : std::string(appFolder), kSettingsDatabaseFileName);
  return variant.empty() ? exact : variant;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

// Runs body inside one write transaction; rolls back when it throws.
template <typename Body>
void InTransaction(sqlite3* db, Body&& body) {
  Exec(db, "BEGIN IMMEDIATE");
  try {
    body();
    Exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
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
      Connection db = OpenExisting(target, SQLITE_OPEN_READWRITE);
      InTransaction(db.get(), [&] { Exec(db.get(), schema.c_str()); });
      if (sqlite3_close(db.get()) != SQLITE_OK) ThrowSqlite(db.get());
      db.release();  // closed
    }
    MakeOwnerOnly(target);
  } catch (...) {
    RemoveWithCompanions(target);
    throw;
  }
}

void InstallSettingsDatabase(const std::string& preparedFile, std::string_view appFolder) {
  const std::string existing = ResolveDatabasePath(appFolder);
  std::error_code ec;
  if (fs::exists(existing, ec))
    throw std::runtime_error("the settings database already exists and is never replaced: " +
                             existing);
  Connection source = OpenExisting(preparedFile, SQLITE_OPEN_READONLY);
  BackupInto(source.get(), SettingsDatabasePath(appFolder));
}

void SettingsDatabase::Closer::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }

SettingsDatabase::SettingsDatabase(std::string_view appFolder, std::shared_ptr<const Clock> clock)
    : folder_(appFolder),
      path_(ResolveDatabasePath(appFolder)),
      clock_(clock != nullptr ? std::move(clock) : std::make_shared<SystemClock>()) {
  // READWRITE without CREATE: a missing file is an error, never a new database.
  Connection db = OpenExisting(path_, SQLITE_OPEN_READWRITE);
  if (sqlite3_create_function_v2(db.get(), "now", 0, SQLITE_UTF8, const_cast<Clock*>(clock_.get()),
                                 NowFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
    ThrowSqlite(db.get());
  // Also the first read of the file: a file that is no database fails here.
  // Two connections switching a rollback-journal file to WAL at the same
  // moment would deadlock, so SQLite refuses one of them at once instead of
  // waiting; that one tries again.
  for (int waited = 0;; waited += 50) {
    Statement wal(db.get(), "PRAGMA journal_mode=WAL");
    try {
      wal.Run();
      break;
    } catch (const std::runtime_error&) {
      if (sqlite3_errcode(db.get()) != SQLITE_BUSY || waited >= kBusyTimeoutMs) throw;
    }
    sqlite3_sleep(50);
  }
  db_.reset(db.release());
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
  row.softvernum = s.Int(0);
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
  row.bakfilenum = s.Int(12);
  row.rarlevel = s.Text(13);
  row.baktime = s.Text(14);
  row.conout = s.Int(15);
  row.sqlout = s.Int(16);
  row.btwdays = s.Int(17);
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
  InTransaction(db_.get(), [&] {
    Statement(db_.get(), "delete from accountlist").Run();
    Statement insert(db_.get(),
                     "insert into accountlist(accountid,accountname,dbname) values(?,?,?)");
    for (const AccountListRow& row : rows) {
      insert.Bind(1, row.accountid).Bind(2, row.accountname).Bind(3, row.dbname);
      insert.Run();
      insert.Reset();
    }
  });
}

void SettingsDatabase::SaveSettings(const BaksetRow& values,
                                    std::optional<std::string_view> newArchivePassword) {
  std::string sql =
      "update bakset set softvernum=?,accountDir=?,sqluser=?,sqlpwd=?,localuser=?,localpwd=?,"
      "remoteuser=?,remotepwd=?,localbak=?,remotebak=?,localDir=?,remoteDir=?,bakfilenum=?,"
      "rarlevel=?,baktime=?,conout=?,sqlout=?,btwdays=?,safecheck=?";
  if (newArchivePassword) sql += ",rarpwd=?";
  Statement s(db_.get(), sql);
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
  if (sqlite3_changes(db_.get()) == 0)
    throw std::runtime_error("the settings table bakset has no row");
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

void SettingsDatabase::MakeSpareCopy() const {
  const std::string target = SpareCopyPath(folder_);
  // The window thread and the backup thread may refresh the copy at the same
  // moment: each writes its own temporary file, and the last rename wins.
  std::random_device random;
  char unique[32];
  std::snprintf(unique, sizeof unique, ".%08x%08x.tmp", random(), random());
  const std::string temp = target + unique;
  BackupInto(db_.get(), temp);
  // A journal left beside the old spare copy would be played back onto the new one.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) RemoveQuietly(target + suffix);
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    RemoveQuietly(temp);
    throw std::runtime_error("cannot replace " + target + ": " + ec.message());
  }
}

}  // namespace veltora
