// A plain SQLite connection for preparing and looking at settings files from
// outside the classes under test.
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace veltora::testing {

class RawDb {
 public:
  explicit RawDb(const std::string& path, int flags = SQLITE_OPEN_READWRITE) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      const std::string text = sqlite3_errmsg(db_);
      sqlite3_close_v2(db_);
      throw std::runtime_error(text);
    }
    sqlite3_busy_timeout(db_, 10000);
  }
  ~RawDb() { sqlite3_close_v2(db_); }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error != nullptr ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(text + " in " + sql);
    }
  }
  // The first column of the first row as text ("" for NULL or no row).
  std::string Text(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    std::string out;
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr)
      out = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    return out;
  }
  long long Int(const std::string& sql) { return std::stoll("0" + Text(sql)); }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace veltora::testing
