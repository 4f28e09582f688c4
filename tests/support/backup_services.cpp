#include "support/backup_services.h"

#include <cstdlib>
#include <memory>

#include "base/process.h"
#include "files/run_file_systems.h"

namespace veltora::testing {

BackupServices TestBackupServices(LineLog& log, const Clock& clock,
                                  const SqlServerFactory& sqlServer,
                                  const BackupRecordsFactory& records, std::uint16_t smbPort) {
  const char* path = std::getenv("PATH");
  return BackupServices{.log = log,
                        .clock = clock,
                        .sqlServer = sqlServer,
                        .records = records,
                        .runLogPath = "",
                        .rotateRunLog = {},
                        .uptimeText = {},
                        .idleText = {},
                        .ensureSqlServerRunning = {},
                        .progress = {},
                        .makeFileSystems =
                            [smbPort] {
                              return std::make_unique<LocalAndSmbFileSystems>(
                                  smbPort, kTestSmbTimeout, CopyMarker(),
                                  AfterTimeout::kFailAtOnce);
                            },
                        .archiver = ChooseArchiver("", path != nullptr ? path : ""),
                        .marker = CopyMarker(),
                        .applicationFolder = {}};
}

}  // namespace veltora::testing
