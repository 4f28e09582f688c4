// The whole job on Windows without a share (Wine has no network provider): the
// file edition's copies, the command file through the real cmd.exe and
// 7zr.exe, the archive test, the local pruning and the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/path.h"
#include "support/job_fixture.h"

namespace veltora {
namespace {

using namespace job_test;
using testing::FilesIn;
using testing::WriteFile;

class FullJobWinTest : public BackupJobTest {
 protected:
  BackupRunSummary RunWithArchiver(const BackupConfig& config) {
    std::atomic<bool> configured{true};
    std::atomic<bool> running{false};
    BackupServices services = testing::TestBackupServices(log_, *clock_, sql_, records_);
    services.archiver = Archiver{ArchiverKind::kSevenZip, VELTORA_BIN_DIR "\\7zr.exe", ".7z"};
    return BackupThreadProc(config, {configured, running}, services).value();
  }
};

TEST_F(FullJobWinTest, ThreeRunsArchiveTestAndKeepTheTwoNewest) {
  const std::vector<std::string> bases = {"ACME", "华东 贸易", "a&b^c(1)%x%"};
  std::vector<AccountSetEntry> entries;
  for (const std::string& base : bases) {
    WriteFile(JoinPath(accounts(), base + ".AIS"), std::string(20000, 'q') + base);
    entries.push_back({true, "", base + ".AIS", base + ".AIS"});
  }
  BackupConfig config = FileConfig(entries);
  config.compressionLevel = 3;
  config.archivePassword = "p&w|<x>%!y!";
  config.keepCount = 2;
  for (const auto& e : entries) config.selectedAccountSets.push_back(e.name);

  std::vector<std::string> stamps;
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    stamps.push_back(BackupStamp(clock_->LocalNow()));
    const BackupRunSummary summary = RunWithArchiver(config);
    EXPECT_TRUE(summary.Complete(config)) << ::testing::PrintToString(log_.lines());
    std::vector<std::string> expected;
    for (const std::string& base : bases)
      for (std::size_t i = stamps.size() > 2 ? stamps.size() - 2 : 0; i < stamps.size(); ++i)
        expected.push_back(base + stamps[i] + ".7z");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesIn(backups()), expected) << "no .bak, command file or temporary file";
    clock_->Advance(std::chrono::hours(24));
  }
  int archived = 0;
  for (const BaklogRow& row : Rows()) {
    if (row.baksuccess != std::optional<bool>(true)) continue;
    ++archived;
    EXPECT_EQ(row.rarpwd, "p&w|<x>%!y!") << row.localbakfile;
  }
  EXPECT_EQ(archived, 9);
}

}  // namespace
}  // namespace veltora
