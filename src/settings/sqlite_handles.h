// Owned SQLite handles. Each is given back exactly once, on whatever path
// leaves the scope: a connection is closed, a statement finalized, a backup
// finished. Where the result of closing matters (a copy must be complete),
// the code closes explicitly and releases the guard.
#pragma once

#include "base/scoped_handle.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_backup;

namespace veltora {

struct SqliteConnectionTraits {
  static sqlite3* Invalid() { return nullptr; }
  static void Close(sqlite3* db) noexcept;  // sqlite3_close_v2
};
using ScopedSqlite = ScopedHandle<sqlite3*, SqliteConnectionTraits>;

struct SqliteStatementTraits {
  static sqlite3_stmt* Invalid() { return nullptr; }
  static void Close(sqlite3_stmt* stmt) noexcept;  // sqlite3_finalize
};
using ScopedSqliteStatement = ScopedHandle<sqlite3_stmt*, SqliteStatementTraits>;

struct SqliteBackupTraits {
  static sqlite3_backup* Invalid() { return nullptr; }
  static void Close(sqlite3_backup* backup) noexcept;  // sqlite3_backup_finish
};
using ScopedSqliteBackup = ScopedHandle<sqlite3_backup*, SqliteBackupTraits>;

}  // namespace veltora
