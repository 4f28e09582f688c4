#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/messages.h"
#include "app/single_instance.h"
#include "base/path.h"

namespace veltora {

std::unique_ptr<AppFolderLock> AppFolderLock::TryAcquire(const std::string& appFolder,
                                                         std::string_view lockFileName,
                                                         std::string& error, bool* heldElsewhere) {
  if (heldElsewhere != nullptr) *heldElsewhere = false;
  const std::string path = JoinPath(appFolder, lockFileName);
  // Never through a link: the lock file is ours, in our folder.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = app_msg::kLockCannotOpen + path + ": " + std::strerror(errno);
    return nullptr;
  }
  // flock locks belong to the open file description, so a second open in this
  // process is refused as another process's would be.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (heldElsewhere != nullptr) *heldElsewhere = err == EWOULDBLOCK;
    error = err == EWOULDBLOCK ? app_msg::kLockHeld + appFolder
                               : app_msg::kLockFailed + path + ": " + std::strerror(err);
    return nullptr;
  }
  return std::unique_ptr<AppFolderLock>(new AppFolderLock(fd));
}

AppFolderLock::~AppFolderLock() { ::close(static_cast<int>(handle_)); }

}  // namespace veltora
