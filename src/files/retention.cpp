#include "files/retention.h"

#include <algorithm>
#include <exception>
#include <string>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "files/messages.h"

namespace veltora {

namespace m = files_msg;

namespace {

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}
}  // namespace

bool BackupSeries::Matches(const std::string& name) const {
  if (name.size() != baseName.size() + kBackupStampLength + extension.size()) return false;
  if (name.compare(0, baseName.size(), baseName) != 0) return false;
  if (!AllDigits(std::string_view(name).substr(baseName.size(), kBackupStampLength))) return false;
  return EqualsIgnoreAsciiCase(std::string_view(name).substr(baseName.size() + kBackupStampLength),
                               extension);
}

std::string BackupSeries::Mask() const {
  return baseName + std::string(kBackupStampLength, '?') + extension;
}

bool SortByDate(std::vector<BackupFileEntry>& files, bool ascending) {
  if (files.empty()) return false;
  std::stable_sort(files.begin(), files.end(),
                   [](const BackupFileEntry& a, const BackupFileEntry& b) {
                     return a.stamp != b.stamp ? a.stamp < b.stamp : a.created < b.created;
                   });
  if (!ascending) std::reverse(files.begin(), files.end());
  return true;
}

bool ListFilesByDate(const FileSystemRouter& router, std::vector<BackupFileEntry>& files,
                     const std::string& folder, const BackupSeries& series, bool ascending) {
  files.clear();
  std::vector<FolderEntry> entries;
  if (!router.For(folder).ReadFolder(WithoutTrailingSeparators(folder), entries)) return false;
  // The file system's order is arbitrary; names put equal keys in a fixed one.
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  for (const FolderEntry& e : entries) {
    if (e.isFolder || e.isLink || !series.Matches(e.name)) continue;
    files.push_back({JoinPath(folder, e.name),
                     e.name.substr(series.baseName.size(), kBackupStampLength), e.created});
  }
  if (!files.empty()) SortByDate(files, ascending);
  return true;
}

namespace {

// The lines of one side.
struct SideTexts {
  const char* listFailed;
  const char* deleting;
  const char* sideFolder;  // the side's name before a folder or file
};

constexpr SideTexts kLocalTexts{m::kListLocalFailedPrefix, m::kDeleteLocalPrefix,
                                m::kLocalSidePrefix};
constexpr SideTexts kRemoteTexts{m::kListRemoteFailedPrefix, m::kDeleteRemotePrefix,
                                 m::kRemoteSidePrefix};

// Deletes the oldest files so that `keep` remain; the list is sorted oldest
// first. Stops at the first failure, whose line carries the reason.
bool DeleteOldest(const RetentionContext& ctx, const std::vector<BackupFileEntry>& files,
                  std::size_t keep, const char* linePrefix, const PruneRules& rules) {
  const std::size_t surplus = files.size() > keep ? files.size() - keep : 0;
  for (std::size_t i = 0; i < surplus; ++i) {
    const std::string& path = files[i].path;
    const FileOutcome deleted = ForceDeleteFile(ctx.fs, path);
    if (deleted) {
      ctx.log.Append(std::string(linePrefix) + path + m::kDeleteOk);
      if (rules.deleted) rules.deleted(NameInFolder(path));
    } else {
      ctx.log.Append(std::string(linePrefix) + path + m::kDeleteFailed + m::kFailureReason +
                     deleted.error);
      return false;
    }
  }
  return true;
}

// Lists one side and prunes its own files; false (with the line) when the
// listing fails. This run's verified backups take their places among the kept
// first, so no later stamp can push them out.
bool PruneSide(const RetentionContext& ctx, const std::string& folder, const BackupSeries& series,
               int keep, const SideTexts& texts, const PruneRules& rules) {
  std::vector<BackupFileEntry> files;
  if (!ListFilesByDate(ctx.fs, files, folder, series, true)) {
    ctx.log.Append(std::string(texts.listFailed) + folder + m::kListFailedMiddle + series.Mask() +
                   m::kListFailedSuffix);
    return false;
  }
  std::vector<BackupFileEntry> candidates;
  std::size_t verified = 0;
  std::size_t foreign = 0;
  for (const BackupFileEntry& f : files) {
    const std::string name = NameInFolder(f.path);
    if (rules.verified.count(name) != 0) {
      ++verified;
    } else if (!rules.nowStamp.empty() && f.stamp > rules.nowStamp) {
      ctx.log.Append(std::string(texts.sideFolder) + m::kFutureFile + f.path + m::kFutureSuffix);
    } else if (!rules.isOwn || !rules.isOwn(name)) {
      ++foreign;
    } else {
      candidates.push_back(f);
    }
  }
  if (foreign > 0)
    ctx.log.Append(std::string(texts.sideFolder) + folder + m::kForeignMiddle +
                   std::to_string(foreign) + m::kForeignCount + series.Mask() + m::kForeignSuffix);
  const std::size_t kept = static_cast<std::size_t>(keep);
  const std::size_t room = kept > verified ? kept - verified : 0;
  return DeleteOldest(ctx, candidates, room, texts.deleting, rules);
}

}  // namespace

bool PruneLocal(const RetentionContext& ctx, const std::string& folderArg,
                const BackupSeries& series, int keep, const PruneRules& rules) {
  try {
    std::string folder = Trim(folderArg);
    if (!FolderExists(ctx.fs, folder)) {
      ctx.log.Append(m::kPruneLocalMissing);
      return false;
    }
    folder = WithTrailingSeparator(folder);
    if (!IsFolderWritable(ctx.fs, folder)) {
      ctx.log.Append(m::kPruneLocalNotWritable);
      return false;
    }
    if (keep < 1) return false;
    return PruneSide(ctx, folder, series, keep, kLocalTexts, rules);
  } catch (const std::exception&) {
    ctx.log.Append(m::kPruneError);
    return false;
  }
}

bool PruneLocalAndRemote(const RetentionContext& ctx, const std::string& user,
                         const std::string& password, const std::string& localArg,
                         const std::string& remoteArg, const BackupSeries& series, int keep,
                         PruneSides sides, const PruneRules& localRules,
                         const PruneRules& remoteRules) {
  try {
    std::string local = Trim(localArg);
    std::string remote = Trim(remoteArg);
    if (user.empty() || local.empty() || remote.empty() || !FolderExists(ctx.fs, local) ||
        keep < 1) {
      ctx.log.Append(m::kPruneBadArguments);
      return false;
    }
    if (sides.remote) {
      if (IsSharePath(remote) && !ConnectShare(ctx.share, ctx.log, remote, user, password)) {
        ctx.log.Append(m::kPruneCannotConnect);
        return false;
      }
      if (!FolderExists(ctx.fs, remote)) {
        ctx.log.Append(m::kPruneRemoteMissing);
        return false;
      }
      remote = WithTrailingSeparator(remote);
      if (!IsFolderWritable(ctx.fs, remote)) {
        ctx.log.Append(m::kPruneRemoteNotWritable);
        return false;
      }
      if (!PruneSide(ctx, remote, series, keep, kRemoteTexts, remoteRules)) return false;
    }
    if (sides.local)
      return PruneSide(ctx, WithTrailingSeparator(local), series, keep, kLocalTexts, localRules);
    return true;
  } catch (const std::exception&) {
    ctx.log.Append(m::kPruneError);
    return false;
  }
}

}  // namespace veltora
