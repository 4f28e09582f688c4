// Builds the backup configuration from the stored settings the way loading
// fills the main window: the account-set list rebuilt for the edition with the
// stored entries ticked, and every other value taken from the settings row.
#pragma once

#include <string>
#include <vector>

#include "engine/backup_config.h"
#include "sqlserver/sql_server_connection.h"
#include "settings/settings_database.h"

namespace veltora {

// The compression levels by index, as stored in `rarlevel`.
inline constexpr const char* kCompressionLevelNames[] = {"不压缩", "最快", "较快",
                                                         "标准",   "较好", "最好"};
// Index of a level name; an unknown or empty name gives 3, the standard level.
int CompressionLevelFromName(const std::string& name);

struct LoadedConfiguration {
  BackupConfig config;
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

namespace msg {
inline constexpr char kAccountFolderGone[] =
    ".......账套所在文件夹已经不存在，是否您删除或移动了？......";
}  // namespace msg

}  // namespace veltora
