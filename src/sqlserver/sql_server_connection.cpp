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

}  // namespace veltora
