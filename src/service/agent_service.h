// The agent as a Windows service: the names the service control manager,
// the installer and the tray program know it by.
#pragma once

namespace veltora {

inline constexpr char kAgentServiceName[] = "VeltoraBackup";
inline constexpr char kAgentServiceDisplayName[] = "青岚账套自动备份服务";
inline constexpr char kAgentServiceDescription[] =
    "按设定的时间备份勾选的账套，无人登录时也能自动备份。";

}  // namespace veltora
