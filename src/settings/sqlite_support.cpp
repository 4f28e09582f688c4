#include "settings/sqlite_support.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "base/fs_path.h"
#include "base/owner_only_file.h"

namespace veltora {

void SqliteConnectionTraits::Close(sqlite3* db) noexcept { sqlite3_close_v2(db); }
void SqliteStatementTraits::Close(sqlite3_stmt* stmt) noexcept { sqlite3_finalize(stmt); }
void SqliteBackupTraits::Close(sqlite3_backup* backup) noexcept { sqlite3_backup_finish(backup); }

namespace sqlite {
namespace {

namespace fs = std::filesystem;

int Milliseconds(std::chrono::milliseconds span) {
  return static_cast<int>(
      std::clamp<std::chrono::milliseconds::rep>(span.count(), 0, std::numeric_limits<int>::max()));
}

// The path SQLite opens for writing: its folder with every link in it
// resolved, and the file's own name. SQLite resolves links itself before it
// opens a file; with SQLITE_OPEN_NOFOLLOW it refuses any link in the path
// instead, which would refuse an application folder reached through a link,
// too. So the folder is resolved here, and a link left in the path after this
// can only be the file's own name: one planted there, which the open refuses.
// On Windows SQLite neither resolves nor refuses links; the path stays.
std::string WithFolderResolved(const std::string& path) {
  if (fs::path::preferred_separator != '/') return path;
  const fs::path given = PathFromUtf8(path);
  std::error_code ec;
  const fs::path folder = fs::canonical(given.has_parent_path() ? given.parent_path() : ".", ec);
  if (ec || !given.has_filename()) return path;
  return Utf8FromPath(folder / given.filename());
}

}  // namespace

void Throw(sqlite3* db) {
  throw std::runtime_error(db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  stmt_.Reset(raw);
  if (rc != SQLITE_OK) Throw(db);
}

Statement& Statement::Bind(int index, std::string_view text) {
  Check(sqlite3_bind_text64(stmt_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8));
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
  Check(sqlite3_bind_int64(stmt_.get(), index, value));
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Throw(db_);
}

void Statement::Reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

bool Statement::IsNull(int col) const {
  return sqlite3_column_type(stmt_.get(), col) == SQLITE_NULL;
}

std::string Statement::Text(int col) const {
  const auto* p = sqlite3_column_text(stmt_.get(), col);
  if (p == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(p),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt_.get(), col)));
}

std::int64_t Statement::Int64(int col) const { return sqlite3_column_int64(stmt_.get(), col); }

int Statement::SaturatedInt(int col) const {
  return static_cast<int>(std::clamp<std::int64_t>(Int64(col), std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

void Statement::Check(int rc) const {
  if (rc != SQLITE_OK) Throw(db_);
}

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Throw(db);
}

bool HasTable(sqlite3* db, std::string_view name) {
  Statement s(db, "select 1 from sqlite_master where type='table' and name=? collate nocase");
  s.Bind(1, name);
  return s.Step();
}

void ExecQuietly(sqlite3* db, const char* sql) noexcept {
  sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

ScopedSqlite OpenExisting(const std::string& path, int flags,
                          std::chrono::milliseconds busyTimeout) {
  sqlite3* raw = nullptr;
  // A file opened for writing is never reached through a link planted under
  // its name: a journal played back or a page written would land in the
  // link's target.
  const bool writing = (flags & SQLITE_OPEN_READWRITE) != 0;
  const int rc = writing ? sqlite3_open_v2(WithFolderResolved(path).c_str(), &raw,
                                           flags | SQLITE_OPEN_NOFOLLOW, nullptr)
                         : sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  ScopedSqlite db(raw);
  if (rc != SQLITE_OK) {
    throw std::runtime_error(
        std::string(raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)) + ": " + path);
  }
  sqlite3_busy_timeout(raw, Milliseconds(busyTimeout));
  return db;
}

ScopedSqlite OpenForInspection(const std::string& path) {
  // immutable=1: no locks, no journal played back, no -wal or -shm created.
  // The path goes into a URI, so the characters that mean something there
  // are escaped.
  // An absolute path gets an empty authority, so that "//x" stays a path.
  std::string uri = !path.empty() && path[0] == '/' ? "file://" : "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0x0F];
    } else {
      uri += c;
    }
  }
  uri += "?immutable=1";
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  ScopedSqlite db(raw);
  if (rc != SQLITE_OK) {
    throw std::runtime_error(
        std::string(raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)) + ": " + path);
  }
  return db;
}

void BackupInto(sqlite3* source, const std::string& target, std::chrono::milliseconds busyTimeout) {
  CreateOwnerOnlyFile(target);
  try {
    {
      ScopedSqlite dest = OpenExisting(target, SQLITE_OPEN_READWRITE, busyTimeout);
      ScopedSqliteBackup backup(sqlite3_backup_init(dest.get(), "main", source, "main"));
      if (!backup) Throw(dest.get());
      int rc = SQLITE_OK;
      // A reader is rarely refused under WAL (only while the log is being
      // recovered); give it the same patience as any other statement.
      const int patience = Milliseconds(busyTimeout);
      for (int waited = 0;; waited += 100) {
        rc = sqlite3_backup_step(backup.get(), -1);
        if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || waited >= patience) break;
        sqlite3_sleep(100);
      }
      const int finish = sqlite3_backup_finish(backup.Release());
      if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errstr(rc));
      if (finish != SQLITE_OK) Throw(dest.get());
      Statement(dest.get(), "PRAGMA journal_mode=DELETE").Run();
      if (sqlite3_close(dest.get()) != SQLITE_OK) Throw(dest.get());
      dest.Release();  // closed
    }
    MakeOwnerOnly(target);
  } catch (...) {
    RemoveWithCompanions(target);
    throw;
  }
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(PathFromUtf8(path), ec);
}

void RemoveWithCompanions(const std::string& path) {
  RemoveQuietly(path);
  for (const char* suffix : kCompanionSuffixes) RemoveQuietly(path + suffix);
}

}  // namespace sqlite
}  // namespace veltora
