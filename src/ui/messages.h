// Texts of the windows and of the schedule, spelled once. Captions, labels
// and messages are the program's own and are shown exactly as written here.
#pragma once

namespace veltora::ui_msg {

// The schedule.
inline constexpr char kNextBackupPrefix[] = "下次备份时间:";
inline constexpr char kScheduledStartFailed[] = "创建备份线程失败，无法进行备份操作！";

}  // namespace veltora::ui_msg
