// The progress of one pass of a copy, as every platform's copy reports it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "files/file_ops.h"

namespace veltora::internal {

// Reports one pass of a copy: the first chunk at once, so that a caller
// learns early that the pass is under way, later ones at most every 250 ms,
// and the pass's end.
class ProgressReporter {
 public:
  ProgressReporter(const CopyProgress& progress, std::uint64_t total,
                   CopyPass pass = CopyPass::kWrite)
      : progress_(progress), total_(total), pass_(pass) {}
  void Report(std::uint64_t done) {
    if (!progress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (reported_ && now - last_ < std::chrono::milliseconds(250)) return;
    reported_ = true;
    last_ = now;
    progress_(pass_, done, std::max(total_, done));
  }
  // The pass is complete: done == total.
  void Complete(std::uint64_t done) {
    if (progress_) progress_(pass_, done, done);
  }

 private:
  const CopyProgress& progress_;
  const std::uint64_t total_;
  const CopyPass pass_;
  bool reported_ = false;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace veltora::internal
