// The shared file operations, written once over FileSystem so that a local
// folder and a share behave alike. The path-only forms serve the local disk.
#include "files/file_ops.h"

#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "base/fs_path.h"
#include "base/path.h"
#include "base/sha256.h"
#include "base/text.h"
#include "files/file_system.h"
#include "files/local_file_system.h"
#include "files/messages.h"
#include "files/temp_names.h"

namespace veltora {
namespace {

// How many random names the writable-folder test tries after the plain one.
constexpr int kWritableTestAttempts = 8;

// Whether anything (file, folder, link to either) holds the name.
bool Taken(FileSystem& fs, const std::string& path) { return fs.IsFolder(path) || fs.IsFile(path); }

}  // namespace

int RemoveStaleTemporaryFiles(FileSystem& fs, const std::string& folder) {
  try {
    std::vector<FolderEntry> entries;
    if (!fs.ReadFolder(WithoutTrailingSeparators(folder), entries)) return -1;
    int removed = 0;
    for (const FolderEntry& entry : entries) {
      if (entry.isFolder || !IsTemporaryCopyName(entry.name, fs.marker())) continue;
      if (fs.DeleteFile(JoinPath(folder, entry.name))) ++removed;
    }
    return removed;
  } catch (const std::exception&) {
    return -1;
  }
}

DateTime GetFileDate(const FileSystemRouter& router, const std::string& path, FileTime kind) {
  try {
    if (path.empty()) return kUnreadableTime;
    FileSystem& fs = router.For(path);
    switch (kind) {
      case FileTime::kCreation:
        return fs.CreationTime(path);
      case FileTime::kLastAccess:
        return fs.LastAccessTime(path);
      case FileTime::kLastWrite:
        return fs.LastWriteTime(path);
    }
    return kUnreadableTime;
  } catch (const std::exception&) {
    return kUnreadableTime;
  }
}

bool FileExists(const FileSystemRouter& router, const std::string& path) {
  try {
    return !path.empty() && router.For(path).IsFile(path);
  } catch (const std::exception&) {
    return false;
  }
}

bool FolderExists(const FileSystemRouter& router, const std::string& path) {
  try {
    return !path.empty() && router.For(path).IsFolder(path);
  } catch (const std::exception&) {
    return false;
  }
}

FileOutcome ForceDeleteFile(const FileSystemRouter& router, const std::string& path) {
  try {
    if (!FileExists(router, path)) return FileOutcome::Failed(files_msg::kNoSuchFile);
    return router.For(path).DeleteFile(path);
  } catch (const std::exception& e) {
    return FileOutcome::Failed(e.what());
  }
}

bool IsFolderWritable(const FileSystemRouter& router, const std::string& folder) {
  try {
    const std::string trimmed = Trim(folder);
    if (trimmed.empty()) return false;
    FileSystem& fs = router.For(trimmed);
    if (!fs.IsFolder(trimmed)) return false;
    // Making the folder is the claim. The plain name may be taken, or made
    // and removed again by another test between our look and our claim, so a
    // refusal there proves nothing; a refused random name, which nobody else
    // uses, means the folder cannot be written.
    std::string testFolder = JoinPath(trimmed, kWritableTestFolderName);
    for (int attempt = 0; attempt <= kWritableTestAttempts; ++attempt) {
      if (attempt > 0)
        testFolder = JoinPath(trimmed, std::string(kWritableTestFolderName) +
                                           kWritableTestFolderSuffixSeparator + RandomToken(8));
      if (Taken(fs, testFolder)) continue;
      if (fs.MakeFolder(testFolder)) {
        // Ours, and nobody had reason to put anything in it.
        fs.RemoveFolder(testFolder);
        return true;
      }
      if (attempt > 0 && !Taken(fs, testFolder)) return false;
    }
    return false;
  } catch (const std::exception&) {
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
  } catch (const std::exception&) {
    return false;
  }
}

std::string FileNameIfExists(const FileSystemRouter& router, const std::string& path) {
  try {
    const std::string trimmed = Trim(path);
    return FileExists(router, trimmed) ? BaseName(trimmed) : std::string();
  } catch (const std::exception&) {
    return std::string();
  }
}

// The local forms: the same code with the local disk and no share.

DateTime GetFileDate(const std::string& path, FileTime kind) {
  return WithLocal([&](const FileSystemRouter& r) { return GetFileDate(r, path, kind); });
}
bool ForceDeleteFile(const std::string& path) {
  return WithLocal([&](const FileSystemRouter& r) { return ForceDeleteFile(r, path).ok; });
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

namespace veltora {

std::optional<FileDigest> DigestOfLocalFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return std::nullopt;
  Sha256 sha;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    sha.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  const std::uint64_t bytes = sha.BytesSeen();
  return FileDigest{sha.HexDigest(), bytes};
}

}  // namespace veltora
