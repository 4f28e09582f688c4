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
#include <cstddef>
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

// The local end of every copy to a local file: a fresh temporary file beside
// the target, created exclusively and owner-only, that takes the target's name
// in Finish() once it is complete, and is removed on every other way out
// (exceptions included).
class LocalCopyTarget {
 public:
  // Creates the temporary file beside `target`; 0 or an errno.
  int Create(const std::string& target, const CopyMarker& marker);
  int fd() const { return out_.get(); }
  // Writes all of `data` at the current offset; 0 or an errno.
  int Write(const char* data, std::size_t size);
  // Gives the file `mode` (permission bits only) and the last-write time
  // `modified`, writes it through to the disk, closes it and moves it to the
  // target name: replacing what is there, or (overwrite off) failing with
  // EEXIST if anything holds the name at that moment. Then makes the new name
  // itself durable. 0 or an errno; on failure the temporary file goes.
  int Finish(mode_t mode, const struct timespec& modified, bool overwrite);

 private:
  std::string target_;
  // Declared before the descriptor, so that the file is closed before the removal.
  ScopedTempFile temp_;
  ScopedFd out_;
};

// Which FileSystem call a local copy serves: kFromLocal gives the target the
// source's permission bits, kToLocal makes it owner-only (0600).
enum class CopyDirection { kFromLocal, kToLocal };

// CopyFileSafely with a choice: with `overwrite` false an existing target is
// never replaced, not even one that appears while the copy runs (the final
// step is an atomic no-replace rename).
FileOutcome CopyLocalFile(const std::string& source, const std::string& target, bool overwrite,
                          const CopyMarker& marker, const CopyProgress& progress,
                          CopyDirection direction = CopyDirection::kFromLocal);

}  // namespace internal
}  // namespace veltora
