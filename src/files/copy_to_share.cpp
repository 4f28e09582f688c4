#include "files/copy_to_share.h"

#include <exception>
#include <string_view>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "files/folder_listing.h"
#include "files/messages.h"

namespace veltora {

namespace m = files_msg;

bool ShareCanHoldName(const std::string& name) {
  if (name.empty() || name.size() > kMaxShareNameBytes) return false;
  if (name.back() == '.' || name.back() == ' ') return false;  // Windows drops them
  for (const unsigned char c : name)
    if (c < 0x20 ||
        std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  return true;
}

bool CopiedNames::Contains(const std::string& name) const {
  return !name.empty() && text.find("|" + name + "|") != std::string::npos;
}

CopiedNames CopyToShare(const FileSystemRouter& fs, ShareConnector& share, LineLog& log,
                        const std::string& user, const std::string& password,
                        const std::string& localArg, const std::string& remoteArg,
                        const std::string& maskArg, const NamedCopyProgress& progress) {
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
      const std::string name = NameInFolder(path);
      if (name.empty() || !FileExists(fs, path)) continue;  // gone meanwhile
      const std::string destination = remote + name;
      const std::string failedLine =
          m::kCopyFailedPrefix + path + m::kCopyTo + remote + m::kCopySuffix + m::kFailureReason;
      // A name the share cannot hold would be cut into folders or refused:
      // never sent, and said so.
      if (!ShareCanHoldName(name)) {
        log.Append(failedLine + m::kNameNotForShare);
        continue;
      }
      if (FileExists(fs, destination)) continue;  // never overwritten
      CopyProgress fileProgress;
      if (progress)
        fileProgress = [&progress, &name](CopyPass pass, std::uint64_t done, std::uint64_t total) {
          progress(name, pass, done, total);
        };
      const FileOutcome outcome = target.CopyFromLocal(path, destination, false, fileProgress);
      if (outcome.ok) {
        building += name + "|";
        log.Append(m::kCopyOkPrefix + path + m::kCopyTo + remote + m::kCopySuffix);
      } else {
        log.Append(failedLine + outcome.error);
      }
    }
    return {building};
  } catch (const std::exception&) {
    log.Append(m::kCopyUnknownError);
    return {building};
  }
}

}  // namespace veltora
