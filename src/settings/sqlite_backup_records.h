// The backup job's records kept in the settings database. One object is one
// connection, for the thread that created it. Like every settings connection
// it waits busyTimeout for another connection's lock; an insert that still
// cannot be written throws std::runtime_error with SQLite's text ("database is
// locked"), as does every other failure to open or write.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "engine/backup_records.h"
#include "settings/settings_database.h"

namespace veltora {

class SqliteBackupRecords final : public BackupRecords {
 public:
  // Nothing is opened until Open() or the first record.
  explicit SqliteBackupRecords(std::string appFolder, std::shared_ptr<const Clock> clock = nullptr,
                               std::chrono::milliseconds busyTimeout = kSettingsBusyTimeout);

  void Open() override;
  void Close() noexcept override;
  bool IsOpen() const { return db_.has_value(); }

  // Each insert opens the connection first when it is not open yet.
  void InsertFolderFailure(std::string_view reason, std::string_view remark) override;
  void InsertLocalResult(std::string_view account, std::string_view localFile,
                         std::string_view password, bool succeeded) override;
  void InsertRemoteCopy(std::string_view account, std::string_view remoteFile,
                        std::string_view password) override;
  void InsertRemoteFailure(std::string_view remoteFolder) override;
  void RecordOwnArchive(ArchiveSide side, std::string_view folder, std::string_view fileName,
                        std::string_view stamp) override;
  void ForgetOwnArchive(ArchiveSide side, std::string_view folder,
                        std::string_view fileName) override;
  // The recorded names, and the earlier backups the backup table names there.
  OwnArchives ListOwnArchives(ArchiveSide side, std::string_view folder) override;
  void RecordDigests(ArchiveSide side, std::string_view folder, std::string_view fileName,
                     std::string_view stamp, const BackupDigests& digests) override;
  void MakeSpareCopy() noexcept override;

 private:
  SettingsDatabase& Db();

  std::string appFolder_;
  std::shared_ptr<const Clock> clock_;
  std::chrono::milliseconds busyTimeout_;
  std::optional<SettingsDatabase> db_;
};

class SqliteBackupRecordsFactory final : public BackupRecordsFactory {
 public:
  explicit SqliteBackupRecordsFactory(std::string appFolder,
                                      std::shared_ptr<const Clock> clock = nullptr,
                                      std::chrono::milliseconds busyTimeout = kSettingsBusyTimeout);
  std::unique_ptr<BackupRecords> Create() const override;

 private:
  std::string appFolder_;
  std::shared_ptr<const Clock> clock_;
  std::chrono::milliseconds busyTimeout_;
};

}  // namespace veltora
