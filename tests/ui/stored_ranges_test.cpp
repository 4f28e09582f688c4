#include <gtest/gtest.h>

#include <string>

#include "settings/raw_db.h"
#include "ui/presenter_fixture.h"

namespace veltora {
namespace {

using ::veltora::testing::PresenterFixture;
using ::veltora::testing::RawDb;

// A settings file edited by hand: every stored number goes back into the range
// of its field, and the configuration of the next run follows the fields.
TEST(LoadSettings, StoredNumbersArePutBackIntoTheirFieldsRanges) {
  PresenterFixture f;
  struct Case {
    // Stored as SQL literals, so that NULL, text and numbers beyond int can be
    // written as a hand-edited file would hold them.
    const char* bakfilenum;
    const char* rarlevel;
    const char* conout;
    const char* sqlout;
    const char* btwdays;
    int keepCount;
    int compressionLevel;
    int connectSeconds;
    int commandSeconds;
    int intervalDays;
  };
  const Case cases[] = {
      {"7", "'标准'", "27", "1800", "1", 7, 3, 27, 1800, 1},
      {"0", "'不压缩'", "7", "30", "1", 0, 0, 7, 30, 1},
      {"500", "'最好'", "3600", "9999", "30", 500, 5, 3600, 9999, 30},
      {"501", "'最快'", "6", "29", "0", 500, 1, 7, 30, 1},
      {"600", "'较好'", "3601", "10000", "31", 500, 4, 3600, 9999, 30},
      {"-1", "'较快'", "-5", "-30", "-3", 0, 2, 7, 30, 1},
      {"NULL", "NULL", "NULL", "NULL", "NULL", 0, 3, 7, 30, 1},
      {"'many'", "'5'", "'x'", "''", "'y'", 0, 3, 7, 30, 1},
      {"'12'", "'标准 '", "'60'", "'600'", "'7'", 12, 3, 60, 600, 7},
      // Beyond int: the low 32 bits would read as 1, -1 and 1.
      {"4294967297", "'最好的'", "4294967297", "-4294967297", "4294967297", 500, 3, 3600, 30, 30},
  };
  for (const Case& c : cases) {
    const std::string values = std::string("bakfilenum=") + c.bakfilenum +
                               ",rarlevel=" + c.rarlevel + ",conout=" + c.conout +
                               ",sqlout=" + c.sqlout + ",btwdays=" + c.btwdays;
    SCOPED_TRACE(values);
    RawDb(SettingsDatabasePath(f.appFolder)).Exec("update bakset set " + values);

    MainWindowPresenter p(f.view, f.Services());
    ASSERT_TRUE(p.LoadSettingsClicked());

    EXPECT_EQ(p.Configuration().keepCount, c.keepCount);
    EXPECT_EQ(p.Configuration().compressionLevel, c.compressionLevel);
    EXPECT_EQ(p.Configuration().timeouts.connectSeconds, c.connectSeconds);
    EXPECT_EQ(p.Configuration().timeouts.commandSeconds, c.commandSeconds);
    EXPECT_EQ(f.view.Text(Control::kDaysBetweenBackups), std::to_string(c.intervalDays));
  }
}

}  // namespace
}  // namespace veltora
