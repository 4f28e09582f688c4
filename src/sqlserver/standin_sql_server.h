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
//   SELECT [CAST(]SERVERPROPERTY('ProductVersion')[ AS varchar(n))] [[AS] alias]
//       one row: the version from settings, in a column named by the alias.
//   BACKUP DATABASE <[name] | bare word> TO DISK = <N'path' | 'path'>
//       [WITH INIT, CHECKSUM]
//       copies the database with SQLite's online backup API into a temporary
//       file beside the path and renames it over the path, so the file is
//       either the whole database or untouched. A relative path is taken
//       relative to the server folder (the server's own backup folder). Without
//       WITH INIT an existing file is refused: one backup per file here.
//   SELECT name|* FROM [master..|master.dbo.]sysdatabases [WHERE name = <literal>]
//       one row (column "name") per database, by name.
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
