#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "base/path.h"
#include "files/local_file_system.h"
#include "files/posix_internal.h"

namespace veltora {
namespace {

bool Usable(const std::string& path) { return !path.empty() && !IsSharePath(path); }

// kind 0 birth, 1 access, 2 write; a file system without birth times leaves
// the bit clear and the answer is -1.0.
DateTime FileTime(int dirFd, const char* path, int kind) {
  const unsigned int wanted = kind == 0 ? STATX_BTIME : kind == 1 ? STATX_ATIME : STATX_MTIME;
  struct statx sx {};
  if (::statx(dirFd, path, AT_STATX_SYNC_AS_STAT, wanted, &sx) != 0) return kUnreadableTime;
  if ((sx.stx_mask & wanted) == 0) return kUnreadableTime;
  const statx_timestamp& ts = kind == 0 ? sx.stx_btime : kind == 1 ? sx.stx_atime : sx.stx_mtime;
  return internal::DosRoundedLocalTime(static_cast<std::time_t>(ts.tv_sec));
}

DateTime FileTimeOf(const std::string& path, int kind) {
  return Usable(path) ? FileTime(AT_FDCWD, path.c_str(), kind) : kUnreadableTime;
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
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
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
    if (type == DT_DIR) {
      entry.isFolder = true;
    } else if (entry.isLink) {
      entry.isFolder = ::fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    entry.created = FileTime(fd, e->d_name, 0);
    entries.push_back(std::move(entry));
  }
  return true;
}

DateTime LocalFileSystem::CreationTime(const std::string& path) { return FileTimeOf(path, 0); }
DateTime LocalFileSystem::LastAccessTime(const std::string& path) { return FileTimeOf(path, 1); }
DateTime LocalFileSystem::LastWriteTime(const std::string& path) { return FileTimeOf(path, 2); }

bool LocalFileSystem::MakeFolder(const std::string& path) {
  return Usable(path) && ::mkdir(path.c_str(), 0777) == 0;
}

bool LocalFileSystem::RemoveFolder(const std::string& path) {
  return Usable(path) && ::rmdir(path.c_str()) == 0;
}

bool LocalFileSystem::DeleteFile(const std::string& path) {
  if (!Usable(path)) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (S_ISREG(st.st_mode)) ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  return ::unlink(path.c_str()) == 0;
}

bool LocalFileSystem::Rename(const std::string& from, const std::string& to) {
  return Usable(from) && Usable(to) && ::rename(from.c_str(), to.c_str()) == 0;
}

bool LocalFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  if (!Usable(path)) return false;
  struct stat st {};
  // Never through a link: a reset inside a folder being emptied must not
  // change permissions outside it.
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  const mode_t ownerBits = S_ISDIR(st.st_mode) ? S_IRWXU : S_IWUSR;
  mode_t mode = st.st_mode & 07777;
  mode = readOnly ? mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH) : mode | ownerBits;
  return ::chmod(path.c_str(), mode) == 0;
}

CopyOutcome LocalFileSystem::CopyFromLocal(const std::string& localSource,
                                           const std::string& target, bool overwrite,
                                           const CopyProgress& progress) {
  return internal::CopyLocalFile(localSource, target, overwrite, progress);
}

}  // namespace veltora
