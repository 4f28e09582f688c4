#include "settings/sqlite_backup_records.h"

#include <utility>

namespace veltora {

SqliteBackupRecords::SqliteBackupRecords(std::string appFolder, std::shared_ptr<const Clock> clock,
                                         std::chrono::milliseconds busyTimeout)
    : appFolder_(std::move(appFolder)), clock_(std::move(clock)), busyTimeout_(busyTimeout) {}

void SqliteBackupRecords::Open() {
  if (!db_) db_.emplace(appFolder_, clock_, busyTimeout_);
}

void SqliteBackupRecords::Close() noexcept { db_.reset(); }

SettingsDatabase& SqliteBackupRecords::Db() {
  Open();
  return *db_;
}

void SqliteBackupRecords::InsertFolderFailure(std::string_view reason, std::string_view remark) {
  Db().InsertFolderFailure(reason, remark);
}

void SqliteBackupRecords::InsertLocalResult(std::string_view account, std::string_view localFile,
                                            std::string_view password, bool succeeded) {
  Db().InsertLocalResult(account, localFile, password, succeeded);
}

void SqliteBackupRecords::InsertRemoteCopy(std::string_view account, std::string_view remoteFile,
                                           std::string_view password) {
  Db().InsertRemoteCopy(account, remoteFile, password);
}

void SqliteBackupRecords::InsertRemoteFailure(std::string_view remoteFolder) {
  Db().InsertRemoteFailure(remoteFolder);
}

void SqliteBackupRecords::RecordOwnArchive(ArchiveSide side, std::string_view folder,
                                           std::string_view fileName, std::string_view stamp) {
  Db().RecordOwnArchive(SideKey(side), folder, fileName, stamp);
}

void SqliteBackupRecords::ForgetOwnArchive(ArchiveSide side, std::string_view folder,
                                           std::string_view fileName) {
  Db().ForgetOwnArchive(SideKey(side), folder, fileName);
}

OwnArchives SqliteBackupRecords::ListOwnArchives(ArchiveSide side, std::string_view folder) {
  OwnArchives own;
  for (auto& name : Db().ListOwnArchives(SideKey(side), folder)) own.files.insert(std::move(name));
  for (auto& name : Db().ListBackupNamesIn(folder)) own.earlier.insert(std::move(name));
  return own;
}

void SqliteBackupRecords::RecordDigests(ArchiveSide side, std::string_view folder,
                                        std::string_view fileName, std::string_view stamp,
                                        const BackupDigests& digests) {
  BackupDigestRow row;
  row.side = SideKey(side);
  row.folder = folder;
  row.fileName = fileName;
  row.stamp = stamp;
  row.contentName = digests.contentName;
  row.contentSha256 = digests.contentSha256;
  row.contentBytes = static_cast<std::int64_t>(digests.contentBytes);
  row.archiveSha256 = digests.archiveSha256;
  row.archiveBytes = static_cast<std::int64_t>(digests.archiveBytes);
  Db().RecordBackupDigests(row);
}

void SqliteBackupRecords::MakeSpareCopy() noexcept {
  try {
    Db().MakeSpareCopy();
  } catch (const std::exception&) {
    // A missing spare copy costs nothing today; the next run tries again.
  }
}

SqliteBackupRecordsFactory::SqliteBackupRecordsFactory(std::string appFolder,
                                                       std::shared_ptr<const Clock> clock,
                                                       std::chrono::milliseconds busyTimeout)
    : appFolder_(std::move(appFolder)), clock_(std::move(clock)), busyTimeout_(busyTimeout) {}

std::unique_ptr<BackupRecords> SqliteBackupRecordsFactory::Create() const {
  return std::make_unique<SqliteBackupRecords>(appFolder_, clock_, busyTimeout_);
}

}  // namespace veltora
