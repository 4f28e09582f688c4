// The job's last stage: prune each selected account set's backups to the keep
// count, and with remote backup on, reach the share, prune there, copy the new
// archives and record each backup that reached it.
#pragma once

#include <string>
#include <vector>

#include "base/line_log.h"
#include "engine/backup_config.h"
#include "engine/backup_records.h"
#include "files/file_system.h"
#include "files/share_connection.h"

namespace veltora {

struct LocalResult;

struct DistributionContext {
  LineLog& log;
  const FileSystemRouter& fs;
  ShareConnector& share;
  const BackupRecordsFactory& records;
  CopyProgress copyProgress;
};

struct DistributionOutcome {
  bool completed = false;  // false when a failure ended the stage early
  int reachedShare = 0;    // successful backups of this run now on the share
};

// `config` has both folders with their trailing separators; `extension` is the
// run's backup extension with its dot (".7z", ".rar", or ".bak" without
// compression).
DistributionOutcome RunDistributionStage(const BackupConfig& config,
                                         const std::vector<LocalResult>& results,
                                         const std::string& extension,
                                         const DistributionContext& ctx);

// The base name an account set's backups start with: the .AIS file name
// without its extension (file editions) or the account-set name whole (SQL
// editions, dots included).
std::string BackupBaseName(int edition, const std::string& entryName);

}  // namespace veltora
