#include "app/power_control.h"

#include "app/messages.h"

namespace veltora {

KeepAwakeHold::KeepAwakeHold(PowerControl* power, LineLog& log) {
  if (power == nullptr) return;
  std::string error;
  if (power->KeepAwake(error)) {
    held_ = power;
  } else {
    log.Append(app_msg::kKeepAwakeFailed + error);
  }
}

KeepAwakeHold::~KeepAwakeHold() {
  if (held_ != nullptr) held_->Release();
}

}  // namespace veltora
