#include "engine/progress.h"

#include <algorithm>

namespace veltora {

StepProgress::StepProgress(const ProgressListener& listener, ProgressStage stage,
                           const std::string& item, std::uint64_t total)
    : listener_(listener) {
  if (!listener_) return;  // nobody listens: not even the item is copied
  report_.stage = stage;
  report_.item = item;
  report_.total = total;
  report_.percent = -1;
}

void StepProgress::Bytes(std::uint64_t done, std::uint64_t total) noexcept {
  if (!listener_) return;
  report_.total = total;
  const int percent = total == 0 ? 100 : static_cast<int>(std::min(done, total) * 100 / total);
  Send(percent, false, std::min(done, total));
}

void StepProgress::Send(int percent, bool always, std::optional<std::uint64_t> done) noexcept {
  if (!listener_) return;
  percent = std::clamp(percent, 0, 100);
  if (!always && percent <= report_.percent) return;
  report_.percent = percent;
  const auto p = static_cast<std::uint64_t>(percent);
  report_.done = done ? *done : report_.total / 100 * p + report_.total % 100 * p / 100;
  try {
    listener_(report_);
  } catch (...) {
    // A display that fails is no failure of the run.
  }
}

CopyProgress StepProgress::ForCopyWrites() {
  if (!listener_) return {};
  return [this](CopyPass pass, std::uint64_t done, std::uint64_t total) {
    if (pass == CopyPass::kWrite) Bytes(done, total);
  };
}

}  // namespace veltora
