#include <string>
#include <vector>

#include "base/path.h"
#include "files/file_system.h"

namespace veltora {
namespace {

// Where no share file system is configured: every share path names nothing.
class MissingFileSystem final : public FileSystem {
 public:
  const CopyMarker& marker() const override { return marker_; }
  bool IsFile(const std::string&) override { return false; }
  bool IsFolder(const std::string&) override { return false; }
  bool ReadFolder(const std::string&, std::vector<FolderEntry>&) override { return false; }
  DateTime CreationTime(const std::string&) override { return kUnreadableTime; }
  FileOutcome MakeFolder(const std::string&) override { return Missing(); }
  FileOutcome RemoveFolder(const std::string&) override { return Missing(); }
  FileOutcome DeleteFile(const std::string&) override { return Missing(); }
  FileOutcome Rename(const std::string&, const std::string&) override { return Missing(); }
  FileOutcome CopyFromLocal(const std::string&, const std::string&, bool,
                            const CopyProgress&) override {
    return Missing();
  }
  FileOutcome CopyToLocal(const std::string&, const std::string&, bool,
                          const CopyProgress&) override {
    return Missing();
  }

 private:
  static FileOutcome Missing() { return FileOutcome::Failed(files_msg::kNoShareFileSystem); }

  const CopyMarker marker_;
};

}  // namespace

FileSystem& FileSystemRouter::For(const std::string& path) const {
  // Stateless, so one immutable instance serves every router and thread.
  static MissingFileSystem missing;
  if (!IsSharePath(path)) return local_;
  return share_ != nullptr ? *share_ : missing;
}

}  // namespace veltora
