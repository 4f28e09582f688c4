#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/scoped_handle.h"
#include "settings/owner_only_file.h"

namespace veltora {
namespace {

struct FdTraits {
  static int Invalid() { return -1; }
  static void Close(int fd) { ::close(fd); }
};
using ScopedFd = ScopedHandle<int, FdTraits>;

[[noreturn]] void ThrowErrno(const char* what, const std::string& path) {
  throw std::runtime_error(std::string(what) + " " + path + ": " + std::strerror(errno));
}

}  // namespace

void CreateOwnerOnlyFile(const std::string& path) {
  // O_EXCL: an existing file (or a link planted in its place) is an error.
  ScopedFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
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
  if (::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0) ThrowErrno("cannot restrict", path);
}

}  // namespace veltora
