#include "gui/main_window_layout.h"

#include <array>

#include "app/messages.h"
#include "gui/captions.h"
#include "gui/dpi.h"
#include "ui/messages.h"

namespace veltora::win32 {
namespace {

namespace c = caption;
using K = PartKind;
using P = Part;

// Rows of the group "杂项设置", 27 pixels apart; edits are 22 high, labels
// sit 4 pixels lower so that their text lines up with the edits' text.
constexpr int kRow1 = 345;
constexpr int kRow2 = kRow1 + 27;
constexpr int kRow3 = kRow2 + 27;
constexpr int kRow4 = kRow3 + 27;
constexpr int kRow5 = kRow4 + 27;
constexpr int kRow6 = kRow5 + 27;
constexpr int kRow7 = kRow6 + 27;
constexpr int kPasswordTop = kRow7 + 25;
constexpr int kPasswordRow = kPasswordTop + 17;
constexpr int kLabelDrop = 4;
constexpr int kEditHeight = 22;
constexpr int kLabelHeight = 16;
// The two account groups differ only in their left edge.
constexpr int kRemoteShift = 280;
// The operations' buttons: 182 x 40, one under the other.
constexpr int kButtonLeft = 578;
constexpr int kButtonTop = 243;
constexpr int kButtonStep = 52;
constexpr int kButtonWidth = 182;
constexpr int kButtonHeight = 40;

constexpr int Row(int top, int i) { return top + i * kButtonStep; }

// One line per part reads as the table it is.
// clang-format off
constexpr std::array<PartSpec, kPartCount> kParts{{
    // Top strip (32 high): the next backup time, the backup state at the right.
    {P::kNextBackupLabel, K::kLabel, ui_msg::kNextBackupPrefix, {12, 9, 420, kLabelHeight}},
    {P::kStatusLabel, K::kRightLabel, nullptr, {545, 9, 210, kLabelHeight}},

    // "请选择要备份的账套" (185 high): the edition and its page at the left
    // (248 wide), the account-set list filling the rest.
    {P::kAccountsGroup, K::kGroup, c::kAccountsGroup, {4, 32, 759, 185}},
    {P::kEditionGroup, K::kGroup, c::kEditionGroup, {12, 50, 248, 160}},
    {P::kEdition, K::kDropDown, nullptr, {22, 70, 228, 200}},
    {P::kAccountFolderLabel, K::kLabel, c::kAccountFolder, {22, 104, 228, kLabelHeight}},
    {P::kAccountFolder, K::kReadOnly, nullptr, {22, 124, 228, kEditHeight}},
    {P::kAccountFolderBrowse, K::kButton, c::kBrowse, {170, 156, 80, 26}},
    {P::kSqlGroup, K::kGroup, c::kSqlGroup, {20, 96, 232, 110}},
    {P::kSqlUserLabel, K::kLabel, c::kUser, {30, 120, 56, kLabelHeight}},
    {P::kSqlUser, K::kEdit, nullptr, {88, 116, 154, kEditHeight}},
    {P::kSqlPasswordLabel, K::kLabel, c::kPassword, {30, 148, 56, kLabelHeight}},
    {P::kSqlPassword, K::kPassword, nullptr, {88, 144, 154, kEditHeight}},
    {P::kListSqlAccountSets, K::kButton, c::kConnect, {142, 172, 100, 26}},
    {P::kAccountSetList, K::kList, nullptr, {268, 50, 487, 160}},

    // "数据库备份相关参数设置" (569 wide) with its three inner groups.
    {P::kParametersGroup, K::kGroup, c::kParametersGroup, {4, 221, 569, 366}},
    {P::kServerAccountGroup, K::kGroup, c::kServerAccountGroup, {12, 239, 273, 82}},
    {P::kServerUserLabel, K::kLabel, c::kUser, {22, 263, 56, kLabelHeight}},
    {P::kServerUser, K::kEdit, nullptr, {78, 259, 132, kEditHeight}},
    {P::kServerPasswordLabel, K::kLabel, c::kPassword, {22, 291, 56, kLabelHeight}},
    {P::kServerPassword, K::kPassword, nullptr, {78, 287, 132, kEditHeight}},
    {P::kServerAccountReset, K::kButton, c::kReset, {218, 272, 58, 26}},
    {P::kRemoteAccountGroup, K::kGroup, c::kRemoteAccountGroup, {12 + kRemoteShift, 239, 273, 82}},
    {P::kShareUserLabel, K::kLabel, c::kUser, {22 + kRemoteShift, 263, 56, kLabelHeight}},
    {P::kShareUser, K::kEdit, nullptr, {78 + kRemoteShift, 259, 132, kEditHeight}},
    {P::kSharePasswordLabel, K::kLabel, c::kPassword, {22 + kRemoteShift, 291, 56, kLabelHeight}},
    {P::kSharePassword, K::kPassword, nullptr, {78 + kRemoteShift, 287, 132, kEditHeight}},
    {P::kShareAccountReset, K::kButton, c::kReset, {218 + kRemoteShift, 272, 58, 26}},

    // "杂项设置", row by row.
    {P::kMiscGroup, K::kGroup, c::kMiscGroup, {12, 325, 553, 256}},
    {P::kEveryLabel, K::kLabel, c::kEvery, {22, kRow1 + kLabelDrop, 26, kLabelHeight}},
    {P::kDaysBetweenBackups, K::kSpin, nullptr, {50, kRow1, 50, kEditHeight}},
    {P::kDaysOnceLabel, K::kLabel, c::kDaysOnce, {104, kRow1 + kLabelDrop, 64, kLabelHeight}},
    {P::kBackupTimeLabel, K::kLabel, c::kBackupTime, {186, kRow1 + kLabelDrop, 52, kLabelHeight}},
    {P::kBackupTime, K::kTime, nullptr, {240, kRow1, 68, kEditHeight}},
    {P::kRunTaskLabel, K::kLabel, c::kRunBackupTask, {314, kRow1 + kLabelDrop, 112, kLabelHeight}},

    {P::kLocalFolderLabel, K::kLabel, c::kLocalFolder, {40, kRow2 + kLabelDrop, 124, kLabelHeight}},
    {P::kLocalFolder, K::kEdit, nullptr, {166, kRow2, 304, kEditHeight}},
    {P::kLocalFolderBrowse, K::kButton, c::kBrowse, {476, kRow2 - 1, 80, 24}},

    {P::kShareBackup, K::kCheck, nullptr, {22, kRow3 + 3, 16, 16}},
    {P::kShareFolderLabel, K::kLabel, c::kRemoteFolder, {40, kRow3 + kLabelDrop, 124, kLabelHeight}},
    {P::kShareFolder, K::kEdit, nullptr, {166, kRow3, 304, kEditHeight}},
    {P::kShareFolderBrowse, K::kButton, c::kBrowse, {476, kRow3 - 1, 80, 24}},

    {P::kKeepLabel, K::kLabel, c::kKeepAtMost, {22, kRow4 + kLabelDrop, 52, kLabelHeight}},
    {P::kKeepCount, K::kSpin, nullptr, {76, kRow4, 60, kEditHeight}},
    {P::kKeepNote, K::kLabel, c::kKeepNote, {142, kRow4 + kLabelDrop, 414, kLabelHeight}},

    {P::kLevelLabel, K::kLabel, c::kLevel, {22, kRow5 + kLabelDrop, 146, kLabelHeight}},
    {P::kCompressionLevel, K::kDropDown, nullptr, {168, kRow5, 72, 200}},
    {P::kLevelNote, K::kLabel, c::kLevelNote, {246, kRow5 + kLabelDrop, 312, kLabelHeight}},

    {P::kConnectTimeoutLabel, K::kLabel, c::kConnectTimeout, {22, kRow6 + kLabelDrop, 124, kLabelHeight}},
    {P::kConnectTimeout, K::kSpin, nullptr, {148, kRow6, 64, kEditHeight}},
    {P::kCommandTimeoutLabel, K::kLabel, c::kCommandTimeout, {236, kRow6 + kLabelDrop, 132, kLabelHeight}},
    {P::kCommandTimeout, K::kSpin, nullptr, {370, kRow6, 64, kEditHeight}},

    {P::kGuardSqlServer, K::kCheck, c::kGuard, {22, kRow7 + 3, 240, 16}},

    // The password group: a frame without caption, its tick box standing in
    // the caption's place.
    {P::kPasswordFrame, K::kGroup, nullptr, {20, kPasswordTop, 537, 46}},
    {P::kPasswordGroup, K::kCheck, c::kPasswordGroup, {28, kPasswordTop - 1, 196, 16}},
    {P::kOldPasswordLabel, K::kLabel, c::kOldPassword, {30, kPasswordRow + kLabelDrop, 50, kLabelHeight}},
    {P::kOldArchivePassword, K::kPassword, nullptr, {80, kPasswordRow, 100, kEditHeight}},
    {P::kNewPasswordLabel, K::kLabel, c::kNewPassword, {198, kPasswordRow + kLabelDrop, 50, kLabelHeight}},
    {P::kNewArchivePassword, K::kPassword, nullptr, {248, kPasswordRow, 100, kEditHeight}},
    {P::kConfirmPasswordLabel, K::kLabel, c::kConfirmPassword, {366, kPasswordRow + kLabelDrop, 62, kLabelHeight}},
    {P::kConfirmArchivePassword, K::kPassword, nullptr, {428, kPasswordRow, 110, kEditHeight}},

    // Last in the keyboard order, though it heads the local folder's row.
    {P::kLocalBackup, K::kCheck, nullptr, {22, kRow2 + 3, 16, 16}},

    // "操作选项".
    {P::kOperationsGroup, K::kGroup, c::kOperationsGroup, {575, 221, 188, 366}},
    {P::kBackUpNow, K::kButton, c::kBackupNow, {kButtonLeft, Row(kButtonTop, 0), kButtonWidth, kButtonHeight}},
    {P::kLoadSettings, K::kButton, c::kLoadSettings, {kButtonLeft, Row(kButtonTop, 1), kButtonWidth, kButtonHeight}},
    {P::kSaveSettings, K::kButton, c::kSaveSettings, {kButtonLeft, Row(kButtonTop, 2), kButtonWidth, kButtonHeight}},
    {P::kBackupLog, K::kButton, c::kBackupLog, {kButtonLeft, Row(kButtonTop, 3), kButtonWidth, kButtonHeight}},
    {P::kExitProgram, K::kButton, c::kExitProgram, {kButtonLeft, Row(kButtonTop, 4), kButtonWidth, kButtonHeight}},
    {P::kAutostart, K::kCheck, c::kAutostart, {586, Row(kButtonTop, 5) + 4, 170, 18}},

    // The status bar (27 high) along the bottom.
    {P::kStatusBar, K::kStatusBar, nullptr, {0, kClientHeight - 27, kClientWidth, 27}},
}};
// clang-format on

constexpr bool InPartOrder() {
  for (int i = 0; i < kPartCount; ++i)
    if (static_cast<int>(kParts[i].part) != i) return false;
  return true;
}
static_assert(InPartOrder(), "the table lists every part at its own index");

}  // namespace

std::span<const PartSpec> MainWindowParts() { return kParts; }

const PartSpec& SpecOf(Part part) { return kParts[static_cast<int>(part)]; }

Box Scaled(const Box& box, UINT dpi) {
  // Edges are scaled, not sizes, so that neighbours stay neighbours.
  const int left = Scale(box.x, dpi);
  const int top = Scale(box.y, dpi);
  return {left, top, Scale(box.x + box.w, dpi) - left, Scale(box.y + box.h, dpi) - top};
}

}  // namespace veltora::win32
