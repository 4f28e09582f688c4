#include "machine/background_thread.h"

#include <utility>

namespace veltora {

BackgroundThread::~BackgroundThread() { Wait(); }

void BackgroundThread::Start(std::function<void()> work) {
  // The work before has handed its result to the window and is ending.
  Wait();
  thread_ = std::thread(std::move(work));
}

void BackgroundThread::Wait() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace veltora
