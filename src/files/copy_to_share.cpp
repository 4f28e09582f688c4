#include "files/copy_to_share.h"

#include <exception>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "files/folder_listing.h"
#include "files/retention_messages.h"

namespace veltora {

namespace m = files_msg;

bool CopiedNames::Contains(const std::string& name) const {
  return !name.empty() && text.find("|" + name + "|") != std::string::npos;
}

CopiedNames CopyToShare(const FileSystemRouter& fs, ShareConnector& share, LineLog& log,
                        const std::string& user, const std::string& password,
                        const std::string& localArg, const std::string& remoteArg,
                        const std::string& maskArg, const CopyProgress& progress) {
  std::string building = "|";
  try {
    std::string local = Trim(localArg);
    std::string remote = Trim(remoteArg);
    const std::string mask = Trim(maskArg);
    if (user.empty() || local.empty() || remote.empty() || !FolderExists(fs, local)) {
      log.Append(m::kCopyBadArguments);
      return {};
    }
    if (IsSharePath(remote) && !ConnectShare(share, log, remote, user, password)) {
      log.Append(m::kCopyCannotConnect);
      return {};
    }
    if (!FolderExists(fs, remote)) {
      log.Append(m::kCopyRemoteMissing);
      return {};
    }
    local = WithTrailingSeparator(local);
    remote = WithTrailingSeparator(remote);
    if (!IsFolderWritable(fs, remote)) {
      log.Append(m::kCopyRemoteNotWritable);
      return {};
    }
    if (CountFiles(fs, local, mask, true) == 0) {
      log.Append(m::kCopyNothingToMove);
      return {};
    }
    std::vector<std::string> paths;
    if (!ListFolderEntries(fs, &paths, local, mask, true, kNoAttributeFilter, false, kFilesOnly)) {
      log.Append(m::kCopyInternalError);
      return {};
    }
    if (paths.empty()) {
      log.Append(m::kCopyNothingToCopy);
      return {};
    }
    FileSystem& target = fs.For(remote);
    RemoveStaleTemporaryFiles(target, remote);
    for (const auto& path : paths) {
      const std::string name = FileNameIfExists(fs, path);
      if (name.empty() || !FileExists(fs, path)) continue;  // gone meanwhile
      const std::string destination = remote + name;
      if (FileExists(fs, destination)) continue;  // never overwritten
      if (target.CopyFromLocal(path, destination, false, progress).ok) {
        building += name + "|";
        log.Append(m::kCopyOkPrefix + path + m::kCopyTo + remote + m::kCopySuffix);
      } else {
        log.Append(m::kCopyFailedPrefix + path + m::kCopyTo + remote + m::kCopySuffix);
      }
    }
    return {building};
  } catch (const std::exception&) {
    log.Append(m::kCopyUnknownError);
    return {building};
  }
}

}  // namespace veltora
