// The stand-in's reading of a T-SQL text: one statement value per kind it
// understands, with names and literals already unquoted. Parsing looks at the
// text alone; whether a database, a file or an option exists is the stand-in's
// business when it runs the statement.
//
// Keywords in any case, any spacing, T-SQL quoting ([name] with "]]", "name"
// with """", N'text' or 'text' with "''") and -- or /* */ comments. The whole
// text is tokenised before anything is decided, so a name that breaks its
// quoting is refused as a whole and never acts on another database or file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sqlserver/sql_server_connection.h"

namespace veltora {

// Nothing but blanks and comments: runs as nothing.
struct StandinEmptyBatch {
  bool operator==(const StandinEmptyBatch&) const = default;
};

// EXEC[UTE] sp_dboption <db>, <option>, <value>; each argument a literal, a
// [name] or a bare word, kept as written (the option is matched and the value
// checked when the call runs).
struct StandinDbOptionCall {
  std::string database;
  std::string option;
  std::string value;
  bool operator==(const StandinDbOptionCall&) const = default;
};

// BACKUP DATABASE <[name] | bare word> TO DISK = <N'path' | 'path'>
// [WITH INIT | FORMAT | NOINIT | CHECKSUM | NO_CHECKSUM, ...]; INIT and FORMAT
// overwrite; of each pair the last one given counts.
struct StandinBackupDatabase {
  std::string database;
  std::string disk;
  bool init = false;
  bool checksum = false;
  bool operator==(const StandinBackupDatabase&) const = default;
};

// ALTER DATABASE <[name] | bare word> SET RECOVERY FULL|BULK_LOGGED|SIMPLE
// or SET AUTO_SHRINK ON|OFF; option and value upper-case.
struct StandinAlterDatabase {
  std::string database;
  std::string option;
  std::string value;
  bool operator==(const StandinAlterDatabase&) const = default;
};

// SELECT [CAST(]SERVERPROPERTY(<literal>)[ AS [n]varchar[(n)])] [[AS] alias]:
// one row, one column named by the alias (none without one).
struct StandinServerPropertyQuery {
  std::string property;
  std::string column;
  bool operator==(const StandinServerPropertyQuery&) const = default;
};

// RESTORE FILELISTONLY FROM DISK = <N'path' | 'path'>.
struct StandinRestoreFileList {
  std::string disk;
  bool operator==(const StandinRestoreFileList&) const = default;
};

// RESTORE VERIFYONLY FROM DISK = <N'path' | 'path'> [WITH CHECKSUM | NO_CHECKSUM].
// checksum: asked for (true), refused (false), or the default: the backup's
// checksums are checked when it has some.
struct StandinRestoreVerify {
  std::string disk;
  std::optional<bool> checksum;
  bool operator==(const StandinRestoreVerify&) const = default;
};

// RESTORE DATABASE <[name] | bare word> FROM DISK = <N'path' | 'path'>
// [WITH MOVE <literal> TO <literal> | REPLACE | RECOVERY | CHECKSUM |
// NO_CHECKSUM, ...]; checksum as for VERIFYONLY.
struct StandinRestoreDatabase {
  std::string database;
  std::string disk;
  std::vector<DatabaseFileMove> moves;
  bool replace = false;
  std::optional<bool> checksum;
  bool operator==(const StandinRestoreDatabase&) const = default;
};

// SELECT name|filename|* [, ...] FROM [master..|master.dbo.]sysdatabases
// [WHERE name = <literal>]; each row answers both columns whatever the list.
struct StandinSysdatabasesQuery {
  std::optional<std::string> name;
  bool operator==(const StandinSysdatabasesQuery&) const = default;
};

// Any other SELECT: the text runs as it stands on the current database.
struct StandinPlainSelect {
  // What a refusal of the query names in "Incorrect syntax near ...": the
  // word after SELECT.
  std::string near;
  bool operator==(const StandinPlainSelect&) const = default;
};

using StandinStatement =
    std::variant<StandinEmptyBatch, StandinDbOptionCall, StandinBackupDatabase,
                 StandinAlterDatabase, StandinServerPropertyQuery, StandinRestoreFileList,
                 StandinRestoreVerify, StandinRestoreDatabase, StandinSysdatabasesQuery,
                 StandinPlainSelect>;

// Throws SqlError in SQL Server's words for a text it cannot read:
// "Incorrect syntax near '...'.", "Unclosed quotation mark after the character
// string '...'.", "Missing end comment mark '*/'.", "Could not find stored
// procedure '...'.".
StandinStatement ParseStandinStatement(std::string_view sql);

// A text in single quotes as SQL Server's messages show it: inner quotes are
// not doubled.
std::string QuotedInMessage(std::string_view text);

}  // namespace veltora
