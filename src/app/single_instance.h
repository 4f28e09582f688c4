// Lock files in the application folder, held across processes. Two of them:
//
// - the instance lock (veltora.lock): one agent (or window) per application
//   folder, held for its whole life;
// - the run lock (veltora-backup.lock): one backup run per application folder,
//   held for one run, whichever process makes it (the agent's runner or
//   `veltora-cli backup`), so that a backup on demand works beside a serving
//   agent and no two runs ever overlap.
//
// A lock belongs to the open file, so it is released even when the process is
// killed; the file itself stays and holds nothing. On Windows the instance lock
// is a named mutex instead, named after the application folder (its letter
// case does not count), which goes with the last handle to it; the run lock is
// the lock file, locked with LockFileEx.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace veltora {

inline constexpr char kInstanceLockFileName[] = "veltora.lock";
inline constexpr char kRunLockFileName[] = "veltora-backup.lock";

class AppFolderLock {
 public:
  // Takes the lock file `lockFileName` of `appFolder` without waiting. Null
  // when another process (or another owner in this one) holds it, or when the
  // lock file cannot be opened; `error` then says which, and `heldElsewhere`
  // (when given) tells the first case from the second.
  static std::unique_ptr<AppFolderLock> TryAcquire(const std::string& appFolder,
                                                   std::string_view lockFileName,
                                                   std::string& error,
                                                   bool* heldElsewhere = nullptr);
  ~AppFolderLock();
  AppFolderLock(const AppFolderLock&) = delete;
  AppFolderLock& operator=(const AppFolderLock&) = delete;

 private:
  // A descriptor on POSIX, a HANDLE on Windows.
  explicit AppFolderLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace veltora
