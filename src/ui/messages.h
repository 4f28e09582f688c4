// Texts of the windows and of the schedule, spelled once. Captions, labels
// and messages are the program's own and are shown exactly as written here.
#pragma once

namespace veltora::ui_msg {

// The schedule.
inline constexpr char kNextBackupPrefix[] = "下次备份时间:";
inline constexpr char kScheduledStartFailed[] = "创建备份线程失败，无法进行备份操作！";

// Start-up and closing of the main window. The start-up refusals themselves
// (blank in the path, second instance, no administrator) come from app_msg.
inline constexpr char kStartupDatabaseError[] = "系统启动出错，错误号0002....";
inline constexpr char kNotConfigured[] = "您好，您尚未进行备份设置，请进行相关的设置！";
inline constexpr char kStartupFailed[] = "程序启动失败！";
inline constexpr char kStartupSucceeded[] = "程序启动成功！";
inline constexpr char kCloseRefusedBackupRunning[] =
    "您好，有线程正在运行无法退出，如您强行退出会导致线程残留！";
inline constexpr char kServiceStopped[] = "服务停止成功！";
inline constexpr char kProgramStopped[] = "程序停止成功！";
inline constexpr char kProtectionReleased[] = "解除进程保护成功！";
inline constexpr char kCloseFailed[] = "关闭程序过程中发生异常！";
inline constexpr char kEndSessionRefused[] =
    "操作系统试图退出，但数据库备份线程正在运行，禁止退出！";
inline constexpr char kEndSessionAccepted[] = "由于系统退出，程序被迫关闭！";
inline constexpr char kEndSessionFailed[] = "操作系统退出过程中，程序发生错误！";

// The backup-state label of the top strip.
inline constexpr char kStatusRunning[] = "正在执行备份操作";
inline constexpr char kStatusIdle[] = "当前无备份操作";

// "立即备份".
inline constexpr char kBackupNowNotConfigured[] =
    "您好，程序缺乏相关的配置信息，无法进行数据库的备份操作，请先对相关的信息进行配置并点击["
    "保存设置]"
    "按钮，然后再单击本按钮！";
inline constexpr char kBackupNowAlreadyRunning[] =
    "您好，已有一个备份线程正在运行，无需同时启动多个备份线程！";
inline constexpr char kBackupNowNothingTicked[] = "您好，请先选择好需要备份的账套!";
inline constexpr char kBackupNowStartFailed[] =
    "您好，备份线程启动失败，无法进行数据库的备份操作！";
inline constexpr char kBackupNowStarted[] =
    "您好，系统正在执行您的备份指令，待备份完成后，您可以在备份日志里查看备份执行的情况!";

// The start-with-the-system box. Its warnings repeat the run-log lines of
// app_msg (kAutostartWriteFailed, kAutostartRemoveFailed).
inline constexpr char kAutostartError[] = "您好，操作程序自启动过程中发生错误可能的原因为：";

// The backup log window.
inline constexpr char kBackupLogCaption[] = "备份日志";
inline constexpr char kBackupLogCloseButton[] = "关         闭";  // nine blanks
inline constexpr char kBackupLogRefresh[] = "刷新";
inline constexpr char kBackupLogQueryFailed[] = "查询备份日志出错";
struct BackupLogColumn {
  const char* title;
  int width;  // pixels at 96 DPI
};
// In the order of BackupLogRow's members.
inline constexpr BackupLogColumn kBackupLogColumns[] = {
    {"账套名", 140}, {"备份文件", 305}, {"备份时间", 127}, {"备注", 100}, {"压缩密码", 70},
};

}  // namespace veltora::ui_msg
