#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

#include "files/folder_entries.h"

namespace veltora::internal {

bool ReadFolderEntries(const std::string& folder, std::vector<FolderEntry>& out) {
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
    out.push_back(std::move(entry));
  }
  return true;
}

}  // namespace veltora::internal
