// What the backup job writes into the backup table and the settings file. The
// settings database implements it; the engine sees only this. One object per
// thread (its own connection). Methods that can fail throw std::runtime_error
// with the database driver's message text.
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veltora {

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
