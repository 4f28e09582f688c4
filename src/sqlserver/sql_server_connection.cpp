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
