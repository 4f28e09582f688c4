// Internal to veltora_files: the POSIX pieces that the local file system and
// the SMB client share.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "base/date_time.h"
#include "files/file_ops.h"

namespace veltora::internal {

// The end of a successful copy: the final progress report (a failing progress
// display does not undo a copy that is in place) and the outcome.
inline CopyOutcome CopyDone(const CopyProgress& progress, std::uint64_t done) {
  if (progress) {
    try {
      progress(done, done);
    } catch (...) {
    }
  }
  return CopyOutcome{true, std::string()};
}

// A time as a local date-time at two-second resolution, as an MS-DOS date-time
// pair holds it (seconds rounded down to even); -1.0 outside 1980..2107.
DateTime DosRoundedLocalTime(std::time_t seconds);

// CopyFileSafely with a choice: with `overwrite` false an existing target is
// never replaced, not even one that appears while the copy runs (the final
// step is an atomic no-replace rename).
CopyOutcome CopyLocalFile(const std::string& source, const std::string& target, bool overwrite,
                          const CopyProgress& progress);

}  // namespace veltora::internal
