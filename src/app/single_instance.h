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
// case does not count) in the machine's namespace, so that the service and a
// window in a user's session see each other; it goes with the last handle to
// it. The run and the settings lock are lock files, locked with LockFileEx.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/messages.h"

namespace veltora {

inline constexpr char kInstanceLockFileName[] = "veltora.lock";
inline constexpr char kRunLockFileName[] = "veltora-backup.lock";
inline constexpr char kSettingsLockFileName[] = "veltora-settings.lock";
// How long a save waits for another save of the folder. A save seldom takes
// long, but its checks may reach a slow share or SQL Server.
inline constexpr std::chrono::milliseconds kSettingsLockWait{30000};

// "锁文件<name>不是本程序的锁文件（…）": the start of the message for a lock
// file that is not ours; the caller adds what it cannot do for it.
inline std::string ForeignLockText(std::string_view lockFileName) {
  return app_msg::kForeignLockHead + std::string(lockFileName) + app_msg::kForeignLockTail;
}

class AppFolderLock {
 public:
  // Takes the lock file `lockFileName` of `appFolder` without waiting. Null
  // when another process (or another owner in this one) holds it, or when the
  // lock file cannot be opened; `error` then says which, and `heldElsewhere`
  // (when given) tells the first case from the second.
  // The lock file is never reached through a link: what holds its name must be
  // a regular file with that one name, created by this program's user (on
  // Windows: no reparse point, no folder). Anything else there (a symbolic
  // link, a hard link, a FIFO, a file of another user) was planted: the lock is
  // not taken, `foreign` (when given) is set, and it is no holder either, so
  // that the caller can say what is wrong and a later start may succeed once
  // it is gone.
  static std::unique_ptr<AppFolderLock> TryAcquire(const std::string& appFolder,
                                                   std::string_view lockFileName,
                                                   std::string& error,
                                                   bool* heldElsewhere = nullptr,
                                                   bool* foreign = nullptr);
  ~AppFolderLock();
  AppFolderLock(const AppFolderLock&) = delete;
  AppFolderLock& operator=(const AppFolderLock&) = delete;

 private:
  // A descriptor on POSIX, a HANDLE on Windows.
  explicit AppFolderLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace veltora
