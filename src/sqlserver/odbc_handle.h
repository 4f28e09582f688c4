// Owned ODBC handles for the ODBC client (and the tests that ask the driver
// manager what it knows). Freeing a handle also frees what the driver kept for
// it; a connected connection handle is disconnected by its own owner, which
// goes before the handle.
#pragma once

#ifdef _WIN32
#include <windows.h>  // sql.h needs the Windows types
#endif
#include <sql.h>

#include "base/scoped_handle.h"

namespace veltora {

template <SQLSMALLINT Type>
struct OdbcHandleTraits {
  static SQLHANDLE Invalid() { return SQL_NULL_HANDLE; }
  static void Close(SQLHANDLE handle) { SQLFreeHandle(Type, handle); }
};

using OdbcEnvironmentHandle = ScopedHandle<SQLHENV, OdbcHandleTraits<SQL_HANDLE_ENV>>;
using OdbcConnectionHandle = ScopedHandle<SQLHDBC, OdbcHandleTraits<SQL_HANDLE_DBC>>;
using OdbcStatementHandle = ScopedHandle<SQLHSTMT, OdbcHandleTraits<SQL_HANDLE_STMT>>;

// The link a successful SQLDriverConnect makes on a connection handle; it
// holds the handle without owning it and disconnects when it goes.
struct OdbcLinkTraits {
  static SQLHDBC Invalid() { return SQL_NULL_HDBC; }
  static void Close(SQLHDBC dbc) { SQLDisconnect(dbc); }
};
using OdbcLink = ScopedHandle<SQLHDBC, OdbcLinkTraits>;

}  // namespace veltora
