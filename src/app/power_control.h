// The machine's power as a backup agent needs it: kept awake while a run
// works, and woken from sleep for the next backup time.
//
// Windows: SetThreadExecutionState(ES_SYSTEM_REQUIRED | ES_CONTINUOUS) for the
// calling thread, and one waitable timer made to resume the system, held open
// by the PowerControl (closing it would cancel the wake). POSIX: nothing; the
// agent there runs on machines that a service manager keeps up, and a timer
// that resumes the system is the firmware's business (rtcwake), not a
// process's. Every operation then succeeds without doing anything.
//
// Made in the composition root and handed down; nothing below it calls the
// platform directly.
#pragma once

#include <memory>
#include <string>

#include "base/date_time.h"
#include "base/line_log.h"

namespace veltora {

class PowerControl {
 public:
  virtual ~PowerControl() = default;
  // Keeps the system from sleeping until Release, both called on the same
  // thread (the request belongs to the thread that made it, and its end
  // releases it too). False with the reason in `error`.
  virtual bool KeepAwake(std::string& error) = 0;
  virtual void Release() = 0;
  // Arms the one wake timer for `when` (local time): a sleeping machine
  // resumes then. A later call moves it. False with the reason in `error`,
  // also when the timer is set but the machine cannot be resumed by it.
  virtual bool SetWakeTimer(const LocalTime& when, std::string& error) = 0;
  virtual void CancelWakeTimer() = 0;
};

// The platform's power control (see above).
std::unique_ptr<PowerControl> MakeSystemPowerControl();

// Keeps the machine awake for its scope, on the thread that makes it. A
// refusal is written to `log` once, with its reason; the run goes on. A null
// `power` holds nothing.
class KeepAwakeHold {
 public:
  KeepAwakeHold(PowerControl* power, LineLog& log);
  ~KeepAwakeHold();
  KeepAwakeHold(const KeepAwakeHold&) = delete;
  KeepAwakeHold& operator=(const KeepAwakeHold&) = delete;

 private:
  PowerControl* held_ = nullptr;
};

}  // namespace veltora
