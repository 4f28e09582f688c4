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
// The service does not exist, or its state could not be read.
inline constexpr char kError[] = "错误";

// The guard thread could not be created; the agent carries on without it.
inline constexpr char kGuardThreadFailed[] = "创建SQL Server保护线程失败！";

}  // namespace veltora::service_msg
