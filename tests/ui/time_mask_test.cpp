// The backup-time mask: whatever is typed, pasted or set, the text keeps the
// shape "##:##:##" with blanks for the places not filled.
#include "ui/time_mask.h"

#include <gtest/gtest.h>

#include <string>

namespace veltora {
namespace {

// Keys as a string: '\b' is Backspace, '\x7f' Delete, any other character is
// typed.
MaskedTime Keys(MaskedTime field, const std::string& keys) {
  for (const char key : keys) {
    if (key == '\b' || key == '\x7f') {
      EraseInTimeMask(field, key == '\b');
    } else {
      TypeIntoTimeMask(field, key);
    }
  }
  return field;
}

TEST(TimeMask, TypedKeysKeepTheShape) {
  struct Case {
    const char* name;
    const char* text;
    int selectionStart;
    int selectionEnd;
    const char* keys;
    const char* result;
    int caret;
  };
  const Case cases[] = {
      // Over the whole text, as a user who selected it all.
      {"9:30 over all", "01:30:00", 0, 8, "9:30", "9 :30:  ", 6},
      {"09:30:00 over all", "01:30:00", 0, 8, "09:30:00", "09:30:00", 8},
      {"digits skip the colons", "01:30:00", 0, 8, "093000", "09:30:00", 8},
      // From the caret at the start, overwriting.
      {"9:30 at the start", "01:30:00", 0, 0, "9:30", "9 :30:00", 6},
      {"blanks for leading zeros", "01:30:00", 0, 8, " 7: 5: 0", " 7: 5: 0", 8},
      {"a caret on a colon types after it", "01:30:00", 2, 2, "4", "01:40:00", 4},
      {"letters and signs are refused", "01:30:00", 3, 3, "a-+.x", "01:30:00", 3},
      {"nothing after the last place", "01:30:00", 8, 8, "5", "01:30:00", 8},
      {"a colon in the last group goes nowhere", "01:30:00", 6, 6, "1:", "01:30:10", 7},
      {"a colon at the start empties the first group", "01:30:00", 0, 0, ":", "  :30:00", 3},
      {"backspace blanks backwards over a colon", "01:30:00", 3, 3, "\b", "0 :30:00", 1},
      {"backspace at the start does nothing", "01:30:00", 0, 0, "\b", "01:30:00", 0},
      {"delete blanks at the caret", "01:30:00", 2, 2, "\x7f", "01: 0:00", 2},
      {"backspace blanks a selection", "01:30:00", 1, 7, "\b", "0 :  : 0", 1},
      {"a refused key keeps the selection", "01:30:00", 0, 8, "z", "01:30:00", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MaskedTime field = Keys({c.text, c.selectionStart, c.selectionEnd}, c.keys);
    EXPECT_EQ(field.text, c.result);
    EXPECT_EQ(field.selectionEnd, c.caret);
    if (std::string(c.name) != "a refused key keeps the selection") {
      EXPECT_EQ(field.selectionStart, field.selectionEnd);
    }
  }
}

TEST(TimeMask, SetAndPastedTextsTakeTheShape) {
  const std::pair<const char*, const char*> set[] = {
      {"01:30:00", "01:30:00"}, {"", "  :  :  "},         {"7:5:0", "7 :5 :0 "},
      {" 7:5:0", " 7:5 :0 "},   {"0130", "01:30:  "},     {"25:00:00", "25:00:00"},
      {"abc", "  :  :  "},      {"1:2:3:4", "1 :2 :3 "},  {"123:4567:8", "12:45:8 "},
      {"9:30", "9 :30:  "},     {"零:30:00", "  :30:00"},
  };
  for (const auto& [text, shaped] : set) EXPECT_EQ(ConformToTimeMask(text), shaped) << text;

  MaskedTime field{"01:30:00", 0, 8};
  ASSERT_TRUE(PasteIntoTimeMask(field, "12:34:56"));
  EXPECT_EQ(field.text, "12:34:56");
  field = {"01:30:00", 3, 5};
  ASSERT_TRUE(PasteIntoTimeMask(field, "4x5"));
  EXPECT_EQ(field.text, "01:45:00");
  EXPECT_EQ(field.selectionEnd, 6);
  field = {"01:30:00", 0, 0};
  EXPECT_FALSE(PasteIntoTimeMask(field, "abc"));
  EXPECT_EQ(field.text, "01:30:00");
}

}  // namespace
}  // namespace veltora
