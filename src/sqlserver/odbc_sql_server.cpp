#include "sqlserver/odbc_sql_server.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <utility>
#include <vector>

// The handle owner before sqlext.h: on Windows it brings the types sql.h needs.
// clang-format off
#include "sqlserver/odbc_handle.h"
#include <sqlext.h>
// clang-format on

namespace veltora {
namespace {

constexpr std::size_t kChunkBytes = 4096;

constexpr std::string_view kFreeTdsRefusedValue =
    "The login name, the password, the database name or the server name contains \"}\" or a "
    "zero byte, which cannot be passed to the FreeTDS driver.";

static_assert(sizeof(SQLWCHAR) == 2, "the wide ODBC calls are used with UTF-16");

// The program's texts are UTF-8; every text crosses into ODBC through the wide
// calls as UTF-16. The narrow calls would take the driver's idea of a client
// code page instead: FreeTDS reads login names as ISO-8859-1 there, and
// Windows drivers read the system code page.
using WideText = std::basic_string<SQLWCHAR>;

WideText Utf16(std::string_view utf8) {
  WideText out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    char32_t c = 0xFFFD;
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    bool valid = length > 0 && i + length <= utf8.size() && lead < 0xF5;
    for (std::size_t k = 1; valid && k < length; ++k)
      valid = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    if (valid) {
      c = length == 1 ? lead : lead & (0x7F >> length);
      for (std::size_t k = 1; k < length; ++k)
        c = c << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
      constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
      if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
      i += length;
    } else {
      ++i;  // a stray byte stands for one replacement character
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<SQLWCHAR>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(c));
    }
  }
  return out;
}

std::string Utf8(const SQLWCHAR* text, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < size && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// Characters actually returned in a buffer of `capacity` characters (the
// last one being the terminating zero) when the driver reports `length`.
std::size_t Returned(std::ptrdiff_t length, std::size_t capacity) {
  if (length < 0) return 0;
  return std::min(static_cast<std::size_t>(length), capacity - 1);
}

// The diagnostic messages of a handle as the driver wrote them, one a line.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::vector<SQLWCHAR> message(1024);
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= message.size()) {
      message.resize(static_cast<std::size_t>(length) + 1);
      rc = SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    if (!out.empty()) out.push_back('\n');
    out += Utf8(message.data(), Returned(length, message.size()));
  }
  return out;
}

[[noreturn]] void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN rc) {
  std::string text = handle != SQL_NULL_HANDLE ? Diagnostics(type, handle) : std::string();
  if (text.empty())
    text = "The ODBC driver failed without a message (return code " + std::to_string(rc) + ").";
  throw SqlError(text);
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
  if (!SQL_SUCCEEDED(rc)) ThrowDiagnostics(type, handle, rc);
}

SQLPOINTER IntegerAttribute(int value) {
  return reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(value, 0)));
}

// A new handle of `Type` under `parent`; a refusal carries the parent's
// diagnostics.
template <SQLSMALLINT Type>
ScopedHandle<SQLHANDLE, OdbcHandleTraits<Type>> Allocate(SQLHANDLE parent, SQLSMALLINT parentType) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  SQLRETURN rc = SQLAllocHandle(Type, parent, &handle);
  if (!SQL_SUCCEEDED(rc)) ThrowDiagnostics(parentType, parent, rc);
  return ScopedHandle<SQLHANDLE, OdbcHandleTraits<Type>>(handle);
}

// A statement handle on the connection with the command time-out set. The
// time-out is an optional driver feature: a driver that refuses it keeps its
// own, and the statement still runs.
OdbcStatementHandle NewStatement(SQLHDBC dbc, int commandSeconds) {
  OdbcStatementHandle stmt = Allocate<SQL_HANDLE_STMT>(dbc, SQL_HANDLE_DBC);
  SQLSetStmtAttr(stmt.get(), SQL_ATTR_QUERY_TIMEOUT, IntegerAttribute(commandSeconds), 0);
  return stmt;
}

// Overwrites a text that held a password before its memory is given back.
template <typename Text>
void Wipe(Text& text) {
  volatile auto* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
}

std::string ColumnName(SQLHSTMT stmt, SQLUSMALLINT column) {
  std::vector<SQLWCHAR> name(256);
  SQLSMALLINT length = 0, dataType = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  SQLRETURN rc = SQLDescribeColW(stmt, column, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                 &length, &dataType, &size, &digits, &nullable);
  Check(rc, SQL_HANDLE_STMT, stmt);
  if (static_cast<std::size_t>(length) >= name.size()) {
    name.resize(static_cast<std::size_t>(length) + 1);
    rc = SQLDescribeColW(stmt, column, name.data(), static_cast<SQLSMALLINT>(name.size()), &length,
                         &dataType, &size, &digits, &nullable);
    Check(rc, SQL_HANDLE_STMT, stmt);
  }
  return Utf8(name.data(), Returned(length, name.size()));
}

// One value as text, read in chunks so that no length limit applies.
std::string ColumnText(SQLHSTMT stmt, SQLUSMALLINT column) {
  WideText value;
  SQLWCHAR chunk[kChunkBytes / sizeof(SQLWCHAR)];
  constexpr auto kChunkChars = sizeof chunk / sizeof(SQLWCHAR);
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, chunk, sizeof chunk, &indicator);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, stmt);
    if (indicator == SQL_NULL_DATA) return std::string();
    // A truncated chunk is full but for its terminating zero; the indicator
    // counts bytes.
    std::size_t got =
        indicator == SQL_NO_TOTAL
            ? kChunkChars - 1
            : Returned(indicator / static_cast<SQLLEN>(sizeof(SQLWCHAR)), kChunkChars);
    value.append(chunk, got);
    if (rc == SQL_SUCCESS) break;
  }
  return Utf8(value.data(), value.size());
}

}  // namespace

std::string OdbcBracedValue(std::string_view value) {
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

FreeTdsServer FreeTdsServerFrom(std::string_view host, std::string_view port) {
  FreeTdsServer server;
  if (!host.empty()) server.host = std::string(host);
  int value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec == std::errc() && end == port.data() + port.size() && value > 0 && value <= 65535)
    server.port = value;
  return server;
}

std::string FreeTdsConnectionString(const FreeTdsServer& server, const std::string& user,
                                    const std::string& password, const std::string& catalogue) {
  for (const std::string* value : {&server.host, &user, &password, &catalogue})
    if (value->find_first_of(std::string_view("}\0", 2)) != std::string::npos)
      throw SqlError(std::string(kFreeTdsRefusedValue));
  // The fixed values stay bare: FreeTDS hands them to its configuration
  // parser as written, braces included.
  return "Driver={FreeTDS};Server=" + OdbcBracedValue(server.host) +
         ";Port=" + std::to_string(server.port) + ";Database=" + OdbcBracedValue(catalogue) +
         ";UID=" + OdbcBracedValue(user) + ";PWD=" + OdbcBracedValue(password) +
         ";TDS_Version=7.3;ClientCharset=UTF-8";
}

std::string WindowsSqlServerConnectionString(const FreeTdsServer& server, const std::string& user,
                                             const std::string& password,
                                             const std::string& catalogue) {
  const FreeTdsServer local;
  const std::string where = server.host == local.host && server.port == local.port
                                ? std::string("(local)")
                                : server.host + "," + std::to_string(server.port);
  return "Driver={SQL Server};Server=" + OdbcBracedValue(where) +
         ";Database=" + OdbcBracedValue(catalogue) + ";UID=" + OdbcBracedValue(user) +
         ";PWD=" + OdbcBracedValue(password);
}

// Members are destroyed in reverse order: disconnect, then the connection
// handle, then the environment.
struct OdbcSqlServer::Session {
  OdbcEnvironmentHandle env;
  OdbcConnectionHandle dbc;
  OdbcLink link;
};

OdbcSqlServer::OdbcSqlServer(SqlTimeouts timeouts, OdbcConnectionStringBuilder connectionString)
    : timeouts_(timeouts), connectionString_(std::move(connectionString)) {}

OdbcSqlServer::~OdbcSqlServer() = default;

void OdbcSqlServer::Connect(const std::string& user, const std::string& password,
                            const std::string& catalogue) {
  Close();
  auto session = std::make_unique<Session>();
  session->env = Allocate<SQL_HANDLE_ENV>(SQL_NULL_HANDLE, SQL_HANDLE_ENV);
  SQLHENV env = session->env.get();
  Check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
        SQL_HANDLE_ENV, env);
  session->dbc = Allocate<SQL_HANDLE_DBC>(env, SQL_HANDLE_ENV);
  SQLHDBC dbc = session->dbc.get();
  // Time-outs are optional driver features: one the driver refuses leaves the
  // driver's default in force rather than failing the connection.
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, IntegerAttribute(timeouts_.connectSeconds), 0);
  SQLSetConnectAttr(dbc, SQL_ATTR_CONNECTION_TIMEOUT, IntegerAttribute(timeouts_.connectSeconds),
                    0);

  std::string text = connectionString_(user, password, catalogue);
  WideText wide = Utf16(text);
  Wipe(text);
  if (wide.size() > 32767) {
    Wipe(wide);
    throw SqlError("The connection string is too long.");
  }
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, wide.data(), static_cast<SQLSMALLINT>(wide.size()),
                                   nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT);
  Wipe(wide);
  Check(rc, SQL_HANDLE_DBC, dbc);
  session->link.Reset(dbc);
  session_ = std::move(session);
}

void OdbcSqlServer::Execute(const std::string& command) {
  if (!session_) throw SqlError("Operation is not allowed when the object is closed.");
  OdbcStatementHandle stmt = NewStatement(session_->dbc.get(), timeouts_.commandSeconds);
  SQLHSTMT h = stmt.get();
  WideText text = Utf16(command);
  SQLRETURN rc = SQLExecDirectW(h, text.data(), static_cast<SQLINTEGER>(text.size()));
  // SQL_NO_DATA: a searched update or delete that touched no row.
  if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, h);
  while ((rc = SQLMoreResults(h)) != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, h);
}

std::vector<SqlRow> OdbcSqlServer::Query(const std::string& query) {
  if (!session_) throw SqlError("Operation is not allowed when the object is closed.");
  OdbcStatementHandle stmt = NewStatement(session_->dbc.get(), timeouts_.commandSeconds);
  SQLHSTMT h = stmt.get();
  WideText text = Utf16(query);
  SQLRETURN rc = SQLExecDirectW(h, text.data(), static_cast<SQLINTEGER>(text.size()));
  std::vector<SqlRow> rows;
  if (rc == SQL_NO_DATA) return rows;
  Check(rc, SQL_HANDLE_STMT, h);

  // Row counts of statements before the query come as results without columns.
  SQLSMALLINT columns = 0;
  for (;;) {
    Check(SQLNumResultCols(h, &columns), SQL_HANDLE_STMT, h);
    if (columns > 0) break;
    rc = SQLMoreResults(h);
    if (rc == SQL_NO_DATA) return rows;
    Check(rc, SQL_HANDLE_STMT, h);
  }
  std::vector<std::string> names;
  for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c)
    names.push_back(ColumnName(h, c));
  while ((rc = SQLFetch(h)) != SQL_NO_DATA) {
    Check(rc, SQL_HANDLE_STMT, h);
    SqlRow row;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c)
      row.Add(names[c - 1], ColumnText(h, c));
    rows.push_back(std::move(row));
  }
  while ((rc = SQLMoreResults(h)) != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, h);
  return rows;
}

void OdbcSqlServer::Close() noexcept { session_.reset(); }

OdbcSqlServerFactory::OdbcSqlServerFactory(FreeTdsServer server)
    : connectionString_([server = std::move(server)](const std::string& user,
                                                     const std::string& password,
                                                     const std::string& catalogue) {
#ifdef _WIN32
        return WindowsSqlServerConnectionString(server, user, password, catalogue);
#else
        return FreeTdsConnectionString(server, user, password, catalogue);
#endif
      }) {
}

OdbcSqlServerFactory::OdbcSqlServerFactory(OdbcConnectionStringBuilder connectionString)
    : connectionString_(std::move(connectionString)) {}

std::unique_ptr<SqlServerConnection> OdbcSqlServerFactory::Create(
    const SqlTimeouts& timeouts) const {
  return std::make_unique<OdbcSqlServer>(timeouts, connectionString_);
}

}  // namespace veltora
