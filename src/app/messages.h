// Texts of the application shell, spelled once. The run log's own texts come
// first; start-up, shutdown and autostart texts join them here.
#pragma once

namespace veltora::app_msg {

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

}  // namespace veltora::app_msg
