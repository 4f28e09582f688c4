// POSIX only: the owners of POSIX handles, and the pieces that the local file
// system and the SMB client share. Included by *_posix.cpp files alone (the
// run log's writer and the process runner use the descriptor owner too).
#pragma once

#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <exception>
#include <string>

#include "base/date_time.h"
#include "base/scoped_handle.h"
#include "files/copy_progress_reporter.h"
#include "files/file_ops.h"
#include "files/temp_names.h"

namespace veltora {

struct FdTraits {
  static int Invalid() { return -1; }
  static void Close(int fd) { ::close(fd); }
};
using ScopedFd = ScopedHandle<int, FdTraits>;

// The file actions of one posix_spawn, released on every path.
class SpawnFileActions {
 public:
  SpawnFileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnFileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

struct DirTraits {
  static DIR* Invalid() { return nullptr; }
  static void Close(DIR* dir) { ::closedir(dir); }
};
using ScopedDir = ScopedHandle<DIR*, DirTraits>;

// A temporary file that is removed when its owner goes, unless Release()d
// once it has been renamed into place.
struct UnlinkTraits {
  static std::string Invalid() { return std::string(); }
  static void Close(const std::string& path) { ::unlink(path.c_str()); }
};
using ScopedTempFile = ScopedHandle<std::string, UnlinkTraits>;

namespace internal {

// The end of a successful copy: the last pass's final report (a failing
// progress display does not undo a copy that is in place) and the outcome.
inline CopyOutcome CopyDone(const CopyProgress& progress, std::uint64_t done,
                            CopyPass lastPass = CopyPass::kWrite) {
  if (progress) {
    try {
      progress(lastPass, done, done);
    } catch (const std::exception&) {
    }
  }
  return CopyOutcome{true, std::string()};
}

// A time as a local date-time at two-second resolution, as an MS-DOS date-time
// pair holds it (seconds rounded down to even); -1.0 outside 1980..2107.
DateTime DosRoundedLocalTime(std::time_t seconds);

// Opens a local copy source for reading: never through a symbolic link, never
// anything but a regular file (a FIFO or device in its place cannot hang or
// disturb anything: it is opened non-blocking and refused). Answers the
// descriptor (blocking again) and fills `st`, or an empty owner and the reason.
ScopedFd OpenCopySource(const std::string& path, struct stat& st, std::string& error);

// The reason for an errno, in the operating system's words.
std::string ErrorText(int err);

// CopyFileSafely with a choice: with `overwrite` false an existing target is
// never replaced, not even one that appears while the copy runs (the final
// step is an atomic no-replace rename).
CopyOutcome CopyLocalFile(const std::string& source, const std::string& target, bool overwrite,
                          const CopyMarker& marker, const CopyProgress& progress);

}  // namespace internal
}  // namespace veltora
