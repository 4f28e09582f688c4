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

}  // namespace veltora::service_msg
