// What the backup job writes into the backup table and the settings file. The
// settings database implements it; the engine sees only this. One object per
// thread (its own connection). Methods that can fail throw std::runtime_error
// with the database driver's message text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace veltora {

// Where an archive lies: the local backup folder or the remote share folder.
enum class ArchiveSide { kLocal, kShare };

// The archives an application folder knows it made in one folder: the only
// ones its retention may count and delete there. A share folder used by
// several agents holds others' archives of a same-named account set too.
struct OwnArchives {
  std::set<std::string> files;  // file names recorded in the own-archive table
  // Names without extension that backup-table rows give under the folder:
  // archives made before the own-archive table existed.
  std::set<std::string> earlier;
  bool Contains(const std::string& fileName) const {
    if (files.count(fileName) != 0) return true;
    const std::size_t dot = fileName.rfind('.');
    return dot != std::string::npos && earlier.count(fileName.substr(0, dot)) != 0;
  }
};

// The digests of one archive: of the backup in it and of the archive file.
struct BackupDigests {
  std::string contentName;  // the backup's file name, without folder
  std::string contentSha256;
  std::uint64_t contentBytes = 0;
  std::string archiveSha256;
  std::uint64_t archiveBytes = 0;
};

class BackupRecords {
 public:
  virtual ~BackupRecords() = default;
  // Opens the connection; harmless when already open.
  virtual void Open() = 0;
  virtual void Close() noexcept = 0;
  // A whole folder failed: baklog(localbakfile, baksuccess=false, bz).
  virtual void InsertFolderFailure(std::string_view reason, std::string_view remark) = 0;
  // One account set's local result: baklog(accountname, localbakfile, rarpwd, baksuccess).
  virtual void InsertLocalResult(std::string_view account, std::string_view localFile,
                                 std::string_view password, bool succeeded) = 0;
  // One backup copied to the share: baklog(accountname, localbakfile, bz='远程备份', rarpwd).
  virtual void InsertRemoteCopy(std::string_view account, std::string_view remoteFile,
                                std::string_view password) = 0;
  // Nothing reached the share: baklog(localbakfile = folder + "远程备份失败", bz).
  virtual void InsertRemoteFailure(std::string_view remoteFolder) = 0;
  // The own-archive table: `folder` with its trailing separator, as the job
  // spells it; `fileName` without folder. Recording a name again replaces its
  // entry.
  virtual void RecordOwnArchive(ArchiveSide side, std::string_view folder,
                                std::string_view fileName, std::string_view stamp) = 0;
  virtual void ForgetOwnArchive(ArchiveSide side, std::string_view folder,
                                std::string_view fileName) = 0;
  virtual OwnArchives ListOwnArchives(ArchiveSide side, std::string_view folder) = 0;
  // The digests of an archive recorded as own, keyed as RecordOwnArchive.
  virtual void RecordDigests(ArchiveSide side, std::string_view folder, std::string_view fileName,
                             std::string_view stamp, const BackupDigests& digests) = 0;
  // Refreshes the spare copy beside the database; failures are ignored.
  virtual void MakeSpareCopy() noexcept = 0;
};

class BackupRecordsFactory {
 public:
  virtual ~BackupRecordsFactory() = default;
  virtual std::unique_ptr<BackupRecords> Create() const = 0;
};

// Writes one row with a connection of its own. A row that cannot be written is
// counted in `rowsLost`, so that the run is not reported as complete; the
// answer is then the database's reason, otherwise nothing.
template <typename Insert>
std::optional<std::string> WriteRow(const BackupRecordsFactory& factory, int& rowsLost,
                                    Insert insert) {
  auto records = factory.Create();
  try {
    records->Open();
    insert(*records);
    records->Close();
    return std::nullopt;
  } catch (const std::exception& e) {
    records->Close();
    ++rowsLost;
    return std::string(e.what());
  }
}

}  // namespace veltora
