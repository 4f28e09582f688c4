// The account sets and editions every layer speaks of: the settings, the
// account-set listing, the window and the backup run. Below the engine so
// that those who only name an account set need not include the backup run.
#pragma once

#include <string>

namespace veltora {

// Kingdee editions by index: 0 and 1 keep account sets as .AIS files in a
// folder, 2 and 3 as databases on the local SQL Server.
inline bool IsSqlEdition(int edition) { return edition > 1; }
inline bool IsFileEdition(int edition) { return edition < 2; }

// One row of the account-set list. File editions: number empty, name and
// database both the .AIS file name with its extension.
struct AccountSetEntry {
  bool ticked = false;
  std::string number;
  std::string name;
  std::string database;
};

}  // namespace veltora
