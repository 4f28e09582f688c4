// The SQLite plumbing the settings files share: prepared statements with bound
// values, opening a file that must exist, and copying a database with the
// online backup API. Internal to src/settings/. Every failure throws
// std::runtime_error carrying SQLite's own message text.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/sqlite_handles.h"

namespace veltora::sqlite {

[[noreturn]] void Throw(sqlite3* db);

// One prepared statement; finalized on every path.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);

  Statement& Bind(int index, std::string_view text);
  // Without this a literal would pick the bool overload.
  Statement& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, int value) { return Bind(index, static_cast<std::int64_t>(value)); }
  Statement& Bind(int index, bool value) { return Bind(index, value ? 1 : 0); }

  // True while a row is available.
  bool Step();
  void Run() {
    while (Step()) {
    }
  }
  // Ready to run again with new bindings.
  void Reset();

  bool IsNull(int col) const;
  std::string Text(int col) const;
  std::int64_t Int64(int col) const;
  // A whole number that does not fit an int reads as the nearest int rather
  // than its low 32 bits, so that 4294967297 never becomes 1.
  int SaturatedInt(int col) const;
  bool Bool(int col) const { return Int64(col) != 0; }

 private:
  void Check(int rc) const;

  sqlite3* db_;
  ScopedSqliteStatement stmt_;
};

void Exec(sqlite3* db, const char* sql);
// Whether the database has a table of this name (letter case aside, as SQL
// names compare).
bool HasTable(sqlite3* db, std::string_view name);
// For clean-up on a path that is already failing: errors are ignored.
void ExecQuietly(sqlite3* db, const char* sql) noexcept;

// Runs body inside one write transaction; rolls back when it throws.
template <typename Body>
void InTransaction(sqlite3* db, Body&& body) {
  Exec(db, "BEGIN IMMEDIATE");
  try {
    body();
    Exec(db, "COMMIT");
  } catch (...) {
    ExecQuietly(db, "ROLLBACK");
    throw;
  }
}

// Opens a file that must exist, waiting up to busyTimeout for another
// connection's lock before any statement gives up. A failure names the file
// after SQLite's text. flags are sqlite3_open_v2's. Opened for writing, the
// file's own name must be no symbolic link (links in its folder's path are
// fine).
ScopedSqlite OpenExisting(const std::string& path, int flags,
                          std::chrono::milliseconds busyTimeout);

// Opens a file only to look at it: read-only, no journal or lock files are
// made or played back, nothing beside it changes. Works in a read-only folder.
ScopedSqlite OpenForInspection(const std::string& path);

// Copies the database open on source into a new owner-only file at target
// with the online backup API. The copy is taken under one read transaction,
// so it is consistent whatever other connections write meanwhile. The result
// uses a rollback journal, which makes it one self-contained file. Refuses an
// existing target; leaves nothing behind on failure.
void BackupInto(sqlite3* source, const std::string& target, std::chrono::milliseconds busyTimeout);

void RemoveQuietly(const std::string& path);
// The journal files SQLite may keep beside a database.
inline constexpr const char* kCompanionSuffixes[] = {"-journal", "-wal", "-shm"};
// A database file together with its journal files.
void RemoveWithCompanions(const std::string& path);

}  // namespace veltora::sqlite
