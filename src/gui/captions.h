// Captions of the Win32 main window: group boxes, labels, buttons, the list's
// columns and the menus, spelled once. Texts the presenters show themselves
// (the window caption, messages, the status texts) come from their layers'
// messages.h.
#pragma once

namespace veltora::win32::caption {

// The application's own title: the caption of plain notices and error boxes.
inline constexpr char kApplicationTitle[] = "青岚账套自动备份系统";
// The caption of every warning box.
inline constexpr char kWarning[] = "提示！";
// The buttons of the input box.
inline constexpr char kOk[] = "确定";
inline constexpr char kCancel[] = "取消";

// The account sets.
inline constexpr char kAccountsGroup[] = "请选择要备份的账套";
inline constexpr char kEditionGroup[] = "请选择金蝶软件版本";
inline constexpr char kAccountFolder[] = "账套所在文件夹：";
inline constexpr char kBrowse[] = "浏览";
inline constexpr char kSqlGroup[] = "数据库连接设置";
inline constexpr char kUser[] = "用户名：";
inline constexpr char kPassword[] = "密  码：";  // two blanks
inline constexpr char kConnect[] = "连接数据库";
inline constexpr char kColumnTick[] = "选择";
inline constexpr char kColumnNumber[] = "账套号";
inline constexpr char kColumnName[] = "账套名";
inline constexpr char kColumnDatabase[] = "数据库名";
inline constexpr char kTickAll[] = "全选";
inline constexpr char kTickNone[] = "全否";
inline constexpr char kInvertTicks[] = "反选";

// The backup parameters.
inline constexpr char kParametersGroup[] = "数据库备份相关参数设置";
inline constexpr char kServerAccountGroup[] = "服务器上Windows系统的登录帐号设置";
inline constexpr char kRemoteAccountGroup[] = "远程共享文件夹访问帐号设置";
inline constexpr char kReset[] = "重置";
inline constexpr char kMiscGroup[] = "杂项设置";
inline constexpr char kEvery[] = "相隔";
inline constexpr char kDaysOnce[] = "天备份一次";
inline constexpr char kBackupTime[] = "备份时间";
inline constexpr char kRunBackupTask[] = "执行数据库备份任务";
inline constexpr char kLocalFolder[] = "在本机上的备份路径：";
inline constexpr char kRemoteFolder[] = "远程共享文件夹路径：";
inline constexpr char kKeepAtMost[] = "最多保留";
inline constexpr char kKeepNote[] = "个备份文件(注：备份个数的有效范围为0-500，其中0为无限制)";
inline constexpr char kLevel[] = "数据库备份文件压缩等级：";
inline constexpr char kLevelNote[] = "(注：用RAR程序压缩数据库备份文件时使用的压缩等级。)";
inline constexpr char kGuard[] = "防止SQL Server服务被意外停止";
inline constexpr char kConnectTimeout[] = "数据库连接超时(秒)：";
inline constexpr char kCommandTimeout[] = "SQL命令执行超时(秒)：";
inline constexpr char kPasswordGroup[] = "请在这里设置RAR压缩包密码";
inline constexpr char kOldPassword[] = "旧密码：";
inline constexpr char kNewPassword[] = "新密码：";
inline constexpr char kConfirmPassword[] = "确认密码：";

// The operations.
inline constexpr char kOperationsGroup[] = "操作选项";
inline constexpr char kBackupNow[] = "立即备份";
inline constexpr char kLoadSettings[] = "读取设置";
inline constexpr char kSaveSettings[] = "保存设置";
inline constexpr char kBackupLog[] = "备份日志";
inline constexpr char kExitProgram[] = "退出程序";
inline constexpr char kAutostart[] = "自动运行本程序(&R)";

// The status bar's panel: who to ask for help.
inline constexpr char kSupportContact[] = "青岚软件  技术支持";

// The notification area.
inline constexpr char kTrayTip[] = "松禾账套自动备份系统";
inline constexpr char kTrayRestore[] = "设置......";
inline constexpr char kTrayQuit[] = "退出自动备份";

}  // namespace veltora::win32::caption
