// The real SQL Server client: ODBC (unixODBC + FreeTDS on Linux, the system's
// driver manager on Windows). The plumbing is driver-neutral; only the
// connection string decides which driver answers, so the same code runs
// against SQL Server in production and against the SQLite ODBC driver in tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "sqlserver/sql_server_connection.h"

namespace veltora {

// Makes the ODBC connection string for a login and a catalogue.
using OdbcConnectionStringBuilder = std::function<std::string(
    const std::string& user, const std::string& password, const std::string& catalogue)>;

// Where "(Local)", the default instance of this machine, listens.
struct FreeTdsServer {
  std::string host = "127.0.0.1";
  int port = 1433;
};

// "(Local)" as 127.0.0.1:1433, unless `host` names another host (a server in
// a container or on a test machine) or `port` another port (1..65535; anything
// else is ignored). The composition root passes what VELTORA_SQLSERVER_HOST
// and VELTORA_SQLSERVER_PORT say, empty when they are unset.
FreeTdsServer FreeTdsServerFrom(std::string_view host, std::string_view port);

// One value of an ODBC connection string in braces with every "}" doubled, so
// that ";", "=", "{" or "}" in a login, a password or a database name never
// ends the value or adds a keyword.
std::string OdbcBracedValue(std::string_view value);

// "Driver={FreeTDS};Server={host};Port=port;Database={catalogue};UID={user};
// PWD={password};TDS_Version=7.3;ClientCharset=UTF-8". ClientCharset makes
// FreeTDS exchange UTF-8 with the program, whatever freetds.conf says, so that
// Chinese names and texts survive. Throws SqlError (naming no value) when the
// host, login, password or catalogue contains "}" or a zero byte: the unixODBC
// driver manager reads "}}" as an escaped "}", but FreeTDS 1.3 (Debian 12) does
// not undo the doubling and ends a braced value at the first "};", so no
// spelling carries "}" to both intact; refusing beats sending a wrong login or
// letting the rest of a password be read as further keywords.
std::string FreeTdsConnectionString(const FreeTdsServer& server, const std::string& user,
                                    const std::string& password, const std::string& catalogue);

// "Driver={SQL Server};Server=(local);Database={catalogue};UID={user};
// PWD={password}": the SQL Server driver that every Windows ships, to this
// machine's default instance by its local name; to "host,port" when `server`
// names another host or port than 127.0.0.1:1433. Values braced as above
// (Windows' driver manager reads "}}" back as "}").
std::string WindowsSqlServerConnectionString(const FreeTdsServer& server, const std::string& user,
                                             const std::string& password,
                                             const std::string& catalogue);

// Connection (login) and connection time-outs are SqlTimeouts::connectSeconds,
// each statement's query time-out SqlTimeouts::commandSeconds. Every text goes
// through the wide (UTF-16) ODBC calls, converted from and to the program's
// UTF-8: the narrow calls would hand texts to the driver's own idea of a code
// page (FreeTDS reads login names as ISO-8859-1 there, Windows drivers the
// system code page). For a driver without wide entry points the driver manager
// converts to the narrow code set of the process locale. Errors are
// SqlError with the driver's diagnostic messages as they stand (vendor prefixes
// such as "[unixODBC][FreeTDS][SQL Server]" included), several joined by "\n".
// The connection string never appears in an error, so neither does a password.
// One object serves one thread at a time.
class OdbcSqlServer final : public SqlServerConnection {
 public:
  OdbcSqlServer(SqlTimeouts timeouts, OdbcConnectionStringBuilder connectionString);
  ~OdbcSqlServer() override;
  OdbcSqlServer(const OdbcSqlServer&) = delete;
  OdbcSqlServer& operator=(const OdbcSqlServer&) = delete;

  void Connect(const std::string& user, const std::string& password,
               const std::string& catalogue) override;
  // Sends the text with SQLExecDirect and walks through every result of the
  // batch, so that an error raised by a later statement still fails the call.
  void Execute(const std::string& command) override;
  // The rows of the first result set that has columns; values are read as
  // text in chunks of any length, NULL as "". Later results are drained so
  // that their errors surface.
  std::vector<SqlRow> Query(const std::string& query) override;
  void Close() noexcept override;

 private:
  struct Session;
  SqlTimeouts timeouts_;
  OdbcConnectionStringBuilder connectionString_;
  std::unique_ptr<Session> session_;
};

class OdbcSqlServerFactory final : public SqlServerFactory {
 public:
  // This platform's driver to the server that stands for "(Local)": FreeTDS
  // on POSIX, the SQL Server driver of Windows on Windows.
  explicit OdbcSqlServerFactory(FreeTdsServer server);
  explicit OdbcSqlServerFactory(OdbcConnectionStringBuilder connectionString);
  std::unique_ptr<SqlServerConnection> Create(const SqlTimeouts& timeouts) const override;

 private:
  OdbcConnectionStringBuilder connectionString_;
};

}  // namespace veltora
