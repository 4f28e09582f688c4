// The archive-password group: Enter in its three fields, storing a new
// password, and the check the save runs while the group is ticked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "ui/presenter_fixture.h"

namespace veltora {
namespace {

using ::testing::ElementsAre;
using testing::PresenterFixture;

const char kOldWrong[] = "您好，旧密码输入错误，请重新输入密码！";
const char kForbidden[] = "您好，密码中不应该包含空格，-+/*?符号，请重新输入密码！";
const char kMismatch[] = "您好，新密码与确认密码不一致，请重新输入密码！";
const char kTooLong[] = "您好，密码位数不能超过31位，请重新输入密码！";
// The archiver's command line would break on it: every backup would fail.
const char kControl[] = "您好，密码中不应该包含换行符、制表符等控制字符，请重新输入密码！";
const char kSaved[] = "新的压缩包密码已保存!";

// A presenter that has loaded the stored password `inForce`, with the group
// ticked and the three entries typed.
struct PasswordScene {
  explicit PasswordScene(const std::string& inForce) {
    f.Db()->UpdateArchivePassword(inForce);
    p.LoadSettingsClicked();
  }
  void Type(const std::string& oldEntry, const std::string& newEntry,
            const std::string& confirmEntry) {
    f.view.SetChecked(Control::kPasswordGroup, true);
    p.PasswordGroupTicked();
    f.view.SetText(Control::kOldArchivePassword, oldEntry);
    f.view.SetText(Control::kNewArchivePassword, newEntry);
    f.view.SetText(Control::kConfirmArchivePassword, confirmEntry);
  }
  std::string Stored() { return f.Db()->LoadSettings().rarpwd; }

  PresenterFixture f;
  MainWindowPresenter p{f.view, f.Services()};
};

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(ArchivePassword, EnterInTheConfirmFieldStoresAnAcceptedPasswordAtOnce) {
  struct Case {
    const char* name;
    std::string oldEntry, newEntry, confirmEntry;
    MessageStyle style;
    const char* message;
    std::optional<Control> field;  // refused: the field selected and focused
    std::string inForce;           // the password afterwards
  };
  const Case cases[] = {
      {"31 characters", "Old1", Repeat("a", 31), Repeat("a", 31), MessageStyle::kNotice, kSaved,
       std::nullopt, Repeat("a", 31)},
      {"31 Chinese characters", "Old1", Repeat("密", 31), Repeat("密", 31), MessageStyle::kNotice,
       kSaved, std::nullopt, Repeat("密", 31)},
      {"empty: archives without a password", "Old1", "", "", MessageStyle::kNotice, kSaved,
       std::nullopt, ""},
      {"32 characters", "Old1", Repeat("a", 32), Repeat("a", 32), MessageStyle::kWarning, kTooLong,
       Control::kConfirmArchivePassword, "Old1"},
      {"letter case differs", "Old1", "abcD", "abcd", MessageStyle::kWarning, kMismatch,
       Control::kConfirmArchivePassword, "Old1"},
      {"old entry in another case", "old1", "x", "x", MessageStyle::kWarning, kOldWrong,
       Control::kOldArchivePassword, "Old1"},
      {"blank", "Old1", "a b", "a b", MessageStyle::kWarning, kForbidden,
       Control::kConfirmArchivePassword, "Old1"},
      {"minus", "Old1", "a-b", "a-b", MessageStyle::kWarning, kForbidden,
       Control::kConfirmArchivePassword, "Old1"},
      {"forbidden only in the new entry", "Old1", "a*b", "ab", MessageStyle::kWarning, kMismatch,
       Control::kConfirmArchivePassword, "Old1"},
      {"tab inside", "Old1", "a\tb", "a\tb", MessageStyle::kWarning, kControl,
       Control::kConfirmArchivePassword, "Old1"},
      {"line break at the end is trimmed", "Old1", "ab\r\n", "ab\r\n", MessageStyle::kNotice,
       kSaved, std::nullopt, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PasswordScene s("Old1");
    s.Type(c.oldEntry, c.newEntry, c.confirmEntry);
    s.f.view.ClearFocus();

    s.p.FieldEnter(Control::kConfirmArchivePassword);

    EXPECT_THAT(s.f.view.messages(), ElementsAre(ShownMessage{c.style, c.message}));
    EXPECT_EQ(s.p.ArchivePassword(), c.inForce);
    EXPECT_EQ(s.Stored(), c.inForce);
    EXPECT_EQ(s.f.view.focus(), c.field);
    EXPECT_EQ(s.f.view.selected(), c.field);
    // Accepted: the group closes and empties; refused: the entries stay.
    EXPECT_EQ(s.f.view.Checked(Control::kPasswordGroup), c.field.has_value());
    EXPECT_EQ(s.f.view.Text(Control::kNewArchivePassword), c.field ? c.newEntry : "");
  }
}

TEST(ArchivePassword, WithNoneInForceTheOldFieldIsClosedAndTheFirstPasswordIsStored) {
  PasswordScene s("");
  EXPECT_FALSE(s.f.view.Enabled(Control::kOldArchivePassword));

  s.Type("", "abc", "abc");
  EXPECT_FALSE(s.f.view.Enabled(Control::kOldArchivePassword));
  EXPECT_TRUE(s.f.view.Enabled(Control::kNewArchivePassword));
  s.p.FieldEnter(Control::kConfirmArchivePassword);

  EXPECT_THAT(s.f.view.messages(), ElementsAre(ShownMessage{MessageStyle::kNotice, kSaved}));
  EXPECT_EQ(s.Stored(), "abc");
  EXPECT_FALSE(s.f.view.Checked(Control::kPasswordGroup));
  EXPECT_FALSE(s.f.view.Enabled(Control::kNewArchivePassword));
  EXPECT_TRUE(s.f.view.Enabled(Control::kOldArchivePassword));
}

TEST(ArchivePassword, AStoreThatFailsKeepsTheOldPasswordAndSaysSo) {
  PasswordScene s("Old1");
  s.Type("Old1", "new", "new");
  const std::string db = SettingsDatabasePath(s.f.appFolder);
  std::filesystem::rename(db, db + ".away");

  s.p.FieldEnter(Control::kConfirmArchivePassword);

  ASSERT_EQ(s.f.view.messages().size(), 1u);
  EXPECT_EQ(s.f.view.messages()[0].style, MessageStyle::kWarning);
  EXPECT_THAT(s.f.view.messages()[0].text,
              ::testing::StartsWith("您好，新的压缩包密码未能保存，原来的密码仍然有效，请稍后再试！"
                                    "\r发生错误可能的原因为："));
  EXPECT_EQ(s.p.ArchivePassword(), "Old1");
  EXPECT_EQ(s.p.Configuration().archivePassword, "Old1");
  EXPECT_TRUE(s.f.view.Checked(Control::kPasswordGroup));
  EXPECT_EQ(s.f.view.Text(Control::kConfirmArchivePassword), "new");
}

TEST(ArchivePassword, EnterInTheOldAndNewFieldsChecksAndMovesOn) {
  struct Case {
    const char* name;
    Control field;
    std::string oldEntry, newEntry;
    const char* message;  // nullptr: moved on
    Control focus;
  } cases[] = {
      {"old right", Control::kOldArchivePassword, "Old1", "", nullptr,
       Control::kNewArchivePassword},
      {"old wrong", Control::kOldArchivePassword, "Old", "", kOldWrong,
       Control::kOldArchivePassword},
      {"new fine", Control::kNewArchivePassword, "Old1", "new", nullptr,
       Control::kConfirmArchivePassword},
      {"new with old wrong", Control::kNewArchivePassword, "x", "new", kOldWrong,
       Control::kOldArchivePassword},
      {"new with slash", Control::kNewArchivePassword, "Old1", "a/b", kForbidden,
       Control::kNewArchivePassword},
      {"new too long", Control::kNewArchivePassword, "Old1", Repeat("b", 32), kTooLong,
       Control::kNewArchivePassword},
      {"new with a line break", Control::kNewArchivePassword, "Old1", "a\nb", kControl,
       Control::kNewArchivePassword},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PasswordScene s("Old1");
    s.Type(c.oldEntry, c.newEntry, "");

    s.p.FieldEnter(c.field);

    if (c.message)
      EXPECT_THAT(s.f.view.messages(),
                  ElementsAre(ShownMessage{MessageStyle::kWarning, c.message}));
    else
      EXPECT_TRUE(s.f.view.messages().empty());
    EXPECT_EQ(s.f.view.focus(), c.focus);
    EXPECT_EQ(s.f.view.selected(), c.focus);
    EXPECT_EQ(s.p.ArchivePassword(), "Old1");
  }
}

TEST(ArchivePassword, TheSaveChecksTheGroupInItsOwnOrder) {
  struct Case {
    const char* name;
    std::string oldEntry, newEntry, confirmEntry;
    const char* message;
    Control field;
  } cases[] = {
      {"old wrong", "Old2", "a", "a", kOldWrong, Control::kOldArchivePassword},
      {"new forbidden", "Old1", "a?", "a?", kForbidden, Control::kNewArchivePassword},
      {"confirm forbidden", "Old1", "ab", "a+", kForbidden, Control::kConfirmArchivePassword},
      {"mismatch", "Old1", "ab", "ac", kMismatch, Control::kConfirmArchivePassword},
      {"new too long", "Old1", Repeat("c", 32), Repeat("c", 32), kTooLong,
       Control::kNewArchivePassword},
      {"line break inside", "Old1", "ab\ncd", "ab\ncd", kControl, Control::kNewArchivePassword},
      {"tab only in the confirm entry", "Old1", "ab", "a\tb", kControl,
       Control::kConfirmArchivePassword},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PasswordScene s("Old1");
    s.f.FillSavableWindow();
    s.Type(c.oldEntry, c.newEntry, c.confirmEntry);

    EXPECT_FALSE(s.p.SaveSettingsClicked());

    EXPECT_THAT(s.f.view.messages(), ElementsAre(ShownMessage{MessageStyle::kWarning, c.message}));
    EXPECT_EQ(s.f.view.focus(), c.field);
    EXPECT_EQ(s.f.view.selected(), c.field);
    EXPECT_EQ(s.Stored(), "Old1");
  }
}

TEST(ArchivePassword, ASavedPasswordIsInForceOnlyOnceTheSaveHasStoredIt) {
  PasswordScene s("Old1");
  s.f.FillSavableWindow();
  s.Type("Old1", "\tNew2", "\tNew2");
  // A later check stops the save: the old password stays, the entries too.
  s.f.view.SetText(Control::kBackupTime, "99:00:00");
  EXPECT_FALSE(s.p.SaveSettingsClicked());
  EXPECT_EQ(s.p.ArchivePassword(), "Old1");
  EXPECT_EQ(s.Stored(), "Old1");
  EXPECT_TRUE(s.f.view.Checked(Control::kPasswordGroup));
  EXPECT_EQ(s.f.view.Text(Control::kNewArchivePassword), "\tNew2");

  s.f.view.SetText(Control::kBackupTime, "01:30:00");
  ASSERT_TRUE(s.p.SaveSettingsClicked());
  EXPECT_EQ(s.p.ArchivePassword(), "New2");
  EXPECT_EQ(s.p.Configuration().archivePassword, "New2");
  EXPECT_EQ(s.Stored(), "New2");
  EXPECT_FALSE(s.f.view.Checked(Control::kPasswordGroup));
  EXPECT_EQ(s.f.view.Text(Control::kNewArchivePassword), "");
}

TEST(ArchivePassword, AnUntickedGroupTakesNoEnter) {
  PasswordScene s("");
  s.Type("", "abc", "abc");
  s.f.view.SetChecked(Control::kPasswordGroup, false);

  s.p.FieldEnter(Control::kConfirmArchivePassword);

  EXPECT_TRUE(s.f.view.messages().empty());
  EXPECT_EQ(s.Stored(), "");
}

}  // namespace
}  // namespace veltora
