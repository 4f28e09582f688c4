#include "base/date_time.h"

#include <gtest/gtest.h>

namespace veltora {
namespace {

TEST(DateTimeTest, CountsDaysFromTheEpochOf1899) {
  struct Case {
    LocalTime t;
    double value;
  };
  const Case cases[] = {
      {{1899, 12, 30, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0}, 2.0},
      {{2024, 5, 1, 12, 0, 0}, 45413.5},
      {{1899, 12, 29, 0, 0, 0}, -1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(FormatDateTime(c.t));
    EXPECT_DOUBLE_EQ(ToDateTime(c.t), c.value);
    const LocalTime back = FromDateTime(c.value);
    EXPECT_EQ(FormatDateTime(back), FormatDateTime(c.t));
  }
  EXPECT_EQ(FromDateTime(45413.5).weekday, 3);  // 2024-05-01 was a Wednesday
}

TEST(DateTimeTest, FixedFormatsAndStamp) {
  const LocalTime t{2024, 5, 1, 1, 30, 0, 3};
  EXPECT_EQ(FormatDateTime(t), "2024-05-01 01:30:00");
  EXPECT_EQ(BackupStamp(t), "20240501013000");
  LocalTime parsed;
  ASSERT_TRUE(ParseDateTime("2024-05-01 01:30:00", parsed));
  EXPECT_EQ(BackupStamp(parsed), "20240501013000");
  EXPECT_FALSE(ParseDateTime("2024-13-01 01:30:00", parsed));
  EXPECT_FALSE(ParseDateTime("yesterday", parsed));
}

}  // namespace
}  // namespace veltora
