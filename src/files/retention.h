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
// side, so the newest good backup is never among the deleted. Every deletion
// and every failure goes to the run log; the result tells the caller whether
// anything went wrong.
#pragma once

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

// Brings the series in the local folder down to its `keep` newest files. Keep
// count below 1: false, nothing deleted.
bool PruneLocal(const RetentionContext& ctx, const std::string& folder, const BackupSeries& series,
                int keep);

// The sides PruneLocalAndRemote may prune: each only when this run's backup of
// the series is verified there.
struct PruneSides {
  bool local = false;
  bool remote = false;
};

// Connects to the share (for a share path) and brings the series down to its
// `keep` newest files on each side named in `sides`, the share first. A side
// not named is left as it is.
bool PruneLocalAndRemote(const RetentionContext& ctx, const std::string& user,
                         const std::string& password, const std::string& localFolder,
                         const std::string& remoteFolder, const BackupSeries& series, int keep,
                         PruneSides sides);

}  // namespace veltora
