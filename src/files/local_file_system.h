// The local disk as a FileSystem. On POSIX, share paths (beginning with two
// backslashes) name nothing here: the router sends them elsewhere. On Windows
// the same object serves UNC paths too, so it is also the router's share side.
//
// Holds nothing but its marker; one object may serve any number of threads.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "files/file_system.h"

namespace veltora {

class LocalFileSystem final : public FileSystem {
 public:
  // `marker` goes into the temporary names of this object's copies; the
  // composition root passes CopyMarker::For(MachineName(), application folder).
  explicit LocalFileSystem(CopyMarker marker = {}) : marker_(std::move(marker)) {}

  const CopyMarker& marker() const override { return marker_; }
  bool IsFile(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  // Reads each entry's birth time and permissions with the entry (statx,
  // following a link as GetFileDate does).
  bool ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) override;
  DateTime CreationTime(const std::string& path) override;
  DateTime LastAccessTime(const std::string& path) override;
  DateTime LastWriteTime(const std::string& path) override;
  FileOutcome MakeFolder(const std::string& path) override;
  FileOutcome RemoveFolder(const std::string& path) override;
  // A symbolic link is removed itself; what it points to is never touched.
  FileOutcome DeleteFile(const std::string& path) override;
  FileOutcome Rename(const std::string& from, const std::string& to) override;
  FileOutcome SetReadOnly(const std::string& path, bool readOnly) override;
  FileOutcome CopyFromLocal(const std::string& localSource, const std::string& target,
                            bool overwrite, const CopyProgress& progress) override;
  // On Windows the source may be a share path (this object serves those
  // there); the target is always a local path.
  FileOutcome CopyToLocal(const std::string& source, const std::string& localTarget, bool overwrite,
                          const CopyProgress& progress) override;

 private:
  const CopyMarker marker_;
};

// Runs `f` with a router that serves the local disk and no share: how the
// path-only forms of the file operations are written once over the router.
template <typename F>
auto WithLocal(F&& f) {
  LocalFileSystem local;
  const FileSystemRouter router(local, nullptr);
  return f(router);
}

}  // namespace veltora
