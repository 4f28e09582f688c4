#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "base/path.h"
#include "files/local_file_system.h"
#include "files/messages.h"
#include "files/posix_internal.h"

namespace veltora {
namespace {

using internal::Failed;
using internal::Outcome;

bool Usable(const std::string& path) { return !path.empty() && !IsSharePath(path); }

// Changes the mode of what the path names itself, never of what a link there
// leads to: the mode is computed from and set on one object, reached without
// following the name (O_PATH, then the descriptor's /proc name, which fchmod
// on an O_PATH descriptor does not take). `newMode` answers the new mode for
// the object's stat, or nothing to leave it. 0 or an errno; ELOOP for a link.
template <typename NewMode>
int ChangeModeInPlace(const std::string& path, NewMode newMode) {
  const ScopedFd fd(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return errno;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  const std::optional<mode_t> mode = newMode(st);
  if (!mode || *mode == (st.st_mode & 07777)) return 0;
  const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
  return ::chmod(self.c_str(), *mode) == 0 ? 0 : errno;
}

unsigned int StatxBit(FileTime kind) {
  switch (kind) {
    case FileTime::kCreation:
      return STATX_BTIME;
    case FileTime::kLastAccess:
      return STATX_ATIME;
    case FileTime::kLastWrite:
      break;
  }
  return STATX_MTIME;
}

// The chosen time from a statx answer; a file system without birth times
// leaves the bit clear and the answer is -1.0.
DateTime TimeFrom(const struct statx& sx, FileTime kind) {
  const unsigned int wanted = StatxBit(kind);
  if ((sx.stx_mask & wanted) == 0) return kUnreadableTime;
  const statx_timestamp& ts = kind == FileTime::kCreation     ? sx.stx_btime
                              : kind == FileTime::kLastAccess ? sx.stx_atime
                                                              : sx.stx_mtime;
  return internal::DosRoundedLocalTime(static_cast<std::time_t>(ts.tv_sec));
}

DateTime FileTimeOf(const std::string& path, FileTime kind) {
  struct statx sx {};
  if (!Usable(path) ||
      ::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, StatxBit(kind), &sx) != 0)
    return kUnreadableTime;
  return TimeFrom(sx, kind);
}

}  // namespace

bool LocalFileSystem::IsFile(const std::string& path) {
  struct stat st {};
  return Usable(path) && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool LocalFileSystem::IsFolder(const std::string& path) {
  struct stat st {};
  return Usable(path) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool LocalFileSystem::ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  if (!Usable(folder)) return false;
  const ScopedDir dir(::opendir(folder.c_str()));
  if (!dir) return false;
  const int fd = ::dirfd(dir.get());
  while (const dirent* e = ::readdir(dir.get())) {
    FolderEntry entry;
    entry.name = e->d_name;
    if (entry.name == "." || entry.name == "..") continue;
    unsigned char type = e->d_type;
    struct stat st {};
    if (type == DT_UNKNOWN && ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
    entry.isLink = type == DT_LNK;
    // What the entry is (a link: what it points to), its permissions and birth.
    struct statx sx {};
    const bool known =
        ::statx(fd, e->d_name, AT_STATX_SYNC_AS_STAT, STATX_MODE | STATX_BTIME, &sx) == 0;
    if (type == DT_DIR) {
      entry.isFolder = true;
    } else if (entry.isLink) {
      entry.isFolder = known && S_ISDIR(sx.stx_mode);
    }
    if (known) {
      entry.readOnly = (sx.stx_mode & S_IWUSR) == 0;
      entry.created = TimeFrom(sx, FileTime::kCreation);
    }
    entries.push_back(std::move(entry));
  }
  return true;
}

DateTime LocalFileSystem::CreationTime(const std::string& path) {
  return FileTimeOf(path, FileTime::kCreation);
}
DateTime LocalFileSystem::LastAccessTime(const std::string& path) {
  return FileTimeOf(path, FileTime::kLastAccess);
}
DateTime LocalFileSystem::LastWriteTime(const std::string& path) {
  return FileTimeOf(path, FileTime::kLastWrite);
}

FileOutcome LocalFileSystem::MakeFolder(const std::string& path) {
  if (!Usable(path)) return Failed(files_msg::kUnusablePath);
  return Outcome(::mkdir(path.c_str(), 0777) == 0);
}

FileOutcome LocalFileSystem::RemoveFolder(const std::string& path) {
  if (!Usable(path)) return Failed(files_msg::kUnusablePath);
  return Outcome(::rmdir(path.c_str()) == 0);
}

FileOutcome LocalFileSystem::DeleteFile(const std::string& path) {
  if (!Usable(path)) return Failed(files_msg::kUnusablePath);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(errno);
  if (S_ISDIR(st.st_mode)) return Failed(EISDIR);
  // Made writable first as a read-only file is on Windows; a file with other
  // names keeps its mode, which those names share.
  ChangeModeInPlace(path, [](const struct stat& now) -> std::optional<mode_t> {
    if (!S_ISREG(now.st_mode) || now.st_nlink != 1) return std::nullopt;
    return (now.st_mode & 07777) | S_IWUSR;
  });
  return Outcome(::unlink(path.c_str()) == 0);
}

FileOutcome LocalFileSystem::Rename(const std::string& from, const std::string& to) {
  if (!Usable(from) || !Usable(to)) return Failed(files_msg::kUnusablePath);
  return Outcome(::rename(from.c_str(), to.c_str()) == 0);
}

FileOutcome LocalFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  if (!Usable(path)) return Failed(files_msg::kUnusablePath);
  // Never through a link: a reset inside a folder being emptied must not
  // change permissions outside it.
  const int err = ChangeModeInPlace(path, [readOnly](const struct stat& st) {
    const mode_t ownerBits = S_ISDIR(st.st_mode) ? S_IRWXU : S_IWUSR;
    const mode_t mode = st.st_mode & 07777;
    return std::optional<mode_t>(readOnly ? mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)
                                          : mode | ownerBits);
  });
  return err == 0 ? FileOutcome::Done() : Failed(err);
}

FileOutcome LocalFileSystem::CopyFromLocal(const std::string& localSource,
                                           const std::string& target, bool overwrite,
                                           const CopyProgress& progress) {
  return internal::CopyLocalFile(localSource, target, overwrite, marker_, progress);
}

FileOutcome LocalFileSystem::CopyToLocal(const std::string& source, const std::string& localTarget,
                                         bool overwrite, const CopyProgress& progress) {
  return internal::CopyLocalFile(source, localTarget, overwrite, marker_, progress,
                                 internal::CopyDirection::kToLocal);
}

}  // namespace veltora
