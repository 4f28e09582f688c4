// TEMPORARY until the sqlserver branch lands
#include "sqlserver/sql_server_connection.h"
namespace veltora {
bool DatabaseExists(SqlServerConnection&, std::string_view) { return false; }
void RestoreDatabaseAs(SqlServerConnection&, std::string_view, std::string_view, bool,
                       const std::optional<SqlServerVersion>&) {
  throw SqlError("stub");
}
void VerifyBackupFile(SqlServerConnection&, std::string_view,
                      const std::optional<SqlServerVersion>&) {
  throw SqlError("stub");
}
}  // namespace veltora
