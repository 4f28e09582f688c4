// The values one backup run works on. The starter (the window, the schedule or
// the command line) captures them before the thread starts; the thread never
// reads live window state.
#pragma once

#include <string>
#include <vector>

#include "base/account_set.h"
#include "sqlserver/sql_server_connection.h"

namespace veltora {

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
  // Started by the schedule, not by "立即备份": the agent may follow such a
  // run with its weekly test restore. The job itself does not look at it.
  bool scheduled = false;
};

}  // namespace veltora
