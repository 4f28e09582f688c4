#include "sql_test_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

// The handle owner before sqlext.h: on Windows it brings the types sql.h needs.
// clang-format off
#include "sqlserver/odbc_handle.h"
#include <sqlext.h>
// clang-format on
#include "sqlserver/sql_server_connection.h"

namespace veltora::testing {

std::string CaughtSqlError(const std::function<void()>& action) {
  try {
    action();
  } catch (const SqlError& error) {
    return error.what();
  }
  ADD_FAILURE() << "no SqlError";
  return {};
}

bool OdbcDriverRegistered(std::string_view wanted) {
  SQLHENV raw = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) return false;
  OdbcEnvironmentHandle env(raw);
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR name[256];
  SQLCHAR attributes[1024];
  SQLSMALLINT nameLength = 0, attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(env.get(), direction, name, sizeof name, &nameLength, attributes,
                                  sizeof attributes, &attributesLength))) {
    direction = SQL_FETCH_NEXT;
    if (std::string_view(reinterpret_cast<const char*>(name)) == wanted) return true;
  }
  return false;
}

std::vector<std::string> RunSqlite(const std::string& file, const std::string& sql) {
  std::vector<std::string> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    ADD_FAILURE() << "cannot open " << file;
    return out;
  }
  auto collect = [](void* rows, int, char** values, char**) {
    static_cast<std::vector<std::string>*>(rows)->push_back(values[0] ? values[0] : "NULL");
    return 0;
  };
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), collect, &out, &error) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << error;
    sqlite3_free(error);
  }
  sqlite3_close(db);
  return out;
}

std::string DriverFilePath(const std::string& path) {
#ifdef _WIN32
  using ToUnix = char* (*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return path;
  const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
  char* unixPath = toUnix(wide.c_str());
  if (unixPath == nullptr) return path;
  std::string out(unixPath);
  HeapFree(GetProcessHeap(), 0, unixPath);
  return out;
#else
  return path;
#endif
}

}  // namespace veltora::testing
