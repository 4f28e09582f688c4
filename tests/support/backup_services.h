// The services a backup run needs, as the tests make them: the real local disk
// and libsmbclient, 7-Zip from the PATH, a fixed temporary-file marker. Tests
// change single fields where they need to.
#pragma once

#include <chrono>
#include <cstdint>

#include "engine/backup_job.h"

namespace veltora::testing {

// The share's time-out in the tests: short, so that a frozen share ends a
// copy soon.
inline constexpr std::chrono::milliseconds kTestSmbTimeout{3000};

// `smbPort`: the test Samba server's port where a case uses the share.
BackupServices TestBackupServices(LineLog& log, const Clock& clock,
                                  const SqlServerFactory& sqlServer,
                                  const BackupRecordsFactory& records, std::uint16_t smbPort = 445);

}  // namespace veltora::testing
