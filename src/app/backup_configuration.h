// The ranges and names of the settings as the window's fields hold them: a
// stored value outside its field's range is put back to the nearer end when
// it is loaded, so a value edited into the file by hand means the same
// everywhere.
#pragma once

#include <string>

#include "app/messages.h"

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

}  // namespace veltora
