#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "settings/owner_only_file.h"

namespace veltora {
namespace {

[[noreturn]] void ThrowErrno(const char* what, const std::string& path) {
  throw std::runtime_error(std::string(what) + " " + path + ": " + std::strerror(errno));
}

}  // namespace

void CreateOwnerOnlyFile(const std::string& path) {
  // O_EXCL: an existing file (or a link planted in its place) is an error.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) ThrowErrno("cannot create", path);
  // The umask can only remove bits, but be explicit about the result.
  if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
    const int saved = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = saved;
    ThrowErrno("cannot restrict", path);
  }
  ::close(fd);
}

void MakeOwnerOnly(const std::string& path) {
  if (::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0) ThrowErrno("cannot restrict", path);
}

}  // namespace veltora
