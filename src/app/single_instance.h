// One backup run, or one agent, per application folder across processes: a
// lock file in the application folder, held from acquisition until the owner
// goes. The lock belongs to the open file, so it is released even when the
// process is killed; the file itself stays and holds nothing.
#pragma once

#include <memory>
#include <string>

namespace veltora {

inline constexpr char kLockFileName[] = "veltora.lock";

class AppFolderLock {
 public:
  // Takes the lock of `appFolder` without waiting. Null when another process
  // (or another owner in this one) holds it, or when the lock file cannot be
  // opened; `error` then says which.
  static std::unique_ptr<AppFolderLock> TryAcquire(const std::string& appFolder,
                                                   std::string& error);
  ~AppFolderLock();
  AppFolderLock(const AppFolderLock&) = delete;
  AppFolderLock& operator=(const AppFolderLock&) = delete;

 private:
  explicit AppFolderLock(int handle) : handle_(handle) {}
  int handle_;
};

}  // namespace veltora
