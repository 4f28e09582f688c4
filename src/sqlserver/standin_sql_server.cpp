#include "sqlserver/standin_sql_server.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>

#include "base/scoped_handle.h"
#include "base/sha256.h"
#include "base/text.h"
#include "sqlserver/standin_statement.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

// SQL Server's own wording for the failures the stand-in reproduces.
constexpr std::string_view kServerMissing =
    "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied.";
constexpr std::string_view kServerGone =
    "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your network "
    "documentation.";
constexpr std::string_view kNotConnected = "Operation is not allowed when the object is closed.";
constexpr std::string_view kBackupTerminating = "BACKUP DATABASE is terminating abnormally.";
constexpr std::string_view kQueryTimeout = "Query timeout expired";
constexpr std::string_view kLockTimeout = "Lock request time out period exceeded.";
constexpr std::string_view kAlterTerminating = "ALTER DATABASE statement failed.";
constexpr std::string_view kFileListTerminating = "RESTORE FILELIST is terminating abnormally.";
constexpr std::string_view kVerifyTerminating = "VERIFY DATABASE is terminating abnormally.";
constexpr std::string_view kRestoreTerminating = "RESTORE DATABASE is terminating abnormally.";
constexpr std::string_view kBackupDamaged = "Damage to the backup set was detected.";
constexpr std::string_view kDatabaseInUse =
    "Exclusive access could not be obtained because the database is in use.";
constexpr std::string_view kDefaultProductVersion = "15.0.2000.5";
constexpr std::string_view kDbOptionUsage =
    "Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]";

// The database options sp_dboption knows; an option may be given by any
// beginning that names only one of them ("trunc. log on chkpt").
constexpr std::string_view kDatabaseOptions[] = {
    "ANSI null default",
    "ANSI nulls",
    "ANSI padding",
    "ANSI warnings",
    "arithabort",
    "auto create statistics",
    "auto update statistics",
    "autoclose",
    "autoshrink",
    "concat null yields null",
    "cursor close on commit",
    "db chaining",
    "dbo use only",
    "default to local cursor",
    "merge publish",
    "numeric roundabort",
    "offline",
    "published",
    "quoted identifier",
    "read only",
    "recursive triggers",
    "select into/bulkcopy",
    "single user",
    "subscribed",
    "torn page detection",
    "trunc. log on chkpt.",
};

// ---- paths (UTF-8 inside the program, whatever the platform's narrow code page)

fs::path FsPath(std::string_view utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path ServerFile(const std::string& folder) {
  return FsPath(folder) / FsPath(StandinSqlServer::kServerFileName);
}

// ---- SQLite handles

struct SqliteDbTraits {
  static sqlite3* Invalid() { return nullptr; }
  static void Close(sqlite3* db) { sqlite3_close_v2(db); }
};
using Db = ScopedHandle<sqlite3*, SqliteDbTraits>;

struct SqliteStmtTraits {
  static sqlite3_stmt* Invalid() { return nullptr; }
  static void Close(sqlite3_stmt* stmt) { sqlite3_finalize(stmt); }
};
using Stmt = ScopedHandle<sqlite3_stmt*, SqliteStmtTraits>;

struct SqliteBackupTraits {
  static sqlite3_backup* Invalid() { return nullptr; }
  static void Close(sqlite3_backup* backup) { sqlite3_backup_finish(backup); }
};
using SqliteBackup = ScopedHandle<sqlite3_backup*, SqliteBackupTraits>;

// Opens a SQLite file; an empty handle, and the SQLite message in `error`,
// when it cannot.
Db OpenDb(const fs::path& path, int flags, std::string* error) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(Utf8(path).c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  Db db(raw);  // SQLite may hand out a handle even when it fails; it is closed all the same
  if (rc != SQLITE_OK) {
    if (error != nullptr) *error = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    return Db();
  }
  sqlite3_extended_result_codes(db.get(), 0);
  return db;
}

Db OpenOrThrow(const fs::path& path, int flags) {
  std::string error;
  Db db = OpenDb(path, flags, &error);
  if (!db) throw SqlError("Cannot open " + Utf8(path) + ": " + error);
  return db;
}

Stmt Prepare(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK)
    throw SqlError(sqlite3_errmsg(db));
  return Stmt(raw);
}

void Bind(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void ExecScript(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw SqlError(text);
  }
}

void StepDone(sqlite3* db, sqlite3_stmt* stmt) {
  if (sqlite3_step(stmt) != SQLITE_DONE) throw SqlError(sqlite3_errmsg(db));
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
}

// SQLite's message in SQL Server's words where SQL Server has some.
std::string ServerLikeError(sqlite3* db, int rc) {
  std::string message = sqlite3_errmsg(db);
  auto after = [&](std::string_view prefix) -> std::optional<std::string> {
    if (!StartsWith(message, prefix)) return std::nullopt;
    return message.substr(prefix.size());
  };
  if (rc == SQLITE_INTERRUPT) return std::string(kQueryTimeout);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return std::string(kLockTimeout);
  if (auto name = after("no such table: "))
    return "Invalid object name " + QuotedInMessage(*name) + ".";
  if (auto name = after("no such column: "))
    return "Invalid column name " + QuotedInMessage(*name) + ".";
  if (auto rest = after("near \"")) {
    std::size_t end = rest->rfind("\": syntax error");
    if (end != std::string::npos)
      return "Incorrect syntax near " + QuotedInMessage(rest->substr(0, end)) + ".";
  }
  if (message == "incomplete input") return "Incorrect syntax near the end of the statement.";
  return message;
}

// ---- database names and files

bool EncodedInFileName(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '%' || c == '/' || c == '\\' || c == ':' || c == '*' ||
         c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeDatabaseName(std::string_view encoded) {
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%' && i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 &&
        HexValue(encoded[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2])));
      i += 2;
    } else {
      out.push_back(encoded[i]);
    }
  }
  return out;
}

struct DatabaseEntry {
  std::string name;  // as the server stores it
  fs::path file;
};

std::vector<DatabaseEntry> ListDatabases(const std::string& folder) {
  std::vector<DatabaseEntry> out;
  std::error_code ec;
  for (fs::directory_iterator it(FsPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
    std::string file = Utf8(it->path().filename());
    std::string_view ext = StandinSqlServer::kDatabaseExtension;
    if (file.size() <= ext.size() || !EndsWith(file, ext)) continue;
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    out.push_back({DecodeDatabaseName(std::string_view(file).substr(0, file.size() - ext.size())),
                   it->path()});
  }
  // A folder that cannot be read is a server that cannot answer, not one
  // without databases.
  if (ec) throw SqlError("Cannot list the databases in " + folder + ": " + ec.message());
  std::sort(out.begin(), out.end(),
            [](const DatabaseEntry& a, const DatabaseEntry& b) { return a.name < b.name; });
  return out;
}

std::optional<DatabaseEntry> FindDatabase(const std::string& folder, std::string_view name) {
  fs::path exact = FsPath(folder) / FsPath(StandinSqlServer::DatabaseFileName(name));
  std::error_code ec;
  if (fs::is_regular_file(exact, ec)) return DatabaseEntry{std::string(name), exact};
  for (auto& entry : ListDatabases(folder))
    if (EqualsIgnoreAsciiCase(entry.name, name)) return entry;
  return std::nullopt;
}

int MillisecondsOf(int seconds) {
  if (seconds <= 0) return INT_MAX;
  return seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string CanonicalDatabaseOption(std::string_view given) {
  std::string wanted = LowerAscii(given);
  std::vector<std::string_view> matches;
  for (std::string_view option : kDatabaseOptions) {
    std::string lower = LowerAscii(option);
    if (lower == wanted) return std::string(option);
    if (!wanted.empty() && StartsWith(lower, wanted)) matches.push_back(option);
  }
  if (matches.size() == 1) return std::string(matches.front());
  if (matches.empty())
    throw SqlError("Database option " + QuotedInMessage(given) +
                   " does not exist. Specify a valid option.");
  throw SqlError("Database option " + QuotedInMessage(given) + " is not unique.");
}

std::string RandomSuffix() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> digits(0, 15);
  std::string out;
  for (int i = 0; i < 12; ++i) out.push_back("0123456789abcdef"[digits(device)]);
  return out;
}

// Removes a file unless released: the temporary file of an unfinished backup.
class RemoveOnExit {
 public:
  explicit RemoveOnExit(fs::path path) : path_(std::move(path)) {}
  ~RemoveOnExit() {
    if (armed_) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;
  void Release() { armed_ = false; }

 private:
  fs::path path_;
  bool armed_ = true;
};

template <typename... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

void RecordDatabaseOption(sqlite3* server, const std::string& database, std::string_view option,
                          bool on) {
  ExecScript(server,
             "CREATE TABLE IF NOT EXISTS dboptions(db_name TEXT NOT NULL COLLATE NOCASE,"
             " option TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(db_name, option));");
  Stmt record = Prepare(server,
                        "INSERT OR REPLACE INTO dboptions(db_name, option, value)"
                        " VALUES(?1, ?2, ?3)");
  Bind(record.get(), 1, database);
  Bind(record.get(), 2, option);
  Bind(record.get(), 3, on ? "true" : "false");
  if (int rc = sqlite3_step(record.get()); rc != SQLITE_DONE)
    throw SqlError(ServerLikeError(server, rc));
}

// EXEC sp_dboption: recorded in the server's dboptions table. The database is
// looked up before the option and the value are checked, as the server does.
void SetDatabaseOption(sqlite3* server, const std::string& folder,
                       const StandinDbOptionCall& call) {
  auto database = FindDatabase(folder, call.database);
  if (!database)
    throw SqlError("The database " + QuotedInMessage(call.database) +
                   " does not exist. Supply a valid database name. To see available databases, "
                   "use sys.databases.");
  std::string canonical = CanonicalDatabaseOption(call.option);
  std::string lower = LowerAscii(call.value);
  bool on = lower == "true" || lower == "on";
  if (!on && lower != "false" && lower != "off") throw SqlError(std::string(kDbOptionUsage));
  RecordDatabaseOption(server, database->name, canonical, on);
}

// ALTER DATABASE: recorded as the sp_dboption calls of the same meaning. The
// recovery model is the pair 'trunc. log on chkpt.' (on: simple) and
// 'select into/bulkcopy' (on: bulk-logged).
void AlterDatabase(sqlite3* server, const std::string& folder, const StandinAlterDatabase& alter) {
  auto database = FindDatabase(folder, alter.database);
  if (!database)
    throw SqlError("User does not have permission to alter database " +
                   QuotedInMessage(alter.database) +
                   ", the database does not exist, or the database is not in a state that "
                   "allows access checks.\n" +
                   std::string(kAlterTerminating));
  if (alter.option == "AUTO_SHRINK") {
    RecordDatabaseOption(server, database->name, "autoshrink", alter.value == "ON");
  } else if (alter.value == "SIMPLE") {
    RecordDatabaseOption(server, database->name, "trunc. log on chkpt.", true);
  } else {
    RecordDatabaseOption(server, database->name, "select into/bulkcopy",
                         alter.value == "BULK_LOGGED");
    RecordDatabaseOption(server, database->name, "trunc. log on chkpt.", false);
  }
}

// ---- backup sets

// What makes a SQLite file a backup: a table of one row naming the database
// it was taken of, that database's file, and the content checksum when the
// backup was made WITH CHECKSUM. A restore drops it from the copy.
constexpr char kBackupSetTable[] = "standin_backup_set";

// A digest of what a database holds: each table's definition and rows in the
// order the file keeps them, the backup-set record left out. A changed byte
// in any row changes it, which SQLite's integrity check alone would not see;
// this stands for the page checksums of SQL Server's backups.
std::string ContentChecksum(sqlite3* db) {
  Sha256 digest;
  auto feed = [&](char tag, const void* data, int size) {
    digest.Update(std::string(1, tag) + std::to_string(size) + ":");
    if (size > 0) digest.Update(data, static_cast<std::size_t>(size));
  };
  Stmt tables = Prepare(db, std::string("SELECT name, sql FROM sqlite_master WHERE type = 'table'"
                                        " AND name <> '") +
                                kBackupSetTable + "' ORDER BY name");
  int rc;
  while ((rc = sqlite3_step(tables.get())) == SQLITE_ROW) {
    const std::string name = ColumnText(tables.get(), 0);
    const std::string sql = ColumnText(tables.get(), 1);
    feed('T', name.data(), static_cast<int>(name.size()));
    feed('S', sql.data(), static_cast<int>(sql.size()));
    std::string quoted = "\"";
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    Stmt rows = Prepare(db, "SELECT * FROM " + quoted + "\"");
    const int columns = sqlite3_column_count(rows.get());
    int rowRc;
    while ((rowRc = sqlite3_step(rows.get())) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c) {
        switch (sqlite3_column_type(rows.get(), c)) {
          case SQLITE_NULL:
            feed('N', nullptr, 0);
            break;
          case SQLITE_BLOB: {
            const void* blob = sqlite3_column_blob(rows.get(), c);
            feed('B', blob, sqlite3_column_bytes(rows.get(), c));
            break;
          }
          default: {
            const char tag = sqlite3_column_type(rows.get(), c) == SQLITE_TEXT ? 'X' : 'V';
            const unsigned char* text = sqlite3_column_text(rows.get(), c);
            feed(tag, text, sqlite3_column_bytes(rows.get(), c));
          }
        }
      }
    }
    if (rowRc != SQLITE_DONE) throw SqlError(sqlite3_errmsg(db));
  }
  if (rc != SQLITE_DONE) throw SqlError(sqlite3_errmsg(db));
  return digest.HexDigest();
}

// Marks a fresh copy as the backup of `database` (whose file is `dataFile`).
void WriteBackupSet(sqlite3* copy, const std::string& database, const std::string& dataFile,
                    bool withChecksum) {
  ExecScript(copy, (std::string("DROP TABLE IF EXISTS ") + kBackupSetTable + ";").c_str());
  const std::optional<std::string> checksum =
      withChecksum ? std::optional<std::string>(ContentChecksum(copy)) : std::nullopt;
  ExecScript(copy, (std::string("CREATE TABLE ") + kBackupSetTable +
                    "(database_name TEXT NOT NULL, data_file TEXT NOT NULL, checksum TEXT);")
                       .c_str());
  Stmt insert = Prepare(copy, std::string("INSERT INTO ") + kBackupSetTable +
                                  "(database_name, data_file, checksum) VALUES(?1, ?2, ?3)");
  Bind(insert.get(), 1, database);
  Bind(insert.get(), 2, dataFile);
  if (checksum) Bind(insert.get(), 3, *checksum);
  StepDone(copy, insert.get());
}

// The log file SQL Server would have given a database beside its data file.
std::string LogFileOf(const std::string& dataFile) {
  const std::string_view ext = StandinSqlServer::kDatabaseExtension;
  const std::string base =
      EndsWith(dataFile, ext) ? dataFile.substr(0, dataFile.size() - ext.size()) : dataFile;
  return base + "_log.ldf";
}

struct BackupSet {
  Db db;
  std::string database;  // the database it was taken of
  std::string dataFile;  // that database's file then
  std::optional<std::string> checksum;

  // The files as RESTORE FILELISTONLY lists them: the data file and the log
  // SQL Server would keep beside it.
  std::string LogicalName(int file) const { return file == 0 ? database : database + "_log"; }
  std::string PhysicalName(int file) const { return file == 0 ? dataFile : LogFileOf(dataFile); }
};

SqlError Terminating(const std::string& why, std::string_view terminating) {
  return SqlError(why + "\n" + std::string(terminating));
}

// Opens a backup file as RESTORE does: a missing file, or one that is no
// backup, is refused in SQL Server's words followed by the statement's own
// terminating line. A relative path is taken from the server folder.
BackupSet OpenBackupSet(const std::string& folder, const std::string& disk,
                        std::string_view terminating) {
  fs::path path = FsPath(disk);
  if (path.is_relative()) path = FsPath(folder) / path;
  std::error_code ec;
  const std::string device = "Cannot open backup device " + QuotedInMessage(disk) + ".";
  if (!fs::exists(path, ec))
    throw Terminating(
        device + " Operating system error 2(The system cannot find the file specified.).",
        terminating);
  if (!fs::is_regular_file(path, ec))
    throw Terminating(device + " Operating system error 5(Access is denied.).", terminating);
  const std::string malformed = "The media family on device " + QuotedInMessage(disk) +
                                " is incorrectly formed. SQL Server cannot process this media "
                                "family.";
  BackupSet set;
  set.db = OpenDb(path, SQLITE_OPEN_READONLY, nullptr);
  if (!set.db) throw Terminating(malformed, terminating);
  const std::string read =
      std::string("SELECT database_name, data_file, checksum FROM ") + kBackupSetTable + " LIMIT 1";
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(set.db.get(), read.c_str(), -1, &raw, nullptr);
  Stmt record(raw);
  if (rc == SQLITE_OK) rc = sqlite3_step(raw);
  if (rc != SQLITE_ROW) {
    // No record (no such table, no row) or no database at all: not a backup.
    // A file SQLite finds damaged is a damaged backup.
    const int code = sqlite3_errcode(set.db.get());
    throw Terminating(code == SQLITE_CORRUPT ? std::string(kBackupDamaged) : malformed,
                      terminating);
  }
  set.database = ColumnText(raw, 0);
  set.dataFile = ColumnText(raw, 1);
  if (sqlite3_column_type(raw, 2) != SQLITE_NULL) set.checksum = ColumnText(raw, 2);
  return set;
}

// What RESTORE checks before it uses a backup: the file is whole, and its
// checksums match when it has some (unless NO_CHECKSUM); CHECKSUM asks for
// them and refuses a backup without.
void CheckBackupSet(const BackupSet& set, std::optional<bool> checksum,
                    std::string_view terminating) {
  if (checksum == true && !set.checksum)
    throw Terminating(
        "RESTORE WITH CHECKSUM cannot be specified because the backup set does not contain "
        "checksum information.",
        terminating);
  bool whole = false;
  try {
    Stmt check = Prepare(set.db.get(), "PRAGMA integrity_check(1)");
    whole = sqlite3_step(check.get()) == SQLITE_ROW && ColumnText(check.get(), 0) == "ok";
    if (whole && set.checksum && checksum != false)
      whole = ContentChecksum(set.db.get()) == *set.checksum;
  } catch (const SqlError&) {
    whole = false;
  }
  if (!whole) throw Terminating(std::string(kBackupDamaged), terminating);
}

// RESTORE FILELISTONLY: the data file and the log of the backed-up database.
std::vector<SqlRow> RestoreFileList(const std::string& folder, const StandinRestoreFileList& list) {
  const BackupSet set = OpenBackupSet(folder, list.disk, kFileListTerminating);
  std::vector<SqlRow> rows;
  for (int file = 0; file < 2; ++file) {
    SqlRow row;
    row.Add("LogicalName", set.LogicalName(file));
    row.Add("PhysicalName", set.PhysicalName(file));
    row.Add("Type", file == 0 ? "D" : "L");
    row.Add("FileGroupName", file == 0 ? "PRIMARY" : "");
    row.Add("FileId", std::to_string(file + 1));
    rows.push_back(std::move(row));
  }
  return rows;
}

void VerifyBackup(const std::string& folder, const StandinRestoreVerify& verify) {
  const BackupSet set = OpenBackupSet(folder, verify.disk, kVerifyTerminating);
  CheckBackupSet(set, verify.checksum, kVerifyTerminating);
}

// Waits out a busy or locked step of SQLite's backup API until the deadline.
int StepBackup(sqlite3_backup* run, SteadyClock::time_point deadline) {
  int rc;
  while ((rc = sqlite3_backup_step(run, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    if (SteadyClock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return rc;
}

// RESTORE DATABASE: the backup copied with SQLite's backup API into a
// temporary file in the server folder, its backup-set record dropped, and
// renamed into place (over the database it replaces), so the database is
// either the whole backup or untouched. The MOVE targets are checked against
// the backup's logical names and otherwise ignored: databases stay in the
// folder's own layout.
void RestoreDatabase(const std::string& folder, const StandinRestoreDatabase& restore,
                     const std::string& currentCatalogue, SteadyClock::time_point deadline) {
  auto fail = [](const std::string& why) { return Terminating(why, kRestoreTerminating); };
  const BackupSet set = OpenBackupSet(folder, restore.disk, kRestoreTerminating);
  std::vector<bool> moved(2, false);
  for (const auto& move : restore.moves) {
    bool known = false;
    for (int file = 0; file < 2; ++file)
      if (EqualsIgnoreAsciiCase(move.logicalName, set.LogicalName(file))) {
        moved[static_cast<std::size_t>(file)] = true;
        known = true;
      }
    if (!known)
      throw fail("Logical file " + QuotedInMessage(move.logicalName) + " is not part of database " +
                 QuotedInMessage(restore.database) +
                 ". Use RESTORE FILELISTONLY to list the logical file names.");
  }
  const auto target = FindDatabase(folder, restore.database);
  const bool sameDatabase = EqualsIgnoreAsciiCase(restore.database, set.database);
  if (target && !restore.replace) {
    if (sameDatabase)
      throw fail("The tail of the log for the database \"" + target->name +
                 "\" has not been backed up. Use BACKUP LOG WITH NORECOVERY to backup the log if "
                 "it contains work you do not want to lose. Use the WITH REPLACE or WITH STOPAT "
                 "clause of the RESTORE statement to just overwrite the contents of the log.");
    throw fail("The backup set holds a backup of a database other than the existing " +
               QuotedInMessage(target->name) + " database.");
  }
  // A file the statement does not move is written to the path it was backed
  // up from. While the backed-up database still exists under its name, that
  // path is its own file, so restoring under a new name without moving both
  // files would overwrite a live database: refused.
  if (!sameDatabase)
    if (const auto source = FindDatabase(folder, set.database))
      for (int file = 0; file < 2; ++file)
        if (!moved[static_cast<std::size_t>(file)])
          throw fail("The file " + QuotedInMessage(set.PhysicalName(file)) +
                     " cannot be overwritten. It is being used by database " +
                     QuotedInMessage(source->name) + ".");
  if (target && EqualsIgnoreAsciiCase(target->name, currentCatalogue))
    throw fail(std::string(kDatabaseInUse));
  CheckBackupSet(set, restore.checksum, kRestoreTerminating);

  const fs::path path =
      target ? target->file
             : FsPath(folder) / FsPath(StandinSqlServer::DatabaseFileName(restore.database));
  const fs::path temporary =
      path.parent_path() / FsPath("." + Utf8(path.filename()) + ".tmp-" + RandomSuffix());
  RemoveOnExit cleanup(temporary);
  {
    Db copy = OpenDb(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const std::string cannotWrite = "Write on " + QuotedInMessage(Utf8(path)) + " failed: ";
    if (!copy) throw fail(cannotWrite + "Operating system error 5(Access is denied.).");
    SqliteBackup run(sqlite3_backup_init(copy.get(), "main", set.db.get(), "main"));
    if (!run) throw fail(cannotWrite + sqlite3_errmsg(copy.get()));
    const int rc = StepBackup(run.get(), deadline);
    run.Reset();
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) throw fail(std::string(kLockTimeout));
    if (rc != SQLITE_DONE) throw fail(cannotWrite + sqlite3_errmsg(copy.get()));
    try {
      ExecScript(copy.get(), (std::string("DROP TABLE ") + kBackupSetTable + ";").c_str());
    } catch (const SqlError& error) {
      throw fail(cannotWrite + error.what());
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  // Windows refuses to replace a file another connection holds open.
  if (ec)
    throw fail(target ? std::string(kDatabaseInUse)
                      : "Write on " + QuotedInMessage(Utf8(path)) +
                            " failed: Operating system error 5(Access is denied.).");
  cleanup.Release();
}

// BACKUP DATABASE: a copy made with SQLite's online backup API into a
// temporary file beside the target, renamed over it when complete.
void BackupDatabase(const std::string& folder, const StandinBackupDatabase& backup,
                    SteadyClock::time_point deadline) {
  auto fail = [](const std::string& why) -> SqlError {
    return SqlError(why + "\n" + std::string(kBackupTerminating));
  };
  auto database = FindDatabase(folder, backup.database);
  if (!database)
    throw fail("Could not locate entry in sysdatabases for database " +
               QuotedInMessage(backup.database) +
               ". No entry found with that name. Make sure that the name is entered correctly.");
  const std::string& target = backup.disk;
  const std::string cannotOpen = "Cannot open backup device " + QuotedInMessage(target) + ".";
  const std::string accessDenied = cannotOpen + " Operating system error 5(Access is denied.).";

  fs::path path = FsPath(target);
  if (path.is_relative()) path = FsPath(folder) / path;
  std::error_code ec;
  fs::path parent = path.parent_path();
  if (target.empty() || !path.has_filename() || !fs::is_directory(parent, ec))
    throw fail(cannotOpen +
               " Operating system error 3(The system cannot find the path "
               "specified.).");
  if (fs::exists(path, ec) && (fs::is_directory(path, ec) || !backup.init)) {
    if (fs::is_directory(path, ec)) throw fail(accessDenied);
    throw fail("The backup device " + QuotedInMessage(target) +
               " already holds a backup set, and this server keeps one per file. Use WITH "
               "INIT to overwrite it.");
  }

  fs::path temporary = parent / FsPath("." + Utf8(path.filename()) + ".tmp-" + RandomSuffix());
  RemoveOnExit cleanup(temporary);
  {
    std::string error;
    Db source = OpenDb(database->file, SQLITE_OPEN_READONLY, &error);
    if (!source)
      throw fail("Database " + QuotedInMessage(database->name) + " cannot be opened: " + error);
    Db copy = OpenDb(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (!copy) throw fail(accessDenied);
    SqliteBackup run(sqlite3_backup_init(copy.get(), "main", source.get(), "main"));
    if (!run) throw fail(accessDenied);
    const int rc = StepBackup(run.get(), deadline);
    run.Reset();  // finishing leaves a failed step's message on the copy
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) throw fail(std::string(kLockTimeout));
    if (rc != SQLITE_DONE)
      throw fail("Write on \"" + target + "\" failed: " + sqlite3_errmsg(copy.get()));
    try {
      WriteBackupSet(copy.get(), database->name, Utf8(database->file), backup.checksum);
    } catch (const SqlError& error) {
      throw fail("Write on \"" + target + "\" failed: " + error.what());
    }
  }
  fs::rename(temporary, path, ec);
  if (ec) throw fail(accessDenied);
  cleanup.Release();
}

// The version the server answers: settings' ProductVersion, or a modern one
// when none was set (a server folder from before the setting included).
std::string ProductVersion(sqlite3* server) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(server, "SELECT value FROM settings WHERE name = 'ProductVersion'", -1,
                         &raw, nullptr) != SQLITE_OK)
    return std::string(kDefaultProductVersion);
  Stmt read(raw);
  if (sqlite3_step(raw) != SQLITE_ROW) return std::string(kDefaultProductVersion);
  return ColumnText(raw, 0);
}

int MajorVersion(const std::string& version) {
  const auto parsed = ParseProductVersion(version);
  return parsed ? parsed->major : 0;
}

// SELECT SERVERPROPERTY(...): the version for ProductVersion; from 11.0 the
// server folder, with its closing separator, for InstanceDefaultDataPath; NULL
// (read as empty) for any other property, as the server answers an unknown
// one.
std::vector<SqlRow> SelectServerProperty(sqlite3* server, const std::string& folder,
                                         const StandinServerPropertyQuery& query) {
  std::string value;
  if (EqualsIgnoreAsciiCase(query.property, "ProductVersion"))
    value = ProductVersion(server);
  else if (EqualsIgnoreAsciiCase(query.property, "InstanceDefaultDataPath") &&
           MajorVersion(ProductVersion(server)) >= 11)
    value = Utf8(FsPath(folder) / fs::path());
  SqlRow row;
  row.Add(query.column, value);
  return {row};
}

// SELECT ... FROM sysdatabases: one row per database, by name, with its name
// and its file ("filename", the primary data file).
std::vector<SqlRow> SelectSysdatabases(const std::string& folder,
                                       const StandinSysdatabasesQuery& query) {
  std::vector<SqlRow> rows;
  for (auto& entry : ListDatabases(folder)) {
    if (query.name && !EqualsIgnoreAsciiCase(entry.name, *query.name)) continue;
    SqlRow row;
    row.Add("name", entry.name);
    row.Add("filename", Utf8(entry.file));
    rows.push_back(std::move(row));
  }
  return rows;
}

// Any other SELECT runs as it stands on the current database: one read-only
// statement, SQLite's errors in SQL Server's words.
std::vector<SqlRow> SelectOnCatalogue(sqlite3* db, const std::string& text,
                                      const StandinPlainSelect& select) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, text.c_str(), static_cast<int>(text.size()), &raw, &tail);
  Stmt query(raw);
  if (rc != SQLITE_OK) throw SqlError(ServerLikeError(db, rc));
  std::string_view rest(tail, static_cast<std::size_t>(text.c_str() + text.size() - tail));
  if (!Trim(rest).empty() && Trim(rest) != ";")
    throw SqlError("Incorrect syntax near " + QuotedInMessage(Trim(rest)) +
                   ". This server runs one SELECT per call.");
  if (!sqlite3_stmt_readonly(raw))
    throw SqlError("Incorrect syntax near " + QuotedInMessage(select.near) + ".");
  std::vector<SqlRow> rows;
  int columns = sqlite3_column_count(raw);
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    SqlRow row;
    for (int c = 0; c < columns; ++c) row.Add(sqlite3_column_name(raw, c), ColumnText(raw, c));
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) throw SqlError(ServerLikeError(db, rc));
  return rows;
}

}  // namespace

struct StandinSqlServer::Session {
  Db catalogue;
  std::string catalogueName;
  SteadyClock::time_point deadline = SteadyClock::time_point::max();

  static int Progress(void* self) {
    return SteadyClock::now() > static_cast<Session*>(self)->deadline ? 1 : 0;
  }
};

StandinSqlServer::StandinSqlServer(std::string folder, SqlTimeouts timeouts)
    : folder_(std::move(folder)), timeouts_(timeouts) {}

StandinSqlServer::~StandinSqlServer() = default;

std::string StandinSqlServer::DatabaseFileName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (EncodedInFileName(u)) {
      out.push_back('%');
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
  return out + std::string(kDatabaseExtension);
}

void StandinSqlServer::CreateServer(const std::string& folder,
                                    const std::vector<StandinLogin>& logins) {
  std::error_code ec;
  fs::create_directories(FsPath(folder), ec);
  if (ec) throw SqlError("Cannot create " + folder + ": " + ec.message());
  Db db = OpenOrThrow(ServerFile(folder), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  ExecScript(db.get(),
             "CREATE TABLE IF NOT EXISTS logins(name TEXT PRIMARY KEY COLLATE NOCASE,"
             " password TEXT NOT NULL);"
             "CREATE TABLE IF NOT EXISTS faults(pattern TEXT NOT NULL, message TEXT NOT NULL);"
             "CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value TEXT NOT NULL);"
             "CREATE TABLE IF NOT EXISTS dboptions(db_name TEXT NOT NULL COLLATE NOCASE,"
             " option TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(db_name, option));");
  Stmt insert = Prepare(db.get(), "INSERT OR REPLACE INTO logins(name, password) VALUES(?1, ?2)");
  for (const auto& login : logins) {
    sqlite3_reset(insert.get());
    Bind(insert.get(), 1, login.name);
    Bind(insert.get(), 2, login.password);
    StepDone(db.get(), insert.get());
  }
  CreateDatabase(folder, "master");
}

std::string StandinSqlServer::CreateDatabase(const std::string& folder, const std::string& name) {
  if (name.empty()) throw SqlError("A database needs a name.");
  std::error_code ec;
  fs::create_directories(FsPath(folder), ec);
  if (ec) throw SqlError("Cannot create " + folder + ": " + ec.message());
  fs::path file = FsPath(folder) / FsPath(DatabaseFileName(name));
  Db db = OpenOrThrow(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  return Utf8(file);
}

void StandinSqlServer::AddFault(const std::string& folder, const std::string& pattern,
                                const std::string& message) {
  Db db = OpenOrThrow(ServerFile(folder), SQLITE_OPEN_READWRITE);
  Stmt insert = Prepare(db.get(), "INSERT INTO faults(pattern, message) VALUES(?1, ?2)");
  Bind(insert.get(), 1, pattern);
  Bind(insert.get(), 2, message);
  StepDone(db.get(), insert.get());
}

void StandinSqlServer::SetProductVersion(const std::string& folder, const std::string& version) {
  Db db = OpenOrThrow(ServerFile(folder), SQLITE_OPEN_READWRITE);
  ExecScript(db.get(),
             "CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value TEXT NOT NULL);");
  Stmt insert = Prepare(
      db.get(), "INSERT OR REPLACE INTO settings(name, value) VALUES('ProductVersion', ?1)");
  Bind(insert.get(), 1, version);
  StepDone(db.get(), insert.get());
}

void StandinSqlServer::Connect(const std::string& user, const std::string& password,
                               const std::string& catalogue) {
  Close();
  std::error_code ec;
  if (!fs::is_regular_file(ServerFile(folder_), ec)) throw SqlError(std::string(kServerMissing));
  Db server = OpenDb(ServerFile(folder_), SQLITE_OPEN_READONLY, nullptr);
  if (!server) throw SqlError(std::string(kServerMissing));
  sqlite3_busy_timeout(server.get(), MillisecondsOf(timeouts_.connectSeconds));
  Stmt login = Prepare(server.get(), "SELECT password FROM logins WHERE name = ?1");
  Bind(login.get(), 1, user);
  int rc = sqlite3_step(login.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw SqlError(ServerLikeError(server.get(), rc));
  if (rc != SQLITE_ROW || ColumnText(login.get(), 0) != password)
    throw SqlError("Login failed for user " + QuotedInMessage(user) + ".");

  const std::string cannotOpen =
      "Cannot open database \"" + catalogue + "\" requested by the login. The login failed.";
  auto database = FindDatabase(folder_, catalogue);
  if (!database) throw SqlError(cannotOpen);
  auto session = std::make_unique<Session>();
  session->catalogue = OpenDb(database->file, SQLITE_OPEN_READWRITE, nullptr);
  if (!session->catalogue) throw SqlError(cannotOpen);
  session->catalogueName = database->name;
  sqlite3_busy_timeout(session->catalogue.get(), MillisecondsOf(timeouts_.commandSeconds));
  sqlite3_progress_handler(session->catalogue.get(), 1000, &Session::Progress, session.get());
  session_ = std::move(session);
}

void StandinSqlServer::Execute(const std::string& command) { Run(command); }

std::vector<SqlRow> StandinSqlServer::Query(const std::string& query) { return Run(query); }

void StandinSqlServer::Close() noexcept { session_.reset(); }

std::vector<SqlRow> StandinSqlServer::Run(const std::string& statement) {
  if (!session_) throw SqlError(std::string(kNotConnected));
  session_->deadline = timeouts_.commandSeconds > 0
                           ? SteadyClock::now() + std::chrono::seconds(timeouts_.commandSeconds)
                           : SteadyClock::time_point::max();

  // The server itself: gone since the login means a broken connection.
  Db server = OpenDb(ServerFile(folder_), SQLITE_OPEN_READWRITE, nullptr);
  if (!server) throw SqlError(std::string(kServerGone));
  sqlite3_busy_timeout(server.get(), MillisecondsOf(timeouts_.commandSeconds));
  {
    Stmt fault = Prepare(server.get(),
                         "SELECT message FROM faults WHERE ?1 LIKE pattern ORDER BY rowid LIMIT 1");
    Bind(fault.get(), 1, statement);
    int rc = sqlite3_step(fault.get());
    if (rc == SQLITE_ROW) throw SqlError(ColumnText(fault.get(), 0));
    if (rc != SQLITE_DONE) throw SqlError(ServerLikeError(server.get(), rc));
  }

  return std::visit(
      Overloaded{
          [](const StandinEmptyBatch&) { return std::vector<SqlRow>(); },
          [&](const StandinDbOptionCall& call) {
            // Gone from SQL Server 2012 on.
            if (MajorVersion(ProductVersion(server.get())) >= 11)
              throw SqlError("Could not find stored procedure 'sp_dboption'.");
            SetDatabaseOption(server.get(), folder_, call);
            return std::vector<SqlRow>();
          },
          [&](const StandinBackupDatabase& backup) {
            // Backup checksums came with SQL Server 2005.
            if (backup.checksum && MajorVersion(ProductVersion(server.get())) < 9)
              throw SqlError("Incorrect syntax near 'CHECKSUM'.");
            BackupDatabase(folder_, backup, session_->deadline);
            return std::vector<SqlRow>();
          },
          [&](const StandinAlterDatabase& alter) {
            AlterDatabase(server.get(), folder_, alter);
            return std::vector<SqlRow>();
          },
          [&](const StandinServerPropertyQuery& query) {
            return SelectServerProperty(server.get(), folder_, query);
          },
          [&](const StandinRestoreFileList& list) { return RestoreFileList(folder_, list); },
          [&](const StandinRestoreVerify& verify) {
            if (verify.checksum == true && MajorVersion(ProductVersion(server.get())) < 9)
              throw SqlError("Incorrect syntax near 'CHECKSUM'.");
            VerifyBackup(folder_, verify);
            return std::vector<SqlRow>();
          },
          [&](const StandinRestoreDatabase& restore) {
            if (restore.checksum == true && MajorVersion(ProductVersion(server.get())) < 9)
              throw SqlError("Incorrect syntax near 'CHECKSUM'.");
            RestoreDatabase(folder_, restore, session_->catalogueName, session_->deadline);
            return std::vector<SqlRow>();
          },
          [&](const StandinSysdatabasesQuery& query) { return SelectSysdatabases(folder_, query); },
          [&](const StandinPlainSelect& select) {
            return SelectOnCatalogue(session_->catalogue.get(), statement, select);
          },
      },
      ParseStandinStatement(statement));
}

StandinSqlServerFactory::StandinSqlServerFactory(std::string folder) : folder_(std::move(folder)) {}

std::unique_ptr<SqlServerConnection> StandinSqlServerFactory::Create(
    const SqlTimeouts& timeouts) const {
  return std::make_unique<StandinSqlServer>(folder_, timeouts);
}

}  // namespace veltora
