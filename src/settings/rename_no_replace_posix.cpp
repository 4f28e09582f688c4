#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "settings/rename_no_replace.h"

namespace veltora {
namespace {

[[noreturn]] void ThrowErrno(const std::string& from, const std::string& to) {
  throw std::runtime_error("cannot rename " + from + " to " + to + ": " + std::strerror(errno));
}

}  // namespace

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) ThrowErrno(from, to);
  // A file system without the flag: a second link fails on an existing name,
  // and the first one goes once the second is in place.
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    ThrowErrno(from, to);
  }
  if (::unlink(from.c_str()) != 0) ThrowErrno(from, to);
  return true;
}

}  // namespace veltora
