// POSIX only: the owners of POSIX handles (descriptors, folder streams, spawn
// file actions, temporary files) and the words for an errno. Included by
// *_posix.cpp files alone: the file layer, the run log's writer, the process
// runner, the service manager and autostart share them.
#pragma once

#include <dirent.h>
#include <spawn.h>
#include <unistd.h>

#include <string>

#include "base/scoped_handle.h"

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

// The reason for an errno, in the operating system's words.
std::string ErrorText(int err);

}  // namespace internal
}  // namespace veltora
