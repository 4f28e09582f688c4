// Texts this module writes into the backup table. They are shown to the user in
// the backup log window, so they are kept exactly as the system defines them.
#pragma once

namespace veltora::settings_messages {

// bz of a row for one backup copied to the remote share.
inline constexpr char kRemoteCopyRemark[] = "远程备份";
// localbakfile of the row that says nothing reached the share: the remote
// folder immediately followed by this text.
inline constexpr char kRemoteFailureSuffix[] = "远程备份失败";
// bz of that row.
inline constexpr char kRemoteFailureRemark[] = "具体原因请查看程序运行日志文件";

}  // namespace veltora::settings_messages
