#include "ui/restore.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "base/fs_path.h"
#include "base/path.h"
#include "base/text.h"
#include "engine/backup_extraction.h"
#include "engine/backup_job.h"
#include "files/file_ops.h"
#include "files/share_connection.h"
#include "ui/messages.h"

namespace veltora {
namespace {

namespace msg = ui_msg;

constexpr char kControlCharacters[] =
    "\x01\x02\x03\x04\x05\x06\x07\x08\t\n\x0b\x0c\r\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17"
    "\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f";

// The settings a restore works from: the list and the folders the job uses,
// spelled as the job spells them.
struct RestoreSettings {
  BaksetRow row;
  std::vector<AccountListRow> accounts;
  std::string localFolder;
  std::string shareFolder;  // empty when remote backup is off
};

RestoreSettings LoadRestoreSettings(const RestoreServices& s) {
  std::unique_ptr<SettingsDatabase> db;
  RestoreSettings out;
  try {
    db = s.openSettings();
    out.row = db->LoadSettings();
    out.accounts = db->LoadAccountList();
  } catch (const std::exception& e) {
    throw std::runtime_error(msg::kRestoreSettingsUnreadable + std::string(e.what()));
  }
  if (!Trim(out.row.localDir).empty()) out.localFolder = WithTrailingSeparator(out.row.localDir);
  if (out.row.remotebak && !Trim(out.row.remoteDir).empty())
    out.shareFolder = WithTrailingSeparator(out.row.remoteDir);
  return out;
}

// The backup names' stem of an account set: the file's name without its
// extension, or the SQL account set's name.
std::string SeriesOf(int edition, const AccountListRow& account) {
  return IsSqlEdition(edition) ? account.accountname : StemOf(account.accountname);
}

bool Names(int edition, const AccountListRow& account, const std::string& name) {
  const std::string n = Trim(name);
  return EqualsIgnoreAsciiCase(n, account.accountname) ||
         EqualsIgnoreAsciiCase(n, SeriesOf(edition, account)) ||
         (IsSqlEdition(edition) && EqualsIgnoreAsciiCase(n, account.dbname));
}

// The stamp of an archive name of the series ("ACME20261210230000.7z"), or
// nothing when the name is not one of its backups.
std::optional<std::string> StampIn(const std::string& fileName, const std::string& series,
                                   bool withExtension) {
  const std::size_t dot = fileName.rfind('.');
  const std::string stem =
      withExtension && dot != std::string::npos ? fileName.substr(0, dot) : fileName;
  if (stem.size() != series.size() + kBackupStampLength ||
      !EqualsIgnoreAsciiCase(stem.substr(0, series.size()), series))
    return std::nullopt;
  const std::string stamp = stem.substr(series.size());
  if (!std::all_of(stamp.begin(), stamp.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  return stamp;
}

// A line for the user; an empty log hears nothing.
void Say(LineLog& log, const std::string& line) { log.Append(line); }

// Opens the share with the stored account when the share folder is one;
// the problem when it cannot be reached.
std::string ReachShare(RunFileSystems& files, const RestoreSettings& settings, LineLog& log) {
  if (settings.shareFolder.empty()) return {};
  if (IsSharePath(settings.shareFolder) &&
      !ConnectShare(files.Share(), log, settings.shareFolder, settings.row.remoteuser,
                    settings.row.remotepwd))
    return msg::kRestoreShareUnreachable + settings.shareFolder;
  if (!FolderExists(files.Router(), Trim(settings.shareFolder)))
    return msg::kRestoreShareMissing + settings.shareFolder;
  return {};
}

RestoreCatalogue BuildCatalogue(const RestoreServices& s, const RestoreSettings& settings,
                                const std::string& accountSet, RunFileSystems& files,
                                LineLog& log) {
  RestoreCatalogue catalogue;
  catalogue.edition = settings.row.softvernum;
  const int edition = catalogue.edition;
  std::vector<const AccountListRow*> chosen;
  for (const auto& account : settings.accounts)
    if (Trim(accountSet).empty() || Names(edition, account, accountSet)) chosen.push_back(&account);
  if (chosen.empty()) throw std::runtime_error(msg::kRestoreNoSuchSet + accountSet);

  catalogue.shareProblem = ReachShare(files, settings, log);
  const bool shareOpen = !settings.shareFolder.empty() && catalogue.shareProblem.empty();

  std::vector<std::string> localOwn, shareOwn, earlierLocal, earlierShare;
  std::vector<BackupDigestRow> digests;
  std::vector<BaklogRow> rows;
  try {
    auto db = s.openSettings();
    if (!settings.localFolder.empty()) {
      localOwn = db->ListOwnArchives(kLocalSideKey, settings.localFolder);
      earlierLocal = db->ListBackupNamesIn(settings.localFolder);
    }
    if (shareOpen) {
      shareOwn = db->ListOwnArchives(kShareSideKey, settings.shareFolder);
      earlierShare = db->ListBackupNamesIn(settings.shareFolder);
    }
    digests = db->ListBackupDigests();
    rows = db->ListBackupLog();
  } catch (const std::exception& e) {
    throw std::runtime_error(msg::kRestoreSettingsUnreadable + std::string(e.what()));
  }
  const FileSystemRouter& fs = files.Router();
  static const char* const kExtensions[] = {".7z", ".rar", ".bak"};

  for (const AccountListRow* account : chosen) {
    catalogue.accountSets.push_back(account->accountname);
    const std::string series = SeriesOf(edition, *account);
    std::map<std::string, RestorableBackup, std::greater<>> found;  // by stamp, newest first
    auto entry = [&](const std::string& stamp) -> RestorableBackup& {
      RestorableBackup& b = found[stamp];
      b.accountSet = account->accountname;
      b.database = account->dbname;
      b.stamp = stamp;
      return b;
    };
    auto look = [&](const std::string& folder, const std::string& fileName, bool local) {
      const auto stamp = StampIn(fileName, series, true);
      if (!stamp) return;
      const std::string path = folder + fileName;
      if (!FileExists(fs, path)) return;
      RestorableBackup& b = entry(*stamp);
      if (!b.fileName.empty() && b.fileName != fileName) return;  // one archive per stamp
      b.fileName = fileName;
      (local ? b.localPath : b.sharePath) = path;
      if (local) b.bytes = FileSizeOf(path);
    };
    // Earlier backups are named without their extension: whichever archive
    // of the name is there.
    auto lookEarlier = [&](const std::string& folder, const std::string& stem, bool local) {
      if (!StampIn(stem, series, false)) return;
      for (const char* extension : kExtensions) look(folder, stem + extension, local);
    };
    for (const auto& name : localOwn) look(settings.localFolder, name, true);
    for (const auto& name : earlierLocal) lookEarlier(settings.localFolder, name, true);
    for (const auto& name : shareOwn) look(settings.shareFolder, name, false);
    for (const auto& name : earlierShare) lookEarlier(settings.shareFolder, name, false);

    for (auto& [stamp, b] : found) {
      for (const auto& d : digests) {
        const bool here = (d.side == kLocalSideKey && d.folder == settings.localFolder) ||
                          (d.side == kShareSideKey && d.folder == settings.shareFolder);
        if (!here || d.fileName != b.fileName) continue;
        b.digests = BackupDigests{d.contentName, d.contentSha256,
                                  static_cast<std::uint64_t>(d.contentBytes), d.archiveSha256,
                                  static_cast<std::uint64_t>(d.archiveBytes)};
        if (b.bytes == 0) b.bytes = b.digests->archiveBytes;
        break;
      }
      // The local result's row: rows come newest first, and a later row of
      // the same name (a leftover archived again) tells the password best.
      const std::string local = settings.localFolder + series + stamp;
      for (const auto& r : rows) {
        if (r.baksuccess != true || !EqualsIgnoreAsciiCase(r.localbakfile, local)) continue;
        b.password = r.rarpwd;
        b.rowId = r.id;
        break;
      }
      catalogue.backups.push_back(std::move(b));
    }
  }
  return catalogue;
}

// A work folder nobody else can enter, removed with what is in it however
// the work ends.
class WorkFolder {
 public:
  WorkFolder(const std::string& parent, const CopyMarker& marker) {
    const std::string path = JoinPath(parent, TemporaryCopyName(marker, "restore"));
    std::string reason;
    if (MakePrivateFolder(path, reason))
      path_ = path;
    else
      reason_ = reason;
  }
  ~WorkFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(PathFromUtf8(path_), ignored);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// The agent's private folder, where work folders that need not lie beside
// their target go; empty when it cannot be had (the work folder then fails).
std::string PrivateFolder(const RestoreServices& s) {
  const std::string folder = JoinPath(s.applicationFolder, kPrivateFolderName);
  std::string reason;
  return MakePrivateFolder(folder, reason) ? folder : std::string();
}

struct Source {
  ArchiveSide side;
  std::string path;
};

std::vector<Source> SourcesOf(const RestorableBackup& b) {
  std::vector<Source> sources;
  if (!b.localPath.empty()) sources.push_back({ArchiveSide::kLocal, b.localPath});
  if (!b.sharePath.empty()) sources.push_back({ArchiveSide::kShare, b.sharePath});
  return sources;
}

const char* SideName(ArchiveSide side) {
  return side == ArchiveSide::kLocal ? msg::kRestoreSideLocal : msg::kRestoreSideShare;
}

// Takes the backup out of one source into `target` and checks it: a share's
// archive is fetched into `work` first. The reason of a failure.
std::optional<std::string> TakeOut(const RestoreServices& s, RunFileSystems& files,
                                   const RestorableBackup& b, const Source& source,
                                   const std::string& password, const std::string& work,
                                   const std::string& target) {
  std::string archive = source.path;
  if (source.side == ArchiveSide::kShare && IsSharePath(source.path)) {
    archive = JoinPath(work, b.fileName);
    StepProgress step(s.progress, ProgressStage::kShareFetch, b.fileName, b.bytes);
    step.Start();
    const FileOutcome fetched = files.Router()
                                    .For(source.path)
                                    .CopyToLocal(source.path, archive, false, step.ForCopyWrites());
    if (!fetched) return msg::kRestoreFetchFailed + fetched.error;
    step.Done();
  }
  const ExtractionOutcome out =
      ExtractBackup(s.archiver, archive, password, target, b.digests, s.progress);
  if (archive != source.path) ForceDeleteFile(archive);
  if (!out) return out.reason;
  return std::nullopt;
}

// Tries the sources in order until one gives a checked backup at `target`.
// Each failure is said with its reason; all of them together are the answer
// when none succeeds.
std::optional<std::string> TakeOutFromAny(const RestoreServices& s, RunFileSystems& files,
                                          const RestorableBackup& b, const std::string& password,
                                          const std::string& work, const std::string& target,
                                          LineLog& log) {
  std::string reasons;
  for (const Source& source : SourcesOf(b)) {
    Say(log, msg::kRestoreTaking + std::string(SideName(source.side)) + msg::kRestoreColon +
                 source.path);
    const auto failed = TakeOut(s, files, b, source, password, work, target);
    if (!failed) {
      if (!b.digests) Say(log, msg::kRestoreNoDigest);
      return std::nullopt;
    }
    Say(log, std::string(SideName(source.side)) + msg::kRestoreSourceFailed + *failed);
    reasons += (reasons.empty() ? "" : "；") + std::string(SideName(source.side)) +
               msg::kRestoreColon + *failed;
  }
  return reasons;
}

const RestorableBackup* Choose(const RestoreCatalogue& catalogue, const std::string& stamp) {
  for (const auto& b : catalogue.backups)
    if (stamp.empty() || b.stamp == stamp) return &b;
  return nullptr;
}

RestoreResult Failed(std::string message) { return {false, std::move(message), {}, {}}; }

std::string PasswordFor(const RestoreRequest& request, const RestorableBackup& b,
                        const RestoreSettings& settings) {
  if (request.password) return *request.password;
  return b.password ? *b.password : settings.row.rarpwd;
}

// A name beside `path` that is free: NAME.before-restore-STAMP, the next
// second while it is taken.
std::string AsideName(const std::string& path, const Clock& clock) {
  auto when = clock.Now();
  for (;;) {
    std::string aside = path + msg::kRestoreAsideSuffix + BackupStamp(ToLocalTime(when));
    if (!FileExists(aside) && !FolderExists(aside)) return aside;
    when += std::chrono::seconds(1);
  }
}

RestoreResult RestoreFile(const RestoreRequest& request, const RestoreServices& s,
                          const RestoreSettings& settings, const RestorableBackup& b,
                          RunFileSystems& files, LineLog& log) {
  const std::string folder = Trim(request.targetFolder);
  if (folder.empty() || IsSharePath(folder) || !FolderExists(folder))
    return Failed(msg::kRestoreTargetNotFolder + request.targetFolder);
  const std::string target = JoinPath(folder, b.accountSet);
  if (FolderExists(target)) return Failed(msg::kRestoreTargetNotFolder + target);
  const bool exists = FileExists(target);
  if (exists && !request.replace) return Failed(msg::kRestoreTargetExists + target);

  WorkFolder work(folder, s.marker);
  if (work.path().empty())
    return Failed(msg::kRestoreTargetNotWritable + folder + msg::kRestoreReason + work.reason());
  const std::string extracted = JoinPath(work.path(), b.accountSet);
  if (const auto failed = TakeOutFromAny(s, files, b, PasswordFor(request, b, settings),
                                         work.path(), extracted, log))
    return Failed(msg::kRestoreAllSourcesFailed + *failed);

  RestoreResult result;
  FileSystem& local = files.Router().local();
  if (exists) {
    result.keptAside = AsideName(target, *s.clock);
    if (const FileOutcome moved = local.Rename(target, result.keptAside); !moved)
      return Failed(msg::kRestoreKeepAsideFailed + target + msg::kRestoreReason + moved.error);
  }
  if (const FileOutcome placed = local.Rename(extracted, target); !placed) {
    // The file that was there goes back under its name.
    if (!result.keptAside.empty()) local.Rename(result.keptAside, target);
    return Failed(msg::kRestorePlaceFailed + target + msg::kRestoreReason + placed.error);
  }
  // Made in the private work folder, the ledger had that folder's access;
  // in its place it takes what the folder gives its files.
  TakeFolderAccess(target);
  result.ok = true;
  result.restoredTo = target;
  result.message = msg::kRestoreFileDone + target;
  return result;
}

// The server, logged in with the stored SQL login to "master" (never to a
// database a restore may replace), and its version. Throws the server's
// error, or the message that there is no server to talk to.
std::unique_ptr<SqlServerConnection> ConnectToMaster(const RestoreServices& s,
                                                     const RestoreSettings& settings,
                                                     std::optional<SqlServerVersion>& version) {
  if (s.sqlServer == nullptr) throw std::runtime_error(msg::kRestoreNoSqlServer);
  auto sql = s.sqlServer->Create(SqlTimeouts{settings.row.conout, settings.row.sqlout});
  sql->Connect(settings.row.sqluser, settings.row.sqlpwd, "master");
  version = AskServerVersion(*sql);
  return sql;
}

RestoreResult RestoreDatabase(const RestoreRequest& request, const RestoreServices& s,
                              const RestoreSettings& settings, const RestorableBackup& b,
                              RunFileSystems& files, LineLog& log) {
  const bool overOwn = Trim(request.asDatabase).empty();
  if (overOwn && !request.replace) return Failed(msg::kRestoreSqlNeedsTarget);
  const std::string database = overOwn ? b.database : Trim(request.asDatabase);
  if (database.find_first_of(kControlCharacters) != std::string::npos)
    return Failed(msg::kRestoreBadDatabaseName + database);
  if (settings.localFolder.empty() || !FolderExists(Trim(settings.localFolder)))
    return Failed(msg::kRestoreNoLocalFolder + settings.row.localDir);
  if (s.sqlServer == nullptr) return Failed(msg::kRestoreNoSqlServer);

  std::unique_ptr<SqlServerConnection> sql;
  std::optional<SqlServerVersion> version;
  try {
    sql = ConnectToMaster(s, settings, version);
    const bool exists = DatabaseExists(*sql, database);
    if (exists && !overOwn) return Failed(msg::kRestoreDatabaseExists + database);
  } catch (const std::exception& e) {
    return Failed(msg::kRestoreSqlFailed + std::string(e.what()));
  }
  WorkFolder work(PrivateFolder(s), s.marker);
  if (work.path().empty()) return Failed(msg::kRestoreWorkFolderFailed + work.reason());
  RestorableBackup chosen = b;
  if (overOwn) {
    // The fresh backup may prune the chosen one (a keep count of 1), so its
    // archive is kept in the work folder first; the share's copy, if it is
    // still there then, stays the second source.
    for (const Source& source : SourcesOf(b)) {
      const std::string kept = JoinPath(work.path(), "kept-" + b.fileName);
      if (files.Router().For(source.path).CopyToLocal(source.path, kept, false, {})) {
        chosen.localPath = kept;
        break;
      }
    }
    // The database as it is now is kept first: a backup of it, made and
    // verified by the job, before anything overwrites it.
    std::string reason;
    Say(log, msg::kRestoreBackingUpFirst + database);
    if (!s.backUpFirst || !s.backUpFirst(b.accountSet, reason))
      return Failed(msg::kRestoreBackupFirstFailed + reason);
  }

  // The server reads the backup where it writes its backups: the local
  // backup folder, under a temporary name that a later run's clean-up knows.
  const std::string bak = settings.localFolder + TemporaryCopyName(s.marker, b.fileName);
  const auto failed =
      TakeOutFromAny(s, files, chosen, PasswordFor(request, b, settings), work.path(), bak, log);
  if (failed) return Failed(msg::kRestoreAllSourcesFailed + *failed);
  RestoreResult result;
  try {
    RestoreDatabaseAs(*sql, bak, database, overOwn, version);
    result = {true, msg::kRestoreDatabaseDone + database, database, {}};
  } catch (const std::exception& e) {
    result = Failed(msg::kRestoreSqlFailed + std::string(e.what()));
  }
  ForceDeleteFile(bak);
  sql->Close();
  return result;
}

}  // namespace

RestoreCatalogue ListRestorableBackups(const RestoreServices& services,
                                       const std::string& accountSet, LineLog& log) {
  const RestoreSettings settings = LoadRestoreSettings(services);
  auto files = services.makeFileSystems();
  return BuildCatalogue(services, settings, accountSet, *files, log);
}

RestoreResult RestoreBackup(const RestoreRequest& request, const RestoreServices& services,
                            LineLog& log) {
  try {
    const RestoreSettings settings = LoadRestoreSettings(services);
    auto files = services.makeFileSystems();
    const RestoreCatalogue catalogue =
        BuildCatalogue(services, settings, request.accountSet, *files, log);
    if (!catalogue.shareProblem.empty()) Say(log, catalogue.shareProblem);
    const RestorableBackup* chosen = Choose(catalogue, request.stamp);
    if (chosen == nullptr)
      return Failed(request.stamp.empty()
                        ? msg::kRestoreNoBackup + request.accountSet
                        : msg::kRestoreNoSuchStamp + request.accountSet + " " + request.stamp);
    Say(log, msg::kRestoreChosen + chosen->fileName);
    return IsSqlEdition(catalogue.edition)
               ? RestoreDatabase(request, services, settings, *chosen, *files, log)
               : RestoreFile(request, services, settings, *chosen, *files, log);
  } catch (const std::exception& e) {
    return Failed(e.what());
  }
}

std::vector<VerifyResult> VerifyBackups(const RestoreServices& services,
                                        const std::string& accountSet, LineLog& log) {
  const RestoreSettings settings = LoadRestoreSettings(services);
  auto files = services.makeFileSystems();
  const RestoreCatalogue catalogue = BuildCatalogue(services, settings, accountSet, *files, log);
  const bool sqlEdition = IsSqlEdition(catalogue.edition);
  std::unique_ptr<SqlServerConnection> sql;
  std::optional<SqlServerVersion> version;

  std::vector<VerifyResult> results;
  for (const std::string& set : catalogue.accountSets) {
    const auto newest =
        std::find_if(catalogue.backups.begin(), catalogue.backups.end(),
                     [&](const RestorableBackup& b) { return b.accountSet == set; });
    if (newest == catalogue.backups.end()) {
      results.push_back({set, ArchiveSide::kLocal, {}, false, msg::kVerifyNoBackup});
      continue;
    }
    const RestorableBackup& b = *newest;
    for (const Source& source : SourcesOf(b)) {
      VerifyResult r{b.accountSet, source.side, b.stamp, false, {}};
      WorkFolder work(PrivateFolder(services), services.marker);
      // A SQL backup is read by the server, so it lies where the server
      // writes its backups; a ledger stays in the private work folder.
      const std::string target =
          sqlEdition ? settings.localFolder + TemporaryCopyName(services.marker, b.fileName)
                     : JoinPath(work.path(), b.fileName + ".bak");
      if (work.path().empty()) {
        r.message = msg::kRestoreWorkFolderFailed + work.reason();
      } else if (const auto failed =
                     TakeOut(services, *files, b, source,
                             b.password ? *b.password : settings.row.rarpwd, work.path(), target)) {
        r.message = *failed;
      } else if (sqlEdition) {
        try {
          if (!sql) sql = ConnectToMaster(services, settings, version);
          VerifyBackupFile(*sql, target, version);
          r.ok = true;
        } catch (const std::exception& e) {
          r.message = msg::kRestoreSqlFailed + std::string(e.what());
        }
      } else {
        r.ok = true;
      }
      if (sqlEdition) ForceDeleteFile(target);
      if (r.ok) r.message = b.digests ? msg::kVerifyPassed : msg::kVerifyPassedNoDigest;
      results.push_back(std::move(r));
    }
  }
  if (sql) sql->Close();
  return results;
}

std::string DefaultRestoredDatabaseName(const std::string& database, const std::string& stamp) {
  return database + "_restored_" + stamp;
}

}  // namespace veltora
