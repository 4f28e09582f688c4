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

std::vector<std::string> CopiedNames::Names() const {
  std::vector<std::string> names;
  for (std::size_t start = 1; start < text.size();) {
    const std::size_t end = text.find('|', start);
    if (end == std::string::npos) break;
    names.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

namespace {

// How often one file is renamed for a name taken on the share before its
// copy gives up: each rename takes the next free second, so more would mean
// another agent keeps taking them.
constexpr int kRenameAttempts = 5;

}  // namespace

CopiedNames CopyToShare(const FileSystemRouter& fs, ShareConnector& share, LineLog& log,
                        const std::string& user, const std::string& password,
                        const std::string& localArg, const std::string& remoteArg,
                        const std::string& maskArg, const NamedCopyProgress& progress,
                        const NameTaken& taken) {
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
    for (const auto& listed : paths) {
      std::string path = listed;
      std::string name = NameInFolder(path);
      if (name.empty() || !FileExists(fs, path)) continue;  // gone meanwhile
      const auto failedLine = [&] {
        return m::kCopyFailedPrefix + path + m::kCopyTo + remote + m::kCopySuffix +
               m::kFailureReason;
      };
      // A name the share cannot hold would be cut into folders or refused:
      // never sent, and said so.
      if (!ShareCanHoldName(name)) {
        log.Append(failedLine() + m::kNameNotForShare);
        continue;
      }
      std::string lastError;  // of a copy whose name was taken while it ran
      for (int attempt = 0;; ++attempt) {
        const std::string destination = remote + name;
        if (FileExists(fs, destination)) {  // never overwritten
          const std::string renamed =
              taken && attempt < kRenameAttempts ? taken(name) : std::string();
          if (renamed.empty()) {
            if (!lastError.empty()) log.Append(failedLine() + lastError);
            break;
          }
          name = renamed;
          path = local + name;
          continue;
        }
        CopyProgress fileProgress;
        if (progress)
          fileProgress = [&progress, &name](CopyPass pass, std::uint64_t done,
                                            std::uint64_t total) {
            progress(name, pass, done, total);
          };
        const FileOutcome outcome = target.CopyFromLocal(path, destination, false, fileProgress);
        if (outcome.ok) {
          building += name + "|";
          log.Append(m::kCopyOkPrefix + path + m::kCopyTo + remote + m::kCopySuffix);
        } else if (taken && FileExists(fs, destination)) {
          lastError = outcome.error;  // taken meanwhile: another name is asked for
          continue;
        } else {
          log.Append(failedLine() + outcome.error);
        }
        break;
      }
    }
    return {building};
  } catch (const std::exception&) {
    log.Append(m::kCopyUnknownError);
    return {building};
  }
}

}  // namespace veltora
