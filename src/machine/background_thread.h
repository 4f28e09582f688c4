// The windows' background work on a thread of its own: one thread per piece
// of work, joined before the next one starts and when the work object goes.
#pragma once

#include <functional>
#include <thread>

#include "ui/background_work.h"

namespace veltora {

class BackgroundThread final : public BackgroundWork {
 public:
  BackgroundThread() = default;
  ~BackgroundThread() override;
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;

  // Called from the thread that owns this object, never from the work.
  void Start(std::function<void()> work) override;
  void Wait() override;

 private:
  std::thread thread_;
};

}  // namespace veltora
