// What the job knows about one ticked account set as it goes through the
// stages: made by the local stage, completed by compression and distribution.
#pragma once

#include <optional>
#include <string>

#include "engine/backup_records.h"
#include "files/file_ops.h"

namespace veltora {

struct LocalResult {
  std::string account;  // the row's account: the SQL account-set name, or the .AIS path
  std::string series;   // the base name every backup of this account set starts with
  // The backup's file name without extension (base name + stamp); empty when
  // the local backup failed.
  std::string backupName;
  // The local backup's path without extension on success, else the failure
  // text ("本机备份失败：" + reason) that goes into the row.
  std::string localFile;
  bool succeeded = false;      // the local backup exists
  bool archived = false;       // its archive is in place and tested good
  std::string archiveFailure;  // why not, when compression was on and failed
  bool onShare = false;        // its archive (or backup) is on the share, verified
  // The backup's and its archive's digests, once both are known; a share copy
  // that read back equal has the same.
  std::optional<BackupDigests> digests;
  std::optional<FileDigest> content;  // the backup's own, taken when it was made
};

}  // namespace veltora
