#include "sqlserver/sql_server_connection.h"

#include "base/text.h"

namespace veltora {

std::optional<std::string> SqlRow::Find(std::string_view column) const {
  for (const auto& [name, value] : cells_)
    if (EqualsIgnoreAsciiCase(name, column)) return value;
  return std::nullopt;
}

std::string SqlRow::Get(std::string_view column) const {
  if (auto value = Find(column)) return *value;
  throw SqlError("Invalid column name '" + std::string(column) + "'.");
}

std::string QuoteSqlIdentifier(std::string_view name) {
  std::string out = "[";
  for (char c : name) {
    out.push_back(c);
    if (c == ']') out.push_back(']');
  }
  out.push_back(']');
  return out;
}

std::string QuoteSqlLiteral(std::string_view text) {
  std::string out = "N'";
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  out.push_back('\'');
  return out;
}

std::optional<SqlServerVersion> ParseProductVersion(std::string_view given) {
  const std::string trimmed = Trim(given);
  std::string_view text = trimmed;
  auto number = [&](int& out) {
    std::size_t digits = 0;
    out = 0;
    while (digits < text.size() && digits < 6 && text[digits] >= '0' && text[digits] <= '9')
      out = out * 10 + (text[digits++] - '0');
    text.remove_prefix(digits);
    return digits > 0;
  };
  SqlServerVersion version;
  if (!number(version.major) || text.empty() || text.front() != '.') return std::nullopt;
  text.remove_prefix(1);
  if (!number(version.minor)) return std::nullopt;
  return version;
}

std::optional<SqlServerVersion> AskServerVersion(SqlServerConnection& sql) noexcept {
  try {
    const std::vector<SqlRow> rows = sql.Query(kProductVersionQuery);
    if (rows.size() != 1) return std::nullopt;
    const std::optional<std::string> text = rows.front().Find(kProductVersionColumn);
    return text ? ParseProductVersion(*text) : std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

namespace {

bool AtLeast(const std::optional<SqlServerVersion>& version, int major) {
  return version && version->major >= major;
}

}  // namespace

std::string BackupDatabaseStatement(std::string_view database, std::string_view file,
                                    const std::optional<SqlServerVersion>& version) {
  return "backup database " + QuoteSqlIdentifier(database) + " to disk=" + QuoteSqlLiteral(file) +
         (AtLeast(version, 9) ? " with init, checksum" : " with init");
}

std::string RestoreFileListStatement(std::string_view file) {
  return "RESTORE FILELISTONLY FROM DISK = " + QuoteSqlLiteral(file);
}

std::string RestoreVerifyStatement(std::string_view file,
                                   const std::optional<SqlServerVersion>& version) {
  return "RESTORE VERIFYONLY FROM DISK = " + QuoteSqlLiteral(file) +
         (AtLeast(version, 9) ? " WITH CHECKSUM" : "");
}

std::string RestoreDatabaseStatement(std::string_view database, std::string_view file,
                                     const std::vector<DatabaseFileMove>& moves, bool replace,
                                     const std::optional<SqlServerVersion>& version) {
  std::vector<std::string> options;
  for (const auto& move : moves)
    options.push_back("MOVE " + QuoteSqlLiteral(move.logicalName) + " TO " +
                      QuoteSqlLiteral(move.physicalPath));
  if (replace) options.emplace_back("REPLACE");
  if (AtLeast(version, 9)) options.emplace_back("CHECKSUM");
  std::string statement =
      "RESTORE DATABASE " + QuoteSqlIdentifier(database) + " FROM DISK = " + QuoteSqlLiteral(file);
  for (std::size_t i = 0; i < options.size(); ++i)
    statement += (i == 0 ? " WITH " : ", ") + options[i];
  return statement;
}

namespace {

// The database name as the base of a file name on Windows: the characters it
// forbids become "_", as do trailing dots and blanks (Windows drops them, so
// two names would meet), and a device name (CON, NUL, COM1...) gets a "_",
// since "CON.mdf" is the console whatever its extension.
std::string SafeFileBase(std::string_view database) {
  std::string out;
  for (char c : database) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool forbidden = u < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '/' ||
                           c == '\\' || c == '|' || c == '?' || c == '*';
    out.push_back(forbidden ? '_' : c);
  }
  for (std::size_t end = out.size(); end > 0 && (out[end - 1] == '.' || out[end - 1] == ' '); --end)
    out[end - 1] = '_';
  if (out.empty()) return "_";
  static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  bool device = false;
  for (std::string_view name : kDevices) device = device || EqualsIgnoreAsciiCase(out, name);
  if (out.size() == 4 && out[3] >= '1' && out[3] <= '9' &&
      (EqualsIgnoreAsciiCase(out.substr(0, 3), "COM") ||
       EqualsIgnoreAsciiCase(out.substr(0, 3), "LPT")))
    device = true;
  return device ? out + "_" : out;
}

// A server folder ends in its own separator: "\" when the server spells its
// paths so (Windows), "/" otherwise (SQL Server on Linux). The server's
// platform, not this one's, decides.
std::string WithTrailingSeparator(std::string folder) {
  const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder.push_back(separator);
  return folder;
}

// The folder new database files go to: the instance's default data folder,
// which SERVERPROPERTY answers from SQL Server 2012 (11.0) and which may still
// be unset (NULL); otherwise the folder of master's data file. That comes from
// master..sysdatabases (its filename column is the primary data file), which
// every version from 2000 to 2019 has and which the program reads already;
// sys.master_files is missing from 2000, and sysfiles pads its filename with
// blanks there.
std::string ServerDataFolder(SqlServerConnection& sql,
                             const std::optional<SqlServerVersion>& version) {
  if (AtLeast(version, 11)) {
    const std::vector<SqlRow> rows = sql.Query(
        "SELECT CAST(SERVERPROPERTY('InstanceDefaultDataPath') AS nvarchar(4000))"
        " AS DataPath");
    if (rows.size() == 1)
      if (std::string folder = Trim(rows.front().Get("DataPath")); !folder.empty())
        return WithTrailingSeparator(folder);
  }
  const std::vector<SqlRow> rows =
      sql.Query("SELECT filename FROM master..sysdatabases WHERE name = N'master'");
  const std::string master = rows.empty() ? std::string() : Trim(rows.front().Get("filename"));
  const std::size_t cut = master.find_last_of("\\/");
  if (cut == std::string::npos)
    throw SqlError(
        "The server named no data folder: InstanceDefaultDataPath and master's data "
        "file are unknown.");
  return master.substr(0, cut + 1);
}

}  // namespace

std::vector<DatabaseFileMove> RestoredFileMoves(const std::vector<SqlRow>& fileList,
                                                std::string_view dataFolder,
                                                std::string_view database) {
  const std::string folder = WithTrailingSeparator(std::string(dataFolder));
  const std::string base = SafeFileBase(database);
  std::vector<DatabaseFileMove> moves;
  bool data = false, log = false;
  int further = 0;
  for (const SqlRow& row : fileList) {
    const std::string type = Trim(row.Get("Type"));
    std::string file;
    if (type == "D" && !data) {
      data = true;
      file = base + ".mdf";
    } else if (type == "L" && !log) {
      log = true;
      file = base + "_log.ldf";
    } else {
      // Further data or log files, and the folders of full-text catalogues
      // (F) or FILESTREAM data (S), which a name suits as well.
      file = base + "_" + std::to_string(++further) + ".ndf";
    }
    moves.push_back({row.Get("LogicalName"), folder + file});
  }
  return moves;
}

namespace {

// A backup made without checksums (by a server before 2005, or before this
// program asked the server's version) cannot be read WITH CHECKSUM: the
// server refuses with 3187. The statement without it still reads and checks
// everything the backup holds, so a backup of an earlier year stays
// restorable. `make` builds the statement for a version.
template <typename Make>
void ExecuteWithChecksumIfPresent(SqlServerConnection& sql,
                                  const std::optional<SqlServerVersion>& version, Make make) {
  try {
    sql.Execute(make(version));
  } catch (const SqlError& e) {
    if (std::string_view(e.what()).find("does not contain checksum") == std::string_view::npos)
      throw;
    sql.Execute(make(std::nullopt));
  }
}

}  // namespace

bool DatabaseExists(SqlServerConnection& sql, std::string_view database) {
  return !sql.Query("SELECT name FROM master..sysdatabases WHERE name = " +
                    QuoteSqlLiteral(database))
              .empty();
}

void RestoreDatabaseAs(SqlServerConnection& sql, std::string_view bakFile,
                       std::string_view database, bool replace,
                       const std::optional<SqlServerVersion>& version) {
  if (!replace && DatabaseExists(sql, database))
    throw SqlError("Database '" + std::string(database) +
                   "' already exists. Choose a different database name.");
  const std::vector<SqlRow> fileList = sql.Query(RestoreFileListStatement(bakFile));
  if (fileList.empty())
    throw SqlError("RESTORE FILELISTONLY listed no files in '" + std::string(bakFile) + "'.");
  const std::vector<DatabaseFileMove> moves =
      RestoredFileMoves(fileList, ServerDataFolder(sql, version), database);
  ExecuteWithChecksumIfPresent(sql, version, [&](const std::optional<SqlServerVersion>& v) {
    return RestoreDatabaseStatement(database, bakFile, moves, replace, v);
  });
}

void VerifyBackupFile(SqlServerConnection& sql, std::string_view bakFile,
                      const std::optional<SqlServerVersion>& version) {
  ExecuteWithChecksumIfPresent(sql, version, [&](const std::optional<SqlServerVersion>& v) {
    return RestoreVerifyStatement(bakFile, v);
  });
}

std::string DatabaseOptionStatement(DatabaseOptionStep step, std::string_view database,
                                    const std::optional<SqlServerVersion>& version) {
  if (AtLeast(version, 11)) {
    const std::string alter = "ALTER DATABASE " + QuoteSqlIdentifier(database);
    return step == DatabaseOptionStep::kAutoShrinkOn ? alter + " SET AUTO_SHRINK ON"
                                                     : alter + " SET RECOVERY BULK_LOGGED";
  }
  const std::string db = QuoteSqlLiteral(database);
  switch (step) {
    case DatabaseOptionStep::kBulkCopyOn:
      return "exec sp_dboption " + db + ",'select into/bulkcopy','true'";
    case DatabaseOptionStep::kAutoShrinkOn:
      return "EXEC sp_dboption " + db + ",'autoshrink','TRUE'";
    case DatabaseOptionStep::kTruncateLogOff:
      break;
  }
  return "EXEC sp_dboption " + db + ",'trunc. log on chkpt','false'";
}

}  // namespace veltora
