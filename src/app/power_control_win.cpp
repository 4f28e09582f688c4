// Keeping the machine awake through a run and waking it for the next backup.
#include <windows.h>

#include <mutex>

#include "app/messages.h"
#include "app/power_control.h"
#include "base/wide_text.h"

namespace veltora {
namespace {

// The reason of a refusal: a refused access says what it needs.
std::string ReasonOf(DWORD code) {
  if (code == ERROR_ACCESS_DENIED) return app_msg::kNeedsElevation;
  return WindowsErrorText(code);
}

class WindowsPowerControl final : public PowerControl {
 public:
  ~WindowsPowerControl() override { CancelWakeTimer(); }

  bool KeepAwake(std::string& error) override {
    if (::SetThreadExecutionState(ES_SYSTEM_REQUIRED | ES_CONTINUOUS) != 0) return true;
    error = ReasonOf(::GetLastError());
    return false;
  }

  // ES_CONTINUOUS alone clears the thread's request; the display and the
  // system may sleep again when idle.
  void Release() override { ::SetThreadExecutionState(ES_CONTINUOUS); }

  bool SetWakeTimer(const LocalTime& when, std::string& error) override {
    std::lock_guard lock(mutex_);
    // The local time as the system's UTC file time: an absolute due time
    // (positive) that a change of the clock or a sleep does not shift.
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(when.year);
    local.wMonth = static_cast<WORD>(when.month);
    local.wDay = static_cast<WORD>(when.day);
    local.wHour = static_cast<WORD>(when.hour);
    local.wMinute = static_cast<WORD>(when.minute);
    local.wSecond = static_cast<WORD>(when.second);
    SYSTEMTIME utc{};
    FILETIME due{};
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
        !::SystemTimeToFileTime(&utc, &due)) {
      error = ReasonOf(::GetLastError());
      return false;
    }
    if (timer_ == nullptr) {
      timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET,
                                        TIMER_MODIFY_STATE | SYNCHRONIZE);
      if (timer_ == nullptr) {
        error = ReasonOf(::GetLastError());
        return false;
      }
    }
    LARGE_INTEGER dueTime{};
    dueTime.LowPart = due.dwLowDateTime;
    dueTime.HighPart = static_cast<LONG>(due.dwHighDateTime);
    ::SetLastError(ERROR_SUCCESS);
    if (!::SetWaitableTimer(timer_, &dueTime, 0, nullptr, nullptr, TRUE)) {
      error = ReasonOf(::GetLastError());
      return false;
    }
    // The timer runs, but a system without wake support will not resume
    // for it: the call succeeds and says so only here.
    if (::GetLastError() == ERROR_NOT_SUPPORTED) {
      error = app_msg::kWakeNotSupported;
      return false;
    }
    return true;
  }

  void CancelWakeTimer() override {
    std::lock_guard lock(mutex_);
    if (timer_ == nullptr) return;
    ::CancelWaitableTimer(timer_);
    ::CloseHandle(timer_);
    timer_ = nullptr;
  }

 private:
  std::mutex mutex_;
  HANDLE timer_ = nullptr;
};

}  // namespace

std::unique_ptr<PowerControl> MakeSystemPowerControl() {
  return std::make_unique<WindowsPowerControl>();
}

}  // namespace veltora
