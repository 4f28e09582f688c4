#include "app/backup_configuration.h"

#include <algorithm>
#include <iterator>

#include "accounts/account_sets.h"
#include "app/messages.h"
#include "base/text.h"
#include "files/file_ops.h"

namespace veltora {

int CompressionLevelFromName(const std::string& name) {
  for (std::size_t i = 0; i < std::size(app_msg::kCompressionLevelNames); ++i)
    if (name == app_msg::kCompressionLevelNames[i]) return static_cast<int>(i);
  return 3;
}

LoadedConfiguration LoadBackupConfiguration(const SettingsDatabase& db,
                                            const SqlServerFactory& sqlServer) {
  const BaksetRow row = db.LoadSettings();
  LoadedConfiguration loaded;
  BackupConfig& c = loaded.config;
  c.caption = app_msg::kWindowCaption;
  c.edition = row.softvernum >= 0 && row.softvernum < kEditionCount ? row.softvernum : 0;
  c.accountFolder = Trim(row.accountDir);
  c.localBackup = row.localbak;
  c.remoteBackup = row.remotebak;
  c.localFolder = row.localDir;
  c.remoteFolder = row.remoteDir;
  c.remoteUser = row.remoteuser;
  c.remotePassword = row.remotepwd;
  c.keepCount = std::clamp(row.bakfilenum, 0, kKeepCountMax);
  c.compressionLevel = CompressionLevelFromName(row.rarlevel);
  c.archivePassword = row.rarpwd;
  c.timeouts.connectSeconds = std::clamp(row.conout, kConnectTimeoutMin, kConnectTimeoutMax);
  c.timeouts.commandSeconds = std::clamp(row.sqlout, kCommandTimeoutMin, kCommandTimeoutMax);
  loaded.intervalDays = std::clamp(row.btwdays, kIntervalDaysMin, kIntervalDaysMax);

  if (IsSqlEdition(c.edition)) {
    c.sqlUser = Trim(row.sqluser);
    c.sqlPassword = row.sqlpwd;
    if (!c.sqlUser.empty()) {
      auto cn = sqlServer.Create(c.timeouts);
      CatalogueListing listing = ListCatalogueAccountSets(
          c.edition, c.sqlUser, c.sqlPassword, *cn,
          [&](const std::string& number) { return db.IsAccountIdStored(number); });
      c.accountSets = std::move(listing.entries);
      if (!listing.message.empty()) loaded.notices.push_back(listing.message);
    }
  } else if (!c.accountFolder.empty()) {
    if (!FolderExists(c.accountFolder)) {
      loaded.notices.push_back(app_msg::kAccountFolderGone);
    } else {
      c.accountSets = ListAisAccountSets(
          c.accountFolder, [&](const std::string& name) { return db.IsAccountNameStored(name); });
    }
  }
  for (const auto& entry : c.accountSets)
    if (entry.ticked && !entry.name.empty()) c.selectedAccountSets.push_back(entry.name);
  return loaded;
}

}  // namespace veltora
