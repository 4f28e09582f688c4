// The one way the program talks to SQL Server: connect with a login and a
// catalogue, send commands that return no rows, run queries and read their rows
// by column name as text. Every failure of the server or the driver is thrown
// as SqlError carrying the server's or the driver's own message text, which the
// callers write into the run log after "导致失败可能的原因为：".
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace veltora {

class SqlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One result row; column names are matched without regard to ASCII case and a
// NULL reads as the empty text.
class SqlRow {
 public:
  void Add(std::string column, std::string value) {
    cells_.emplace_back(std::move(column), std::move(value));
  }
  std::optional<std::string> Find(std::string_view column) const;
  // The value of the column; SqlError when the row has no such column.
  std::string Get(std::string_view column) const;
  std::size_t size() const { return cells_.size(); }

 private:
  std::vector<std::pair<std::string, std::string>> cells_;
};

struct SqlTimeouts {
  int connectSeconds = 27;
  int commandSeconds = 1800;
};

class SqlServerConnection {
 public:
  virtual ~SqlServerConnection() = default;
  // Drops any open connection, then logs in to the local default instance
  // with the given catalogue as the current database.
  virtual void Connect(const std::string& user, const std::string& password,
                       const std::string& catalogue) = 0;
  // Runs a command that returns no rows, within the command time-out.
  virtual void Execute(const std::string& command) = 0;
  // Runs a query and returns every row in the server's order.
  virtual std::vector<SqlRow> Query(const std::string& query) = 0;
  // Disconnects; harmless when not connected. Never throws.
  virtual void Close() noexcept = 0;
};

// Makes a fresh, unconnected client: each thread (the backup thread, a listing
// on the window thread) gets its own connection.
class SqlServerFactory {
 public:
  virtual ~SqlServerFactory() = default;
  virtual std::unique_ptr<SqlServerConnection> Create(const SqlTimeouts& timeouts) const = 0;
};

// T-SQL quoting of values the program builds statements from: a delimited
// identifier "[name]" with "]" doubled, and a Unicode literal "N'text'" with
// "'" doubled. Nothing the user typed reaches SQL Server unquoted.
std::string QuoteSqlIdentifier(std::string_view name);
std::string QuoteSqlLiteral(std::string_view text);

// The server's product version, major.minor ("10.50" is SQL Server 2008 R2).
struct SqlServerVersion {
  int major = 0;
  int minor = 0;
  bool operator==(const SqlServerVersion&) const = default;
};

// How the program asks the server its version: one row, the text in column
// kProductVersionColumn. SQL Server names no column for an expression, and
// rows are read by name, hence the alias.
inline constexpr char kProductVersionColumn[] = "ProductVersion";
inline constexpr char kProductVersionQuery[] =
    "SELECT CAST(SERVERPROPERTY('ProductVersion') AS varchar(32)) AS ProductVersion";

// "9.00.1399.06" -> 9.0; nothing for a text that does not start with two
// numbers.
std::optional<SqlServerVersion> ParseProductVersion(std::string_view text);

// Sends kProductVersionQuery; nothing when the server refuses it or answers
// something unreadable. Never throws: a caller that cannot learn the version
// sends the statements every server knows.
std::optional<SqlServerVersion> AskServerVersion(SqlServerConnection& sql) noexcept;

// The statements the nightly backup sends for a database, by what the server
// answered (nothing: the version is unknown). The database name is quoted
// here; nothing else of the caller's reaches the text.
//
// From SQL Server 2005 (9.0) the backup adds CHECKSUM, so a damaged page
// fails the backup instead of giving a backup that cannot be restored.
std::string BackupDatabaseStatement(std::string_view database, std::string_view file,
                                    const std::optional<SqlServerVersion>& version);

// The restore statements, quoted as the backup's. RESTORE FILELISTONLY lists
// the files a backup holds: one row each, with LogicalName, PhysicalName (where
// the file was when backed up) and Type (D data, L log).
std::string RestoreFileListStatement(std::string_view file);
// RESTORE VERIFYONLY of a backup file, WITH CHECKSUM from 9.0 as the backup
// is made. A server checks the checksums a backup holds even unasked; asking
// adds the refusal of a backup that holds none.
std::string RestoreVerifyStatement(std::string_view file,
                                   const std::optional<SqlServerVersion>& version);

// Where RESTORE ... WITH MOVE puts one file of the backup.
struct DatabaseFileMove {
  std::string logicalName;
  std::string physicalPath;
  bool operator==(const DatabaseFileMove&) const = default;
};

// RESTORE DATABASE [db] FROM DISK = N'file' WITH MOVE N'l' TO N'p', ...
// [, REPLACE] [, CHECKSUM from 9.0].
std::string RestoreDatabaseStatement(std::string_view database, std::string_view file,
                                     const std::vector<DatabaseFileMove>& moves, bool replace,
                                     const std::optional<SqlServerVersion>& version);

// Where the files of a backup go when it is restored as `database`, from the
// rows of RESTORE FILELISTONLY: the first data file "<db>.mdf", the first log
// "<db>_log.ldf", any further file "<db>_<n>.ndf" (n from 1), all in
// `dataFolder`, a folder as the server spells it (C:\...\DATA\ or
// /var/opt/mssql/data/). The database name is made safe for a file name on
// Windows, where the server most likely runs.
std::vector<DatabaseFileMove> RestoredFileMoves(const std::vector<SqlRow>& fileList,
                                                std::string_view dataFolder,
                                                std::string_view database);

// Whether a database of that name exists, by sysdatabases, which every version
// has. Names compare as the server's collation compares them.
bool DatabaseExists(SqlServerConnection& sql, std::string_view database);

// Restores the backup file `bakFile` (a path the server can read) as
// `database`, its files moved to the server's data folder under the new name
// (RestoredFileMoves). Without `replace` an existing database is refused
// before the server is asked: a server restores a backup over the database it
// was taken of, in simple recovery, without REPLACE. With it the existing one
// is overwritten; the caller decides when that is allowed. The connection
// should be to master: a database that is some connection's current one
// cannot be taken over. Throws SqlError with the server's text.
void RestoreDatabaseAs(SqlServerConnection& sql, std::string_view bakFile,
                       std::string_view database, bool replace,
                       const std::optional<SqlServerVersion>& version);

// RESTORE VERIFYONLY of the file; SqlError with the server's text when the
// backup is damaged, no backup, or cannot be read.
void VerifyBackupFile(SqlServerConnection& sql, std::string_view bakFile,
                      const std::optional<SqlServerVersion>& version);

// The option steps around the backup, each with its own run-log line.
// sp_dboption is gone from SQL Server 2012 (11.0); there the same meaning is
// set with ALTER DATABASE. 'select into/bulkcopy' on together with
// 'trunc. log on chkpt' off is the bulk-logged recovery model, so both of
// those steps send it: each step still stands alone, and a repeat is harmless.
enum class DatabaseOptionStep { kBulkCopyOn, kAutoShrinkOn, kTruncateLogOff };
std::string DatabaseOptionStatement(DatabaseOptionStep step, std::string_view database,
                                    const std::optional<SqlServerVersion>& version);

}  // namespace veltora
