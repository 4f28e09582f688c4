// The services a backup run needs, as the tests make them: the real local disk
// and libsmbclient, 7-Zip from the PATH, a fixed temporary-file marker. Tests
// change single fields where they need to.
#pragma once

#include <cstdint>

#include "engine/backup_job.h"

namespace veltora::testing {

inline constexpr char kTestMarker[] = "vttest";

// `smbPort` 0: the port the environment names (the test Samba server sets it).
BackupServices TestBackupServices(LineLog& log, const Clock& clock,
                                  const SqlServerFactory& sqlServer,
                                  const BackupRecordsFactory& records,
                                  std::uint16_t smbPort = 0);

}  // namespace veltora::testing
