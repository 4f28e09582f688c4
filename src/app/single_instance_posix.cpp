#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/messages.h"
#include "app/single_instance.h"
#include "base/path.h"
#include "base/posix_handles.h"

namespace veltora {
namespace {

// What, if anything, makes the opened lock file someone else's; empty for
// our own.
std::string WhyForeign(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return app_msg::kLockNotRegular;
  if (st.st_nlink != 1) return app_msg::kLockHasOtherNames;
  if (st.st_uid != ::geteuid()) return app_msg::kLockOtherOwner + std::to_string(st.st_uid);
  return {};
}

std::unique_ptr<AppFolderLock> Foreign(std::string& error, const std::string& path,
                                       const std::string& why, bool* foreign) {
  if (foreign != nullptr) *foreign = true;
  error = app_msg::kLockNotOurs + path + why;
  return nullptr;
}

}  // namespace

std::unique_ptr<AppFolderLock> AppFolderLock::TryAcquire(const std::string& appFolder,
                                                         std::string_view lockFileName,
                                                         std::string& error, bool* heldElsewhere,
                                                         bool* foreign) {
  if (heldElsewhere != nullptr) *heldElsewhere = false;
  if (foreign != nullptr) *foreign = false;
  const std::string path = JoinPath(appFolder, lockFileName);
  // Never through a link, and never blocking on a FIFO: the lock file is ours,
  // in our folder, and anything else under its name was put there by someone.
  ScopedFd fd(::open(path.c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
  if (!fd) {
    const int err = errno;
    if (err == ELOOP) return Foreign(error, path, app_msg::kLockIsLink, foreign);
    if (err == EISDIR) return Foreign(error, path, app_msg::kLockNotRegular, foreign);
    error = app_msg::kLockCannotOpen + path + ": " + std::strerror(err);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    error = app_msg::kLockCannotOpen + path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (const std::string why = WhyForeign(st); !why.empty())
    return Foreign(error, path, why, foreign);
  // flock locks belong to the open file description, so a second open in this
  // process is refused as another process's would be.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (heldElsewhere != nullptr) *heldElsewhere = err == EWOULDBLOCK;
    error = err == EWOULDBLOCK ? app_msg::kLockHeld + appFolder
                               : app_msg::kLockFailed + path + ": " + std::strerror(err);
    return nullptr;
  }
  return std::unique_ptr<AppFolderLock>(new AppFolderLock(fd.Release()));
}

AppFolderLock::~AppFolderLock() { ::close(static_cast<int>(handle_)); }

}  // namespace veltora
