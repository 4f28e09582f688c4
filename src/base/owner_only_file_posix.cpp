#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/owner_only_file.h"
#include "base/posix_handles.h"

namespace veltora {
namespace {

[[noreturn]] void ThrowErrno(const char* what, const std::string& path) {
  throw std::runtime_error(std::string(what) + " " + path + ": " + std::strerror(errno));
}

}  // namespace

void CreateOwnerOnlyFile(const std::string& path) {
  // O_EXCL: an existing file (or a link planted in its place) is an error.
  ScopedFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     S_IRUSR | S_IWUSR));
  if (!fd) ThrowErrno("cannot create", path);
  // The umask can only remove bits, but be explicit about the result.
  if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0) {
    const int saved = errno;
    fd.Reset();
    ::unlink(path.c_str());
    errno = saved;
    ThrowErrno("cannot restrict", path);
  }
}

void MakeOwnerOnly(const std::string& path) {
  // Through a descriptor of the file itself: a link put in its place between
  // a look and a chmod by name would hand the mode change to the link's target.
  const ScopedFd fd(
      ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) ThrowErrno("cannot restrict", path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowErrno("cannot restrict", path);
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    ThrowErrno("cannot restrict", path);
  }
  if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0) ThrowErrno("cannot restrict", path);
}

bool WriteOwnerOnlyFile(const std::string& path, std::string_view content) {
  // O_EXCL and O_NOFOLLOW: a file or a link planted at the path is an error,
  // never something written through.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
  std::size_t done = 0;
  while (ok && done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  ok = (::close(fd) == 0) && ok;
  if (!ok) ::unlink(path.c_str());
  return ok;
}

HeldCommandFile::~HeldCommandFile() {
  if (held()) ::close(static_cast<int>(handle_));
}

bool HeldCommandFile::Write(const std::string& path, std::string_view content) {
  if (held()) return false;
  ScopedFd fd(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
  if (!fd) return false;
  bool ok = ::fchmod(fd.get(), S_IRUSR | S_IWUSR) == 0;
  std::size_t done = 0;
  while (ok && done < content.size()) {
    const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    if (ok) done += static_cast<std::size_t>(n);
  }
  if (!ok) {
    fd.Reset();
    ::unlink(path.c_str());
    return false;
  }
  path_ = path;
  handle_ = fd.Release();
  return true;
}

bool MakePrivateFolder(const std::string& path, std::string& reason) {
  if (::mkdir(path.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
    reason = std::strerror(errno);
    return false;
  }
  // Checked and restricted through the opened folder: a link planted at the
  // name is refused, not followed.
  const ScopedFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!dir || ::fstat(dir.get(), &st) != 0) {
    reason = errno == ELOOP || errno == ENOTDIR ? "not a folder" : std::strerror(errno);
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    reason = "owned by another user";
    return false;
  }
  if ((st.st_mode & 07777) != S_IRWXU && ::fchmod(dir.get(), S_IRWXU) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace veltora
