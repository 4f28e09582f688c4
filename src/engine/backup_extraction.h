// Taking one backup out of its archive and proving it is the one that was
// made: the bytes the archiver hands out are written and digested in the same
// pass, then compared with the digests recorded when the backup was made.
// Shared by the restore and the test restore.
#pragma once

#include <optional>
#include <string>

#include "engine/archiver.h"
#include "engine/backup_records.h"
#include "engine/progress.h"
#include "files/file_ops.h"

namespace veltora {

struct ExtractionOutcome {
  bool ok = false;
  std::string reason;  // why not, in the user's words (with the archiver's, when it said any)
  FileDigest content;  // what was written
  explicit operator bool() const { return ok; }
};

// Writes the backup inside `archive` to `target`, a new file in a folder
// nobody else can write (it is created, or emptied when there); an archive
// named ".bak" is the backup itself and is only read through. The password
// opens the archive (empty: none). With `expected` the content's size and
// SHA-256 must match it. On any failure `target` is removed again. Progress
// is reported as kExtraction of the archive's name, by the content's bytes
// when `expected` tells how many there are.
ExtractionOutcome ExtractBackup(const std::optional<Archiver>& archiver, const std::string& archive,
                                const std::string& password, const std::string& target,
                                const std::optional<BackupDigests>& expected,
                                const ProgressListener& progress);

}  // namespace veltora
