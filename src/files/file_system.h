// The file system as the backup agent sees it: local folders and Windows
// shares (\\server\share\dir) behind one interface, so that the listing, the
// writable-folder test, the retention and the copy work the same on both.
// FileSystemRouter picks the implementation by the path's form.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/date_time.h"
#include "files/file_ops.h"
#include "files/messages.h"
#include "files/share_connection.h"
#include "files/temp_names.h"

namespace veltora {

struct FolderEntry {
  std::string name;  // without folder, as the file system stores it
  bool isFolder = false;
  DateTime created = kUnreadableTime;  // creation time, local, 2-second resolution
  // A symbolic link (local file systems only). A link to a folder counts as a
  // folder for listing but is never descended into or emptied through.
  bool isLink = false;
  // The read-only attribute: locally, no write permission for the owner.
  bool readOnly = false;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual bool IsFile(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
  // The entries of one folder, without "." and "..", in no particular order.
  // False when the folder cannot be read.
  virtual bool ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) = 0;
  // The marker of the temporary names this object's copies are written under.
  virtual const CopyMarker& marker() const = 0;
  // Creation time of a file or folder as GetFileDate reads it.
  virtual DateTime CreationTime(const std::string& path) = 0;
  // Last-access and last-write times, read the same way; -1.0 where the file
  // system cannot tell.
  virtual DateTime LastAccessTime(const std::string& path) {
    (void)path;
    return kUnreadableTime;
  }
  virtual DateTime LastWriteTime(const std::string& path) {
    (void)path;
    return kUnreadableTime;
  }
  // The changing calls answer what they did, with the reason of a failure.
  virtual FileOutcome MakeFolder(const std::string& path) = 0;    // one level
  virtual FileOutcome RemoveFolder(const std::string& path) = 0;  // an empty folder
  // Deletes a file after resetting its attributes (read-only and the like).
  virtual FileOutcome DeleteFile(const std::string& path) = 0;
  // Renames within this file system, replacing an existing target.
  virtual FileOutcome Rename(const std::string& from, const std::string& to) = 0;
  // Sets or clears the read-only attribute of a file or folder; clearing is the
  // "normal attributes" reset that precedes a deletion. Locally it is the
  // owner's write permission (and, for a folder, its search permission).
  virtual FileOutcome SetReadOnly(const std::string& path, bool readOnly) {
    (void)path;
    (void)readOnly;
    return FileOutcome::Failed(files_msg::kNotSupported);
  }
  // Copies a local file to `target` on this file system so that the target
  // name only ever holds a complete copy: the bytes go to a temporary name
  // (TemporaryCopyName with marker()) beside the target, which is renamed into
  // place once it is checked. With `overwrite` false an existing target is
  // left alone and the copy fails. On failure no file stands under the target
  // name that was not there before, and the temporary file is removed where
  // the file system still answers.
  virtual FileOutcome CopyFromLocal(const std::string& localSource, const std::string& target,
                                    bool overwrite, const CopyProgress& progress) = 0;
  // Copies a file of this file system to a local path so that the local name
  // only ever holds a complete copy: the bytes go to a temporary name beside
  // the local target (TemporaryCopyName with marker()), flushed and renamed
  // into place once the byte count matches the source's size. With
  // `overwrite` false an existing target is left alone and the copy fails. On
  // failure no file stands under the target name that was not there before
  // and the temporary file is removed. The local file is created owner-only
  // (0600 / owner-only access list), whatever the source's mode: it is a
  // backup of a ledger on its way to being restored. It keeps the source's
  // last-write time. `progress` hears the bytes received (CopyPass::kWrite).
  virtual FileOutcome CopyToLocal(const std::string& source, const std::string& localTarget,
                                  bool overwrite, const CopyProgress& progress) = 0;
};

// Deletes the temporary copies with this file system's marker that earlier,
// interrupted copies left directly in the folder. Those of other agents (other
// machines, other application folders) are left alone: they may be in flight.
// Answers how many were removed; -1 when the folder cannot be read. Never
// called while a copy of this agent into the same folder is running.
int RemoveStaleTemporaryFiles(FileSystem& fs, const std::string& folder);

// Serves local paths from one file system and share paths (beginning with two
// backslashes) from another. Without a share file system, share paths behave
// as missing.
class FileSystemRouter {
 public:
  FileSystemRouter(FileSystem& local, FileSystem* share) : local_(local), share_(share) {}
  FileSystem& For(const std::string& path) const;
  FileSystem& local() const { return local_; }
  FileSystem* share() const { return share_; }

 private:
  FileSystem& local_;
  FileSystem* share_;
};

// What a share client does after a request ran into its time-out. A backup
// run's own client fails every later call at once (a copy or another change
// with the reason "Connection timed out", Connect with 53), so that a frozen
// share costs the run one time-out rather than one per archive and per folder
// it prunes. A long-lived object (the window's folder checks) asks again.
enum class AfterTimeout { kAskAgain, kFailAtOnce };

// The file systems one backup run works with, made fresh for that run by the
// front end, so that nothing another thread does (a listing on the window
// thread, a second connection to the share) can drop this run's share sessions
// or swap the account it connected with.
class RunFileSystems {
 public:
  virtual ~RunFileSystems() = default;
  virtual const FileSystemRouter& Router() const = 0;
  virtual ShareConnector& Share() = 0;
};

}  // namespace veltora
