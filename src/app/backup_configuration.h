// Builds the backup configuration from the stored settings the way loading
// fills the main window: the account-set list rebuilt for the edition with the
// stored entries ticked, and every other value taken from the settings row and
// put back into the range of its field, as the window's fields do with what
// they are given. Every front end loads through here, so a value edited into
// the file by hand means the same everywhere.
#pragma once

#include <string>
#include <vector>

#include "app/messages.h"
#include "engine/backup_config.h"
#include "settings/settings_database.h"
#include "sqlserver/sql_server_connection.h"

namespace veltora {

// Index of a level name; an unknown or empty name gives 3, the standard level.
int CompressionLevelFromName(const std::string& name);

// The ranges of the stored numbers. A value outside is set to the nearer end:
// a keep count of 600 keeps 500 backups, never all of them.
inline constexpr int kKeepCountMax = 500;  // 0 = no limit
inline constexpr int kConnectTimeoutMin = 7;
inline constexpr int kConnectTimeoutMax = 3600;
inline constexpr int kCommandTimeoutMin = 30;
inline constexpr int kCommandTimeoutMax = 9999;
inline constexpr int kIntervalDaysMin = 1;
inline constexpr int kIntervalDaysMax = 30;

struct LoadedConfiguration {
  BackupConfig config;
  // Days between scheduled backups; the schedule's input, not the job's.
  int intervalDays = kIntervalDaysMin;
  // What the window would have shown while loading (the account folder is gone,
  // the catalogue could not be read); the configuration is still usable.
  std::vector<std::string> notices;
};

// Reads the settings row, lists the account sets of the stored edition (the
// .AIS files of the account folder, or the Kingdee catalogue through a fresh
// connection from `sqlServer`) and ticks the stored ones. Throws
// std::runtime_error when the settings database cannot be read.
LoadedConfiguration LoadBackupConfiguration(const SettingsDatabase& db,
                                            const SqlServerFactory& sqlServer);

}  // namespace veltora
