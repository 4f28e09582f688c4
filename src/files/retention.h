// Keeping a set number of backups per account set, by creation time, in the
// local backup folder and on the share.
//
// Every deletion and every failure goes to the run log; the result tells the
// caller whether anything went wrong. Counts come from the listing itself, so a
// file created or removed between a count and the listing can never make the
// retention delete a file it did not list.
#pragma once

#include <string>
#include <vector>

#include "base/date_time.h"
#include "base/line_log.h"
#include "files/file_system.h"
#include "files/share_connection.h"

namespace veltora {

// One backup file as the retention sees it.
struct ybhzf {
  std::string path;
  DateTime created = kUnreadableTime;
};

// Sorts by creation time; equal times keep the listing's order (ascending),
// or come in reverse listing order (descending), as an exchange sort from the
// end of the array leaves them. O(n log n). False for an empty array.
bool SortByDate(std::vector<ybhzf>& files, bool ascending);

// Lists the files matching the mask (folder, subfolders when recursing) with
// their creation times and sorts them. False when the listing fails or finds
// nothing.
bool ListFilesByDate(const FileSystemRouter& fs, std::vector<ybhzf>& files,
                     const std::string& folder, const std::string& mask, bool recurse,
                     bool ascending);

// The mask that finds one account set's backups and no other's: the base name
// followed by exactly 14 characters (the stamp) and the extension, so that
// ACME's mask leaves ACME2's backups alone. `extension` includes the dot.
std::string BackupMaskFor(const std::string& baseName, const std::string& extension);

// What the pruning works with besides its arguments.
struct RetentionContext {
  const FileSystemRouter& fs;
  ShareConnector& share;
  LineLog& log;
};

// Brings the local folder down to the `keep` newest matching files. Runs after
// the run's new backups exist, so exactly `keep` remain. Keep count below 1:
// false, nothing deleted.
bool PruneLocal(const RetentionContext& ctx, const std::string& folder, const std::string& mask,
                int keep, bool recurse);

// Prunes both sides in one call: the share (after connecting to it when it is
// a share path) down to keep - 1 matching files, since the copy that follows
// adds the run's new backup, and the local folder down to `keep`. So after the
// run each side holds exactly the `keep` newest backups of the account set.
bool PruneLocalAndRemote(const RetentionContext& ctx, const std::string& user,
                         const std::string& password, const std::string& localFolder,
                         const std::string& remoteFolder, const std::string& mask, int keep,
                         bool recurse);

}  // namespace veltora
