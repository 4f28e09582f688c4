// The process-wide state of one running agent: the flags every thread reads and
// the two paths fixed at start-up. The entry point creates one ProcessState and
// passes it by reference; there is no global instance.
#pragma once

#include <atomic>
#include <string>

#include "app/messages.h"
#include "base/path.h"

namespace veltora {

// The run-log file in the application folder; empty when the folder is unknown,
// which turns every run-log write into a no-op.
inline std::string RunLogPathFor(const std::string& appFolder) {
  if (appFolder.empty()) return {};
  return JoinPath(appFolder, app_msg::kRunLogFileName);
}

struct ProcessState {
  explicit ProcessState(const std::string& folder)
      : appFolder(folder.empty() ? std::string() : WithTrailingSeparator(folder)),
        runLogPath(RunLogPathFor(folder)) {}

  ProcessState(const ProcessState&) = delete;
  ProcessState& operator=(const ProcessState&) = delete;

  const std::string appFolder;   // with one trailing separator; empty when unknown
  const std::string runLogPath;  // appFolder + "程序运行日志.txt"; empty when unknown

  // The flags of the schedule, the guard and the window join these as their
  // users arrive.
  std::atomic<bool> configured{false};     // settings loaded, the schedule may run
  std::atomic<bool> backupRunning{false};  // claimed by the backup thread by exchange
  std::atomic<bool> guardSwitch{false};    // the SQL Server guard option is on
  std::atomic<bool> guardRunning{false};   // a guard thread is inside its loop
};

}  // namespace veltora
