// Where every window of the main window sits: one table in client
// coordinates at 96 DPI, scaled by one factor for the monitor's DPI. The
// table's order is the creation order, and so the keyboard (tab) order.
#pragma once

#include <windows.h>

#include <span>

namespace veltora::win32 {

// The client area at 96 DPI.
inline constexpr int kClientWidth = 767;
inline constexpr int kClientHeight = 618;

// Every child window of the main window.
enum class Part : int {
  kNextBackupLabel,
  kStatusLabel,
  // The account sets.
  kAccountsGroup,
  kEditionGroup,
  kEdition,
  kAccountFolderLabel,
  kAccountFolder,
  kAccountFolderBrowse,
  kSqlGroup,
  kSqlUserLabel,
  kSqlUser,
  kSqlPasswordLabel,
  kSqlPassword,
  kListSqlAccountSets,
  kAccountSetList,
  // The backup parameters.
  kParametersGroup,
  kServerAccountGroup,
  kServerUserLabel,
  kServerUser,
  kServerPasswordLabel,
  kServerPassword,
  kServerAccountReset,
  kRemoteAccountGroup,
  kShareUserLabel,
  kShareUser,
  kSharePasswordLabel,
  kSharePassword,
  kShareAccountReset,
  kMiscGroup,
  kEveryLabel,
  kDaysBetweenBackups,
  kDaysOnceLabel,
  kBackupTimeLabel,
  kBackupTime,
  kRunTaskLabel,
  kLocalFolderLabel,
  kLocalFolder,
  kLocalFolderBrowse,
  kShareBackup,
  kShareFolderLabel,
  kShareFolder,
  kShareFolderBrowse,
  kKeepLabel,
  kKeepCount,
  kKeepNote,
  kLevelLabel,
  kCompressionLevel,
  kLevelNote,
  kConnectTimeoutLabel,
  kConnectTimeout,
  kCommandTimeoutLabel,
  kCommandTimeout,
  kGuardSqlServer,
  kPasswordFrame,
  kPasswordGroup,
  kOldPasswordLabel,
  kOldArchivePassword,
  kNewPasswordLabel,
  kNewArchivePassword,
  kConfirmPasswordLabel,
  kConfirmArchivePassword,
  kLocalBackup,
  // The operations.
  kOperationsGroup,
  kBackUpNow,
  kLoadSettings,
  kSaveSettings,
  kBackupLog,
  kExitProgram,
  kAutostart,
  kStatusBar,
  kCount
};
inline constexpr int kPartCount = static_cast<int>(Part::kCount);

enum class PartKind {
  kGroup,       // group box
  kLabel,       // static text, left aligned
  kRightLabel,  // static text, right aligned
  kEdit,
  kPassword,  // edit with hidden characters
  kReadOnly,  // read-only edit
  kSpin,      // edit with an up-down at its right
  kTime,      // edit for "hh:mm:ss"
  kDropDown,  // drop-down list; its height is the open list's
  kButton,
  kCheck,  // tick box; a caption of its own or none
  kList,   // the account-set list
  kStatusBar,
};

struct Box {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

struct PartSpec {
  Part part;
  PartKind kind;
  const char* caption;  // UTF-8; nullptr for none
  Box box;              // client coordinates at 96 DPI
};

// The table, in creation order; the entry of part P is at index P.
std::span<const PartSpec> MainWindowParts();
const PartSpec& SpecOf(Part part);

// A box of the table at `dpi`.
Box Scaled(const Box& box, UINT dpi);

}  // namespace veltora::win32
