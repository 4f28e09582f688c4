// A stand-in for SQL Server on machines that have none (demos, tests): a folder
// of SQLite databases stands for the server and its databases. It accepts the
// statements the program sends, with the same meaning, and fails with texts
// like SQL Server's. It is used only when configured explicitly, never as a
// fallback for a server that does not answer.
//
// Folder layout:
//   <folder>/server.sqlite   the server itself:
//       logins(name TEXT PRIMARY KEY COLLATE NOCASE, password TEXT)
//           the logins; names match without regard to ASCII case, passwords
//           exactly. Passwords are stored as plain text: this is a test double.
//       faults(pattern TEXT, message TEXT)
//           fault injection: a statement whose whole text matches `pattern`
//           under SQLite's LIKE (% and _ wildcards, ASCII case ignored) fails
//           with `message` before it is looked at; the first match by rowid wins.
//       dboptions(db_name TEXT, option TEXT, value TEXT)
//           what sp_dboption or ALTER DATABASE set, in sp_dboption's terms: the
//           option's full name and 'true'/'false'.
//       settings(name TEXT PRIMARY KEY, value TEXT)
//           'ProductVersion': the version the server answers (default
//           15.0.2000.5). From 11.0 sp_dboption is refused as missing; below
//           9.0 BACKUP ... WITH CHECKSUM is a syntax error.
//   <folder>/<encoded name>.mdf  one SQLite database per server database,
//       "master" included. In the name, '%', control characters and the bytes
//       that Windows or POSIX forbid in file names (/ \ : * ? " < > |) are
//       written as %XX (upper-case hex); everything else, blanks, quotes, "]"
//       and Chinese characters included, stays as it is. Database names match
//       without regard to ASCII case, as on a server with the default collation.
//
// Statements understood (keywords in any case, any spacing, T-SQL quoting:
// [name] with "]]", "name" with """", N'text' or 'text' with "''", -- and /* */
// comments; read by ParseStandinStatement in standin_statement.h):
//   EXEC[UTE] sp_dboption <db>, <option>, <value>
//       <db> a literal, a [name] or a bare word; <option> one of SQL Server's
//       database options or an unambiguous beginning of one; <value>
//       true/false/on/off. Recorded in dboptions.
//   ALTER DATABASE <[name] | bare word> SET RECOVERY FULL|BULK_LOGGED|SIMPLE
//   ALTER DATABASE <[name] | bare word> SET AUTO_SHRINK ON|OFF
//       recorded in dboptions as the sp_dboption calls of the same meaning:
//       BULK_LOGGED is 'select into/bulkcopy' true with 'trunc. log on chkpt.'
//       false, FULL both false, SIMPLE 'trunc. log on chkpt.' true.
//   SELECT [CAST(]SERVERPROPERTY('ProductVersion'|'InstanceDefaultDataPath')
//          [ AS [n]varchar(n))] [[AS] alias]
//       one row in a column named by the alias: the version from settings; the
//       server folder with its closing separator from 11.0, NULL (empty)
//       below, as older servers answer a property they lack.
//   BACKUP DATABASE <[name] | bare word> TO DISK = <N'path' | 'path'>
//       [WITH INIT, CHECKSUM]
//       copies the database with SQLite's online backup API into a temporary
//       file beside the path and renames it over the path, so the file is
//       either the whole database or untouched. A relative path is taken
//       relative to the server folder (the server's own backup folder). Without
//       WITH INIT an existing file is refused: one backup per file here.
//       The copy is made a backup set by a table of its own,
//       standin_backup_set(database_name, data_file, checksum): the database
//       and its file, and with CHECKSUM a SHA-256 of every table's definition
//       and rows, standing for the page checksums a real backup carries.
//   RESTORE FILELISTONLY FROM DISK = <literal>
//       two rows, LogicalName, PhysicalName, Type, FileGroupName, FileId: the
//       data file ("<db>", the database's file, D) and the log SQL Server
//       would have beside it ("<db>_log", <encoded name>_log.ldf, L).
//   RESTORE VERIFYONLY FROM DISK = <literal> [WITH CHECKSUM | NO_CHECKSUM]
//       whether the backup is whole: SQLite's integrity check and, unless
//       NO_CHECKSUM, the checksum when the backup has one. CHECKSUM refuses a
//       backup without, and is a syntax error below 9.0, as for BACKUP.
//   RESTORE DATABASE <[name] | bare word> FROM DISK = <literal>
//       [WITH MOVE <literal> TO <literal> | REPLACE | RECOVERY | CHECKSUM |
//       NO_CHECKSUM, ...]
//       checks the backup as VERIFYONLY does, copies it with SQLite's online
//       backup API into a temporary file in the folder, drops the backup-set
//       table from the copy and renames it into place, so the database equals
//       the one backed up, or is untouched. MOVE must name the backup's
//       logical files; where they go is ignored (databases keep the folder's
//       layout). Refused as SQL Server refuses them: an existing database
//       without REPLACE (3154, or 3159 when it is the backed-up one, as on a
//       server not in simple recovery), the current database of this
//       connection, and a file left unmoved while the backed-up database
//       still exists (it would land on that database's own file).
//   A backup path that is missing, or a file without the backup-set table,
//   is refused with SQL Server's texts for a missing device and a media family
//   that is incorrectly formed; a damaged one with "Damage to the backup set
//   was detected."; each followed by the statement's terminating line.
//   SELECT name|filename|* [, ...] FROM [master..|master.dbo.]sysdatabases
//          [WHERE name = <literal>]
//       one row per database, by name: columns "name" and "filename" (its
//       SQLite file, as a server names a database's primary data file).
//   any other SELECT: run as it stands on the current database's SQLite file
//       (one statement); SQLite's errors come back in SQL Server's words where
//       there is one ("Invalid object name 't'.").
// Anything else fails with "Incorrect syntax near '...'.". Unbalanced quotes are
// found before anything is done, so a name that breaks its quoting never acts
// on another database or file.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sqlserver/sql_server_connection.h"

namespace veltora {

struct StandinLogin {
  std::string name;
  std::string password;
};

class StandinSqlServer final : public SqlServerConnection {
 public:
  static constexpr std::string_view kServerFileName = "server.sqlite";
  static constexpr std::string_view kDatabaseExtension = ".mdf";

  // The command time-out bounds each statement (0: no limit), also its wait
  // for a database another connection has locked.
  StandinSqlServer(std::string folder, SqlTimeouts timeouts);
  ~StandinSqlServer() override;
  StandinSqlServer(const StandinSqlServer&) = delete;
  StandinSqlServer& operator=(const StandinSqlServer&) = delete;

  void Connect(const std::string& user, const std::string& password,
               const std::string& catalogue) override;
  void Execute(const std::string& command) override;
  std::vector<SqlRow> Query(const std::string& query) override;
  void Close() noexcept override;

  // Set-up for tests and demos; each throws SqlError when it cannot write.
  // Makes the folder and server.sqlite when missing, adds or replaces the
  // logins, and makes the database "master".
  static void CreateServer(const std::string& folder, const std::vector<StandinLogin>& logins);
  // Makes an empty database (kept when it exists) and answers its SQLite file,
  // for the caller to fill with tables.
  static std::string CreateDatabase(const std::string& folder, const std::string& name);
  static void AddFault(const std::string& folder, const std::string& pattern,
                       const std::string& message);
  // What SERVERPROPERTY('ProductVersion') answers ("10.50.1600.1"); the
  // statements that version lacks are refused as it refuses them.
  static void SetProductVersion(const std::string& folder, const std::string& version);
  // "<encoded name>.mdf", see the layout above.
  static std::string DatabaseFileName(std::string_view name);

 private:
  struct Session;
  std::vector<SqlRow> Run(const std::string& statement);

  std::string folder_;
  SqlTimeouts timeouts_;
  std::unique_ptr<Session> session_;
};

class StandinSqlServerFactory final : public SqlServerFactory {
 public:
  explicit StandinSqlServerFactory(std::string folder);
  std::unique_ptr<SqlServerConnection> Create(const SqlTimeouts& timeouts) const override;

 private:
  std::string folder_;
};

}  // namespace veltora
