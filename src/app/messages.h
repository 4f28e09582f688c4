// Texts of the application shell, spelled once. The run log's own texts come
// first; start-up, shutdown and autostart texts join them here.
#pragma once

namespace veltora::app_msg {

// The main window's caption, also the first line of every backup run.
inline constexpr char kWindowCaption[] = "青岚软件账套自动备份系统(金蝶版)  V2.1";
// The compression levels by index, as the level list shows them and the
// settings store them.
inline constexpr const char* kCompressionLevelNames[] = {"不压缩", "最快", "较快",
                                                         "标准",   "较好", "最好"};
// Loading the settings: the stored account folder is gone.
inline constexpr char kAccountFolderGone[] =
    ".......账套所在文件夹已经不存在，是否您删除或移动了？......";

// The run log beside the executable.
inline constexpr char kRunLogFileName[] = "程序运行日志.txt";
// First character of every stamped run-log line ("在2024-05-01 13:05:09 周三 :").
inline constexpr char kStampPrefix[] = "在";
// The stamp's weekday names, Sunday first. A fixed table rather than the C
// library's locale, so that the log never mixes encodings or languages.
inline constexpr const char* kWeekdayNames[7] = {"周日", "周一", "周二", "周三",
                                                 "周四", "周五", "周六"};

// Units of a duration text ("3时25分7秒"): hours, minutes, seconds.
inline constexpr char kHours[] = "时";
inline constexpr char kMinutes[] = "分";
inline constexpr char kSeconds[] = "秒";
inline constexpr char kZeroDuration[] = "0时0分0秒";

// Start-up refusals: the executable's path holds a blank, another instance
// serves the application folder, the user lacks administrator rights.
inline constexpr char kBlankInPath[] =
    "您好，由于本软件要用到DOS命令，文件夹路径不要包含空格，所以不能放在电脑桌面等路径含空格的"
    "文件夹里。请在硬盘分区根目录下建文件夹保存本软件后再运行。谢谢。";
inline constexpr char kAlreadyRunning[] = "您好，程序已经运行，无需重复运行！";
inline constexpr char kNotAdministrator[] = "您好，请以管理员帐号登录系统后再运行本程序！";
// Not a refusal but a fault: the application folder's lock cannot be taken
// (the folder is missing or unreadable, the lock file cannot be opened).
inline constexpr char kAppFolderUnusable[] = "程序无法使用应用程序文件夹，启动失败！";

// Autostart: the run-log lines of registering and removing the entry.
inline constexpr char kAutostartWritten[] = "写入自动运行成功，下次应用程序将会自动运行！";
inline constexpr char kAutostartWriteFailed[] = "写入自动运行失败，下次应用程序将不会自动运行！";
inline constexpr char kAutostartRemoved[] = "取消自动运行成功，下次应用程序将不会自动运行！";
inline constexpr char kAutostartRemoveFailed[] = "取消自动运行失败，下次应用程序仍然会自动运行！";
// Joins a failure line and the system's reason for it, when there is one.
inline constexpr char kReasonHead[] = "原因：";

// Why registering or removing the autostart entry failed, for the caller to show.
inline constexpr char kAutostartBadExecutable[] =
    "an autostart entry needs an absolute executable path without control characters: ";
inline constexpr char kAutostartCannotWrite[] = "cannot write the autostart entry in ";
inline constexpr char kAutostartCannotRemove[] = "cannot remove the autostart entry ";
inline constexpr char kAutostartNotInPlace[] =
    "the autostart registration does not name this executable afterwards";
inline constexpr char kAutostartStillThere[] =
    "the autostart registration is still there afterwards";
inline constexpr char kSystemctlMissing[] = "no systemctl on the PATH: ";
inline constexpr char kSystemctlAnswered[] = " answered ";
inline constexpr char kUnitState[] = "the unit is ";
inline constexpr char kUnitStateUnknown[] =
    "systemctl reports no state for the unit (is it installed?): ";

// The machine's power. A run that cannot keep the machine awake, and a wake
// timer for the next backup time that cannot be set: each line is followed
// by the reason.
inline constexpr char kKeepAwakeFailed[] =
    "无法阻止电脑在备份期间进入睡眠，备份可能被睡眠打断！原因：";
inline constexpr char kWakeTimerFailed[] =
    "设置唤醒定时器失败，电脑睡眠时将不会在备份时间醒来备份！原因：";
// A system that cannot be woken by a timer, as the reason.
inline constexpr char kWakeNotSupported[] = "本机不支持定时唤醒";
// A refusal for want of administrator rights, as the reason of a failure.
inline constexpr char kNeedsElevation[] = "拒绝访问，需要以管理员身份运行";

// One run or agent per application folder.
inline constexpr char kLockHeld[] = "another backup or agent is running on the application folder ";
inline constexpr char kLockCannotOpen[] = "cannot open the lock file ";
inline constexpr char kLockFailed[] = "cannot lock ";
// A lock file that is not this program's (see ForeignLockText): head + file
// name + tail, then what it stops: the start of the program or a backup.
inline constexpr char kForeignLockHead[] = "锁文件";
inline constexpr char kForeignLockTail[] =
    "不是本程序的锁文件（可能是他人放置的链接或文件，请删除它）";
inline constexpr char kForeignLockNoStart[] = "，程序无法启动！";
inline constexpr char kForeignLockNoBackup[] = "，无法进行备份操作！";
// What the lock reports about it, for the caller's own log: the path and what
// is there instead.
inline constexpr char kLockNotOurs[] = "the lock file is not this program's: ";
inline constexpr char kLockIsLink[] = " is a link";
inline constexpr char kLockNotRegular[] = " is not a regular file";
inline constexpr char kLockHasOtherNames[] = " has other names (hard links)";
inline constexpr char kLockOtherOwner[] = " belongs to user ";

}  // namespace veltora::app_msg
