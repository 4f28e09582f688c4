// Lock files in the application folder, held across processes. Three of them:
//
// - the instance lock (veltora.lock): one agent (or window) per application
//   folder, held for its whole life;
// - the run lock (veltora-backup.lock): one backup run per application folder,
//   held for one run, whichever process makes it (the agent's runner or
//   `veltora-cli backup`), so that a backup on demand works beside a serving
//   agent and no two runs ever overlap;
// - the settings lock (veltora-settings.lock): one save of the settings per
//   application folder, held from its load through its checks to its write,
//   so that two saves land one after the other and neither loses the other's
//   change.
//
// A lock belongs to the open file, so it is released even when the process is
// killed; the file itself stays and holds nothing. On Windows the instance lock
// is a named mutex instead, named after the application folder (its letter
// case does not count), which goes with the last handle to it; the run and the
// settings lock are lock files, locked with LockFileEx.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace veltora {

inline constexpr char kInstanceLockFileName[] = "veltora.lock";
inline constexpr char kRunLockFileName[] = "veltora-backup.lock";
inline constexpr char kSettingsLockFileName[] = "veltora-settings.lock";
// How long a save waits for another save of the folder. A save seldom takes
// long, but its checks may reach a slow share or SQL Server.
inline constexpr std::chrono::milliseconds kSettingsLockWait{30000};

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
