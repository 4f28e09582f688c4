// Texts of the service layer, spelled once: a service's state as the agent
// shows and decides on it, and the guard's run-log line.
#pragma once

namespace veltora::service_msg {

// A service's current state.
inline constexpr char kStopped[] = "停止";
inline constexpr char kStartPending[] = "正在启动";
inline constexpr char kStopPending[] = "正在停止";
inline constexpr char kRunning[] = "运行中";
inline constexpr char kContinuePending[] = "继续";
inline constexpr char kPausePending[] = "正在暂停";
inline constexpr char kPaused[] = "暂停";
inline constexpr char kUnknownState[] = "未知状态";
// A service's type, compared as a whole value.
inline constexpr char kKernelDriver[] = "核心驱动";
inline constexpr char kFileSystemDriver[] = "文件系统驱动";
inline constexpr char kOwnProcess[] = "专用线程";
inline constexpr char kSharedProcess[] = "共享线程";
inline constexpr char kInteractiveProcess[] = "交互线程";
// Followed by the value in decimal.
inline constexpr char kUnknownTypePrefix[] = "未知类型：";

// The controls a service accepts, compared as a whole value.
inline constexpr char kAcceptsNone[] = "禁用或手动";
inline constexpr char kAcceptsStop[] = "允许停止";
inline constexpr char kAcceptsPauseContinue[] = "允许暂停或继续";
inline constexpr char kAcceptsShutdown[] = "系统控制";
// Followed by the value in decimal.
inline constexpr char kUnknownControlsPrefix[] = "未知状态：";

// The service does not exist, or its state could not be read.
inline constexpr char kError[] = "错误";

// A start or continue of SQL Server that the service manager refused, followed
// by the reason.
inline constexpr char kSqlServerStartFailed[] = "启动SQL Server服务失败！原因：";
inline constexpr char kSqlServerContinueFailed[] = "继续SQL Server服务失败！原因：";
// The reasons: a refused access, the service manager's tool that answered
// with an exit status (followed by it), and a reason not known.
inline constexpr char kAccessDenied[] = "拒绝访问，需要以管理员身份运行";
inline constexpr char kToolExitStatus[] = "systemctl 退出状态 ";
inline constexpr char kReasonUnknown[] = "未知";

// The guard thread could not be created; the agent carries on without it.
inline constexpr char kGuardThreadFailed[] = "创建SQL Server保护线程失败！";

// `veltora-cli service`: what was done to the agent's service, and why an
// operation failed.
inline constexpr char kAgentInstalled[] = "服务已安装，随系统启动（延迟启动），应用程序目录：";
inline constexpr char kAgentUpdated[] =
    "服务已安装过，已更新其命令行和设置（服务下次启动时生效），应用程序目录：";
inline constexpr char kAgentUninstalled[] = "服务已删除";
inline constexpr char kAgentNotInstalledNothingToRemove[] = "服务未安装，无需删除";
inline constexpr char kAgentStarted[] = "服务已启动，状态：";
inline constexpr char kAgentAlreadyRunning[] = "服务已在运行";
inline constexpr char kAgentStopped[] = "服务已停止";
inline constexpr char kAgentNotRunning[] = "服务没有运行";
inline constexpr char kAgentNotInstalled[] = "未安装";
inline constexpr char kAgentInstallFailed[] = "安装服务失败：";
inline constexpr char kAgentUninstallFailed[] = "删除服务失败：";
inline constexpr char kAgentStartFailed[] = "启动服务失败：";
inline constexpr char kAgentStopFailed[] = "停止服务失败：";
inline constexpr char kAgentQueryFailed[] = "读取服务状态失败：";
// The service did not get there in time, followed by its state.
inline constexpr char kAgentStartTimedOut[] = "服务没有及时进入运行状态，当前状态：";
inline constexpr char kAgentStopTimedOut[] =
    "服务没有及时停止（正在进行的备份结束后服务才停止），当前状态：";
// It ended at once: its reason is in the run log. Followed by its exit code.
inline constexpr char kAgentEndedAfterStart[] =
    "服务启动后随即停止，原因请查看应用程序目录中的运行日志。退出代码：";
// Stopped before deletion did not finish in time: it goes once it has stopped.
inline constexpr char kAgentMarkedForDeletion[] =
    "服务没有及时停止，已标记为删除，停止后即被删除；当前状态：";

// Why the service manager refused, in the user's words.
inline constexpr char kAgentNeedsElevation[] =
    "拒绝访问，需要管理员权限：请在“以管理员身份运行”的命令提示符中执行此命令";
inline constexpr char kAgentServiceMissing[] = "服务未安装";
inline constexpr char kAgentServiceExists[] = "已有同名的服务";
inline constexpr char kAgentServiceDeleting[] =
    "服务已标记为删除，尚未删除完毕：请关闭“服务”管理窗口后再试，或重新启动计算机";
inline constexpr char kAgentServiceDisabled[] = "服务已被禁用，请先在“服务”管理窗口中启用";
inline constexpr char kAgentManagerLocked[] = "服务控制管理器的数据库已被锁定，请稍后再试";
inline constexpr char kAgentNoResponse[] = "服务没有及时响应请求";
inline constexpr char kAgentCannotAcceptControl[] = "服务当前无法接受此请求（正在启动或停止）";
inline constexpr char kAgentManagerUnreachable[] = "无法连接服务控制管理器：";
inline constexpr char kAgentWindowsOnly[] =
    "Windows 服务只用于 Windows。在 Linux 上，代理程序由 systemd 单元 veltora.service "
    "运行（resources/veltora.service）：systemctl enable --now veltora.service";

}  // namespace veltora::service_msg
