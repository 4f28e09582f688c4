// Helpers shared by the SQL Server client tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace veltora::testing {

// The text of the SqlError the action throws; a test failure when it throws
// none.
std::string CaughtSqlError(const std::function<void()>& action);

// Whether unixODBC knows a driver of this name (what `odbcinst -q -d` lists).
bool OdbcDriverRegistered(std::string_view name);

// How a driver that runs outside Windows names the file at `path`: under Wine,
// whose odbc32 hands the calls to the host's unixODBC, the host's own path
// (wine_get_unix_file_name); elsewhere the path itself.
std::string DriverFilePath(const std::string& path);

// Runs SQL on a SQLite file directly, as a test fills or inspects a database,
// and answers the first column of every row ("NULL" for a NULL). A test
// failure when the file cannot be opened or the SQL fails.
std::vector<std::string> RunSqlite(const std::string& file, const std::string& sql);

}  // namespace veltora::testing
