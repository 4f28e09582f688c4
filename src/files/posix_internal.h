// POSIX only: the pieces that the local file system and the SMB client share.
// Included by *_posix.cpp files of this folder alone; the handle owners are in
// base/posix_handles.h.
#pragma once

#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <exception>
#include <string>
#include <utility>

#include "base/date_time.h"
#include "base/posix_handles.h"
#include "base/scoped_handle.h"
#include "files/copy_progress_reporter.h"
#include "files/file_ops.h"
#include "files/temp_names.h"

namespace veltora {

namespace internal {

// Failures with an errno's reason or a reason of our own, and the outcome of a
// system call that sets errno when it fails (read at once, before anything
// else can change it).
inline FileOutcome Failed(int err) { return FileOutcome::Failed(ErrorText(err)); }
inline FileOutcome Failed(std::string reason) { return FileOutcome::Failed(std::move(reason)); }
inline FileOutcome Outcome(bool done) { return done ? FileOutcome::Done() : Failed(errno); }

// The end of a successful copy: the last pass's final report (a failing
// progress display does not undo a copy that is in place) and the outcome.
inline FileOutcome CopyDone(const CopyProgress& progress, std::uint64_t done,
                            CopyPass lastPass = CopyPass::kWrite) {
  if (progress) {
    try {
      progress(lastPass, done, done);
    } catch (const std::exception&) {
    }
  }
  return FileOutcome::Done();
}

// A time as a local date-time at two-second resolution, as an MS-DOS date-time
// pair holds it (seconds rounded down to even); -1.0 outside 1980..2107.
DateTime DosRoundedLocalTime(std::time_t seconds);

// Opens a local copy source for reading: never through a symbolic link, never
// anything but a regular file (a FIFO or device in its place cannot hang or
// disturb anything: it is opened non-blocking and refused). Answers the
// descriptor (blocking again) and fills `st`, or an empty owner and the reason.
ScopedFd OpenCopySource(const std::string& path, struct stat& st, std::string& error);

// CopyFileSafely with a choice: with `overwrite` false an existing target is
// never replaced, not even one that appears while the copy runs (the final
// step is an atomic no-replace rename).
FileOutcome CopyLocalFile(const std::string& source, const std::string& target, bool overwrite,
                          const CopyMarker& marker, const CopyProgress& progress);

}  // namespace internal
}  // namespace veltora
