// The job's last stage. With remote backup on it reaches the share, copies the
// new archives there (each verified before it takes its final name) and
// records each backup that reached it, and the copies of this application
// folder's own archives as its own on the share. Then it prunes each selected
// account set's own backups to the keep count, each side only once this run's
// backup of that set is verified there: locally once its archive tested good
// (or, without compression, once the backup exists), on the share once its
// copy is verified. A run that fails on one side therefore never costs that
// side a good backup, and this run's verified backup is always kept. Backups
// another agent made in the same folders are never counted or deleted.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "base/line_log.h"
#include "engine/backup_config.h"
#include "engine/backup_records.h"
#include "engine/backup_stamps.h"
#include "engine/local_result.h"
#include "engine/progress.h"
#include "files/file_system.h"
#include "files/share_connection.h"

namespace veltora {

struct DistributionContext {
  LineLog& log;
  const FileSystemRouter& fs;
  ShareConnector& share;
  const BackupRecordsFactory& records;
  ProgressListener progress;           // hears the copies and their read-back; may be empty
  int& rowsLost;                       // counts rows that could not be written
  std::set<std::string>& pruneFailed;  // gets each series whose pruning failed
  // The run's stamps: a new second for a backup whose name another agent took
  // on the share, and the stamp of now.
  StampAllocator& stamps;
};

// `config` has both folders with their trailing separators; `extension` is the
// run's backup extension with its dot (".7z", ".rar", or ".bak" without
// compression). Marks each result that reached the share. False when a failure
// ended the stage early (share unreachable, pruning failed, copy never
// started).
bool RunDistributionStage(const BackupConfig& config, std::vector<LocalResult>& results,
                          const std::string& extension, const DistributionContext& ctx);

// The base name an account set's backups start with: the .AIS file name
// without its extension (file editions) or the account-set name whole (SQL
// editions, dots included).
std::string BackupBaseName(int edition, const std::string& entryName);

}  // namespace veltora
