// Bringing a backup back, and proving beforehand that it can be: the same
// logic for the command line and the backup log window.
//
// The restorable backups of an account set are the archives this application
// folder recorded as its own (and the earlier ones the backup table names) in
// the configured local and share folders, wherever one of them still lies. A
// restore takes the chosen backup from the local folder, or from the share
// with the stored share account when the local copy is gone or fails; each
// source is extracted and digested in one pass into a private work folder,
// compared with the digests recorded when the backup was made, and only then
// does anything reach the target. Every failure leaves the target as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/line_log.h"
#include "engine/archiver.h"
#include "engine/backup_records.h"
#include "engine/progress.h"
#include "files/run_file_systems.h"
#include "settings/settings_database.h"
#include "sqlserver/sql_server_connection.h"

namespace veltora {

struct RestoreServices {
  std::string applicationFolder;
  // A fresh connection to the folder's settings database; throws when it
  // cannot be opened.
  std::function<std::unique_ptr<SettingsDatabase>()> openSettings;
  // Fresh file systems for one restore (local folders and the share).
  std::function<std::unique_ptr<RunFileSystems>()> makeFileSystems;
  const SqlServerFactory* sqlServer = nullptr;
  std::optional<Archiver> archiver;
  CopyMarker marker;
  std::shared_ptr<const Clock> clock;
  ProgressListener progress;
  // Restoring over an account set's own database needs a fresh backup of it
  // first: makes one and answers whether it completed (the reason when not).
  std::function<bool(const std::string& accountSet, std::string& reason)> backUpFirst;
};

// One backup that can be brought back.
struct RestorableBackup {
  std::string accountSet;  // as the account list names it (file editions: the .AIS file's name)
  std::string database;    // SQL editions: the account set's database
  std::string stamp;       // yyyymmddhhnnss
  std::string fileName;    // the archive's name
  std::string localPath;   // where it lies locally; empty when it does not
  std::string sharePath;   // where it lies on the share; empty when it does not
  std::uint64_t bytes = 0;
  std::optional<BackupDigests> digests;  // nothing for backups made before digests were kept
  std::optional<std::string> password;   // of its row; nothing when no row names it
  std::int64_t rowId = 0;                // the backup-table row of its local result, 0 when none
};

struct RestoreCatalogue {
  int edition = 0;
  std::vector<std::string> accountSets;  // the sets looked at, in the list's order
  // Account sets in the list's order, each newest first.
  std::vector<RestorableBackup> backups;
  // Why a side could not be looked at (the share unreachable); empty when both were.
  std::string shareProblem;
};

// The restorable backups of every account set of the list, or of the one
// that `accountSet` names (its name, its file's name without extension, or
// its database; ASCII case ignored). Throws std::runtime_error with the
// user's message when the settings cannot be read or no account set has
// that name. `log` hears the share connection's failure lines.
RestoreCatalogue ListRestorableBackups(const RestoreServices& services,
                                       const std::string& accountSet, LineLog& log);

struct RestoreRequest {
  std::string accountSet;
  std::string stamp;                    // empty: the newest backup
  std::string targetFolder;             // file editions
  std::string asDatabase;               // SQL editions: a new database's name
  bool replace = false;                 // over an existing file / the set's own database
  std::optional<std::string> password;  // instead of the row's
};

struct RestoreResult {
  bool ok = false;
  std::string message;     // the outcome in the user's words
  std::string restoredTo;  // the file or the database
  std::string keptAside;   // where the file that was there went
};

// Restores one backup as described above; `log` hears a line for each source
// taken, and for each that failed with its reason.
RestoreResult RestoreBackup(const RestoreRequest& request, const RestoreServices& services,
                            LineLog& log);

// The test restore of the newest backup of each ticked account set (or of
// the named one), from each side that keeps it: extraction into a private
// work folder, the digest check, and for SQL editions RESTORE VERIFYONLY of
// the backup. One result per set and side.
struct VerifyResult {
  std::string accountSet;
  ArchiveSide side = ArchiveSide::kLocal;
  std::string stamp;
  bool ok = false;
  std::string message;
};
std::vector<VerifyResult> VerifyBackups(const RestoreServices& services,
                                        const std::string& accountSet, LineLog& log);

// The default name of a database restored beside the account set's own.
std::string DefaultRestoredDatabaseName(const std::string& database, const std::string& stamp);

}  // namespace veltora
