#include "cli/progress_display.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace veltora {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
using S = ProgressStage;

ProgressReport Report(S stage, std::string item, int percent, std::uint64_t doneMiB = 0,
                      std::uint64_t totalMiB = 0) {
  return {stage, std::move(item), percent, doneMiB * kMiB, totalMiB * kMiB};
}

TEST(ProgressDisplayTest, TextOfAReport) {
  const std::string longName =
      "华东贸易有限公司华东贸易有限公司华东贸易有限公司华东贸易有限公司"
      "华东贸易有限公司20261210114731.bak";
  const struct {
    ProgressReport report;
    std::string text;
  } cases[] = {
      {Report(S::kCompression, "账套A20261210114731.bak", 37),
       "压缩 账套A20261210114731.bak... 37%"},
      {Report(S::kLocalBackup, "总公司账套", 0), "本机备份 总公司账套... 0%"},
      {Report(S::kArchiveTest, "A.7z", 100, 1, 1), "测试压缩文件 A.7z... 100% (1 / 1 MiB)"},
      {Report(S::kShareCopy, "A.7z", 50, 300, 600), "复制到远程 A.7z... 50% (300 / 600 MiB)"},
      {Report(S::kShareVerify, "A.7z", 5), "校验远程副本 A.7z... 5%"},
      {Report(S::kCompression, "a\x1b[2J\rb\n.bak", 5), "压缩 a?[2J?b?.bak... 5%"},
      {Report(S::kCompression, longName, 37),
       "压缩 华东贸易有限公司华东贸易有限公司…东贸易有限公司20261210114731.bak... 37%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = ProgressDisplay::Text(c.report, ProgressDisplay::kLineColumns);
    EXPECT_EQ(text, c.text);
    EXPECT_LE(ProgressDisplay::Columns(text), ProgressDisplay::kLineColumns);
  }
  EXPECT_EQ(ProgressDisplay::Text(Report(S::kCompression, longName, 37), SIZE_MAX),
            "压缩 " + longName + "... 37%")
      << "cut only where a line has a width";
  EXPECT_EQ(ProgressDisplay::Columns("压缩 A.7z"), 9u);
}

// On a terminal: one line, rewritten in place, blanked out where a shorter
// text replaces a longer one, cleared for other lines and at the end.
TEST(ProgressDisplayTest, OnATerminalOneLineIsRewritten) {
  std::ostringstream err;
  {
    ProgressDisplay display(err, true);
    display.Show(Report(S::kCompression, "A.bak", 0));   // 16 columns
    display.Show(Report(S::kCompression, "A.bak", 50));  // 17
    display.ClearLine();
    display.ClearLine();  // nothing shown: nothing to clear
    display.Show(Report(S::kCompression, "A.bak", 51));
    display.Show(Report(S::kCompression, "B", 100));  // 14
  }
  EXPECT_EQ(err.str(), "\r压缩 A.bak... 0%\r压缩 A.bak... 50%\r" + std::string(17, ' ') +
                           "\r\r压缩 A.bak... 51%\r压缩 B... 100%   \r" + std::string(14, ' ') +
                           "\r");
}

// Elsewhere: a line for each tenth of a long step, nothing for short steps or
// steps of unknown size, and nothing to clear.
TEST(ProgressDisplayTest, ElsewhereLongStepsGetALinePerTenth) {
  std::ostringstream err;
  {
    ProgressDisplay display(err, false);
    for (int percent : {0, 3, 9, 10, 11, 25, 99, 100})
      display.Show(Report(S::kShareCopy, "A.7z", percent, 6 * percent, 600));
    display.ClearLine();
    display.Show(Report(S::kShareVerify, "A.7z", 0, 0, 600));  // a new step starts over
    display.Show(Report(S::kShareCopy, "small.7z", 0, 0, 31));
    display.Show(Report(S::kShareCopy, "small.7z", 100, 31, 31));
    display.Show(Report(S::kLocalBackup, "总公司账套", 0));
    display.Show(Report(S::kLocalBackup, "总公司账套", 100));
  }
  EXPECT_EQ(err.str(),
            "复制到远程 A.7z... 0% (0 / 600 MiB)\n"
            "复制到远程 A.7z... 10% (60 / 600 MiB)\n"
            "复制到远程 A.7z... 25% (150 / 600 MiB)\n"
            "复制到远程 A.7z... 99% (594 / 600 MiB)\n"
            "复制到远程 A.7z... 100% (600 / 600 MiB)\n"
            "校验远程副本 A.7z... 0% (0 / 600 MiB)\n");
}

}  // namespace
}  // namespace veltora
