// The shared file operations, written once over FileSystem so that a local
// folder and a share behave alike. The path-only forms serve the local disk.
#include "files/file_ops.h"

#include <exception>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/text.h"
#include "files/file_system.h"
#include "files/local_file_system.h"

namespace veltora {
namespace {

constexpr char kShareTempPrefix[] = "~";
constexpr char kShareTempSuffix[] = ".veltora-part";
constexpr char kLocalTempInfix[] = ".part-";
constexpr std::size_t kLocalTempRandom = 6;  // the XXXXXX of mkostemp

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Removes a folder with everything in it. Failures are ignored: what can be
// removed is. Entries are read first and removed afterwards, since removing
// while reading leaves it open whether the listing still returns them. A link
// is removed itself, never followed, so nothing outside the folder is reached.
void RemoveFolderWithContents(FileSystem& fs, const std::string& folder) {
  const std::string path = WithoutTrailingSeparators(folder);
  // A link (or file) standing where the folder should be goes by itself; a
  // real folder refuses a file deletion.
  if (fs.DeleteFile(path)) return;
  fs.SetReadOnly(path, false);
  std::vector<FolderEntry> entries;
  if (fs.ReadFolder(path, entries)) {
    for (const FolderEntry& entry : entries) {
      const std::string child = JoinPath(path, entry.name);
      if (entry.isFolder && !entry.isLink) {
        RemoveFolderWithContents(fs, child);
      } else {
        fs.DeleteFile(child);  // resets the attributes first
      }
    }
  }
  fs.RemoveFolder(path);
}

}  // namespace

std::string TemporaryCopyName(const std::string& finalName) {
  return kShareTempPrefix + finalName + kShareTempSuffix;
}

bool IsTemporaryCopyName(const std::string& name) {
  const std::size_t shareFixes = sizeof kShareTempPrefix - 1 + sizeof kShareTempSuffix - 1;
  if (name.size() > shareFixes && name.rfind(kShareTempPrefix, 0) == 0 &&
      EndsWith(name, kShareTempSuffix))
    return true;
  // "." + name + ".part-" + six characters from mkostemp.
  const std::size_t infix = sizeof kLocalTempInfix - 1;
  if (name.size() < 1 + 1 + infix + kLocalTempRandom || name[0] != '.') return false;
  const std::size_t at = name.size() - kLocalTempRandom - infix;
  if (name.compare(at, infix, kLocalTempInfix) != 0) return false;
  for (std::size_t i = name.size() - kLocalTempRandom; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

int RemoveStaleTemporaryFiles(FileSystem& fs, const std::string& folder) {
  try {
    std::vector<FolderEntry> entries;
    if (!fs.ReadFolder(WithoutTrailingSeparators(folder), entries)) return -1;
    int removed = 0;
    for (const FolderEntry& entry : entries) {
      if (entry.isFolder || !IsTemporaryCopyName(entry.name)) continue;
      if (fs.DeleteFile(JoinPath(folder, entry.name))) ++removed;
    }
    return removed;
  } catch (...) {
    return -1;
  }
}

DateTime GetFileDate(const FileSystemRouter& router, const std::string& path, int kind) {
  try {
    if (path.empty()) return kUnreadableTime;
    FileSystem& fs = router.For(path);
    switch (kind) {
      case 0:
        return fs.CreationTime(path);
      case 1:
        return fs.LastAccessTime(path);
      case 2:
        return fs.LastWriteTime(path);
      default:
        return kUnreadableTime;
    }
  } catch (...) {
    return kUnreadableTime;
  }
}

bool FileExists(const FileSystemRouter& router, const std::string& path) {
  try {
    return !path.empty() && router.For(path).IsFile(path);
  } catch (...) {
    return false;
  }
}

bool FolderExists(const FileSystemRouter& router, const std::string& path) {
  try {
    return !path.empty() && router.For(path).IsFolder(path);
  } catch (...) {
    return false;
  }
}

bool ForceDeleteFile(const FileSystemRouter& router, const std::string& path) {
  try {
    if (!FileExists(router, path)) return false;
    return router.For(path).DeleteFile(path);
  } catch (...) {
    return false;
  }
}

bool IsFolderWritable(const FileSystemRouter& router, const std::string& folder) {
  try {
    const std::string trimmed = Trim(folder);
    if (trimmed.empty()) return false;
    FileSystem& fs = router.For(trimmed);
    if (!fs.IsFolder(trimmed)) return false;
    const std::string testFolder = JoinPath(trimmed, kWritableTestFolderName);
    if (fs.IsFolder(testFolder)) {
      RemoveFolderWithContents(fs, testFolder);
      if (fs.IsFolder(testFolder)) return false;
    }
    // The parent exists, so making the one missing level is making them all.
    if (!fs.MakeFolder(testFolder)) return false;
    RemoveFolderWithContents(fs, testFolder);
    return true;
  } catch (...) {
    return false;
  }
}

bool CopyFileOver(const FileSystemRouter& router, const std::string& source,
                  const std::string& target) {
  try {
    const std::string from = Trim(source);
    const std::string to = Trim(target);
    // The copy streams from the local disk; a share is only ever a target.
    if (from.empty() || to.empty() || IsSharePath(from) || !FileExists(router, from)) return false;
    FileSystem& fs = router.For(to);
    if (fs.IsFile(to)) fs.SetReadOnly(to, false);
    return fs.CopyFromLocal(from, to, true, {}).ok;
  } catch (...) {
    return false;
  }
}

std::string FileNameIfExists(const FileSystemRouter& router, const std::string& path) {
  try {
    const std::string trimmed = Trim(path);
    return FileExists(router, trimmed) ? BaseName(trimmed) : std::string();
  } catch (...) {
    return std::string();
  }
}

// The local forms: the same code with the local disk and no share.

namespace {
template <typename F>
auto WithLocal(F&& f) {
  LocalFileSystem local;
  const FileSystemRouter router(local, nullptr);
  return f(router);
}
}  // namespace

DateTime GetFileDate(const std::string& path, int kind) {
  return WithLocal([&](const FileSystemRouter& r) { return GetFileDate(r, path, kind); });
}
bool ForceDeleteFile(const std::string& path) {
  return WithLocal([&](const FileSystemRouter& r) { return ForceDeleteFile(r, path); });
}
bool IsFolderWritable(const std::string& folder) {
  return WithLocal([&](const FileSystemRouter& r) { return IsFolderWritable(r, folder); });
}
bool CopyFileOver(const std::string& source, const std::string& target) {
  return WithLocal([&](const FileSystemRouter& r) { return CopyFileOver(r, source, target); });
}
std::string FileNameIfExists(const std::string& path) {
  return WithLocal([&](const FileSystemRouter& r) { return FileNameIfExists(r, path); });
}
bool FileExists(const std::string& path) {
  return WithLocal([&](const FileSystemRouter& r) { return FileExists(r, path); });
}
bool FolderExists(const std::string& path) {
  return WithLocal([&](const FileSystemRouter& r) { return FolderExists(r, path); });
}

}  // namespace veltora
