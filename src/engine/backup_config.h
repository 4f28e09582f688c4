// The values one backup run works on. The starter (the window, the schedule or
// the command line) captures them before the thread starts; the thread never
// reads live window state.
#pragma once

#include <string>
#include <vector>

#include "sqlserver/sql_server_connection.h"

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

struct BackupConfig {
  std::string caption;  // the main window's caption, the run's first log line
  int edition = 0;
  std::vector<AccountSetEntry> accountSets;
  std::string accountFolder;
  bool localBackup = true;
  bool remoteBackup = false;
  std::string localFolder;
  std::string remoteFolder;
  std::string sqlUser;
  std::string sqlPassword;
  std::string remoteUser;
  std::string remotePassword;
  int keepCount = 0;         // 0 = keep every backup
  int compressionLevel = 3;  // 0 = no compression, 1..5
  std::string archivePassword;
  SqlTimeouts timeouts;
  std::vector<std::string> selectedAccountSets;  // names of the ticked entries, list order
};

}  // namespace veltora
