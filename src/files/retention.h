// Keeping a set number of backups per account set, in the local backup folder
// and on the share.
//
// An account set's backups are the files directly in the folder (never in a
// subfolder) named exactly: the set's base name, 14 digits of backup stamp,
// the extension. The base name is compared byte for byte, whatever characters
// it holds, so "*" or "?" in it are letters, and ACME's backups never include
// ACME2's. They are ordered by the stamp in the name (ties by creation time),
// so an old archive copied in by hand, which gets a new creation time, is still
// the oldest.
//
// The pruning runs only after this run's backup of the set is verified on that
// side, and that backup is never among the deleted, whatever stamps the others
// carry. Only this agent's own backups are counted and deleted: a folder shared
// with another agent (another machine, another application folder) holds its
// backups of a same-named account set too, and those are left alone, as is a
// backup stamped later than now (the clock ran ahead once, or it was copied
// in). Every deletion, every failure and everything left alone goes to the run
// log; the result tells the caller whether anything went wrong.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/date_time.h"
#include "base/line_log.h"
#include "files/file_system.h"
#include "files/share_connection.h"

namespace veltora {

// The backups of one account set.
struct BackupSeries {
  std::string baseName;   // the literal start of every backup's name
  std::string extension;  // with its dot: ".7z", ".rar", ".bak"
  // Whether `name` (without folder) is one of this series: base name, exactly
  // 14 ASCII digits, the extension (ASCII case ignored in the extension only).
  bool Matches(const std::string& name) const;
  // The same as a Windows mask, for the run-log lines: base + 14 "?" + extension.
  std::string Mask() const;
};

// One backup file as the retention sees it.
struct BackupFileEntry {
  std::string path;
  std::string stamp;  // the 14 digits of its name
  DateTime created = kUnreadableTime;
};

// Sorts by stamp, then creation time; equal keys keep the listing's order.
// Ascending puts the oldest first. False for an empty array.
bool SortByDate(std::vector<BackupFileEntry>& files, bool ascending);

// The series' files directly in `folder`, sorted. False when the folder cannot
// be read; an empty result is no failure.
bool ListFilesByDate(const FileSystemRouter& fs, std::vector<BackupFileEntry>& files,
                     const std::string& folder, const BackupSeries& series, bool ascending);

// What the pruning works with besides its arguments.
struct RetentionContext {
  const FileSystemRouter& fs;
  ShareConnector& share;
  LineLog& log;
};

// What the pruning of one side may touch.
struct PruneRules {
  // Whether this agent made the file (name without folder); every other file
  // of the series is left alone and only counted in one line. Empty: none is.
  std::function<bool(const std::string& name)> isOwn;
  // This run's verified backups there (names without folder): never deleted,
  // and counted among the kept.
  std::set<std::string> verified;
  // The stamp of now (14 digits); a file stamped later is left alone and
  // named. Empty: no stamp is in the future.
  std::string nowStamp;
  // Told the name of each file deleted; may be empty.
  std::function<void(const std::string& name)> deleted;
};

// Brings the series' own files in the local folder down to `keep`, this run's
// verified backups first, then the newest. Keep count below 1: false, nothing
// deleted.
bool PruneLocal(const RetentionContext& ctx, const std::string& folder, const BackupSeries& series,
                int keep, const PruneRules& rules);

// The sides PruneLocalAndRemote may prune: each only when this run's backup of
// the series is verified there.
struct PruneSides {
  bool local = false;
  bool remote = false;
};

// Connects to the share (for a share path) and brings the series down to
// `keep` on each side named in `sides` as PruneLocal does, the share first. A
// side not named is left as it is.
bool PruneLocalAndRemote(const RetentionContext& ctx, const std::string& user,
                         const std::string& password, const std::string& localFolder,
                         const std::string& remoteFolder, const BackupSeries& series, int keep,
                         PruneSides sides, const PruneRules& localRules,
                         const PruneRules& remoteRules);

}  // namespace veltora
