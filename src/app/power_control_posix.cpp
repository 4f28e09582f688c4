// POSIX keeps no machine awake and arms no wake: see power_control.h.
#include "app/power_control.h"

namespace veltora {
namespace {

class NoPowerControl final : public PowerControl {
 public:
  bool KeepAwake(std::string&) override { return true; }
  void Release() override {}
  bool SetWakeTimer(const LocalTime&, std::string&) override { return true; }
  void CancelWakeTimer() override {}
};

}  // namespace

std::unique_ptr<PowerControl> MakeSystemPowerControl() {
  return std::make_unique<NoPowerControl>();
}

}  // namespace veltora
