// Where a window's long work runs: away from the window's thread, so that the
// window keeps painting and answering while a restore reads and writes
// gigabytes. The window's composition gives a real thread; tests and front
// ends without a message loop run the work at once.
#pragma once

#include <functional>
#include <utility>

namespace veltora {

class BackgroundWork {
 public:
  // Waits for work that is still running: nothing it refers to may go first.
  virtual ~BackgroundWork() = default;
  // Runs `work`, after the work started before has ended (one piece at a
  // time). `work` must not throw.
  virtual void Start(std::function<void()> work) = 0;
  // Returns once the work started last has ended.
  virtual void Wait() = 0;
};

// The work runs on the calling thread, inside Start.
class ImmediateWork final : public BackgroundWork {
 public:
  void Start(std::function<void()> work) override { std::move(work)(); }
  void Wait() override {}
};

}  // namespace veltora
