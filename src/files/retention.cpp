#include "files/retention.h"

#include <algorithm>
#include <exception>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "files/folder_listing.h"
#include "files/retention_messages.h"

namespace veltora {

namespace m = files_msg;

bool SortByDate(std::vector<ybhzf>& files, bool ascending) {
  if (files.empty()) return false;
  std::stable_sort(files.begin(), files.end(),
                   [](const ybhzf& a, const ybhzf& b) { return a.created < b.created; });
  if (!ascending) std::reverse(files.begin(), files.end());
  return true;
}

bool ListFilesByDate(const FileSystemRouter& fs, std::vector<ybhzf>& files,
                     const std::string& folder, const std::string& mask, bool recurse,
                     bool ascending) {
  std::vector<ListedFile> listed;
  if (!ListFilesWithDates(fs, folder, mask, recurse, listed) || listed.empty()) return false;
  files.clear();
  files.reserve(listed.size());
  for (auto& f : listed) files.push_back({std::move(f.path), f.created});
  return SortByDate(files, ascending);
}

std::string BackupMaskFor(const std::string& baseName, const std::string& extension) {
  return baseName + std::string(14, '?') + extension;
}

namespace {

// Deletes the oldest files so that `keep` remain; the list is sorted oldest
// first. Stops at the first failure.
bool DeleteOldest(const RetentionContext& ctx, const std::vector<ybhzf>& files, int keep,
                  const char* linePrefix) {
  const std::size_t surplus = files.size() > static_cast<std::size_t>(keep)
                                  ? files.size() - static_cast<std::size_t>(keep)
                                  : 0;
  for (std::size_t i = 0; i < surplus; ++i) {
    const std::string& path = files[i].path;
    if (ForceDeleteFile(ctx.fs, path)) {
      ctx.log.Append(std::string(linePrefix) + path + m::kDeleteOk);
    } else {
      ctx.log.Append(std::string(linePrefix) + path + m::kDeleteFailed);
      return false;
    }
  }
  return true;
}

// Lists one side; an empty side is no failure. False (with the line) when the
// listing fails although the count found files.
bool ListSide(const RetentionContext& ctx, std::vector<ybhzf>& files, const std::string& folder,
              const std::string& mask, bool recurse, const char* failPrefix) {
  files.clear();
  if (CountFiles(ctx.fs, folder, mask, recurse) == 0) return true;
  if (ListFilesByDate(ctx.fs, files, folder, mask, recurse, true)) return true;
  ctx.log.Append(std::string(failPrefix) + folder + m::kListFailedMiddle + mask +
                 m::kListFailedSuffix);
  return false;
}

}  // namespace

bool PruneLocal(const RetentionContext& ctx, const std::string& folderArg,
                const std::string& maskArg, int keep, bool recurse) {
  try {
    std::string folder = Trim(folderArg);
    const std::string mask = Trim(maskArg);
    if (!FolderExists(ctx.fs, folder)) {
      ctx.log.Append(m::kPruneLocalMissing);
      return false;
    }
    folder = WithTrailingSeparator(folder);
    if (!IsFolderWritable(ctx.fs, folder)) {
      ctx.log.Append(m::kPruneLocalNotWritable);
      return false;
    }
    if (keep < 1) return CountFiles(ctx.fs, folder, mask, recurse) == 0;
    std::vector<ybhzf> files;
    if (!ListSide(ctx, files, folder, mask, recurse, m::kListLocalFailedPrefix)) return false;
    return DeleteOldest(ctx, files, keep, m::kDeleteLocalPrefix);
  } catch (const std::exception&) {
    ctx.log.Append(m::kPruneError);
    return false;
  }
}

bool PruneLocalAndRemote(const RetentionContext& ctx, const std::string& user,
                         const std::string& password, const std::string& localArg,
                         const std::string& remoteArg, const std::string& maskArg, int keep,
                         bool recurse) {
  try {
    std::string local = Trim(localArg);
    std::string remote = Trim(remoteArg);
    const std::string mask = Trim(maskArg);
    if (user.empty() || local.empty() || remote.empty() || !FolderExists(ctx.fs, local) ||
        keep < 1) {
      ctx.log.Append(m::kPruneBadArguments);
      return false;
    }
    if (IsSharePath(remote) && !ConnectShare(ctx.share, ctx.log, remote, user, password)) {
      ctx.log.Append(m::kPruneCannotConnect);
      return false;
    }
    if (!FolderExists(ctx.fs, remote)) {
      ctx.log.Append(m::kPruneRemoteMissing);
      return false;
    }
    local = WithTrailingSeparator(local);
    remote = WithTrailingSeparator(remote);
    if (!IsFolderWritable(ctx.fs, remote)) {
      ctx.log.Append(m::kPruneRemoteNotWritable);
      return false;
    }
    std::vector<ybhzf> localFiles;
    std::vector<ybhzf> remoteFiles;
    if (!ListSide(ctx, localFiles, local, mask, recurse, m::kListLocalFailedPrefix) ||
        !ListSide(ctx, remoteFiles, remote, mask, recurse, m::kListRemoteFailedPrefix))
      return false;
    // The share first: the copy that follows brings it back up to `keep`.
    return DeleteOldest(ctx, remoteFiles, keep - 1, m::kDeleteRemotePrefix) &&
           DeleteOldest(ctx, localFiles, keep, m::kDeleteLocalPrefix);
  } catch (const std::exception&) {
    ctx.log.Append(m::kPruneError);
    return false;
  }
}

}  // namespace veltora
