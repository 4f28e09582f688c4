// The agent's stop request: SIGTERM (the service manager, the end of the
// session) and SIGINT (Ctrl-C in a terminal). Both are blocked in the thread
// that creates a StopSignals, and in every thread it creates afterwards, so
// they are only ever taken by WaitFor and never end the process by default.
#pragma once

#include <chrono>
#include <csignal>

namespace veltora {

class StopSignals {
 public:
  // Create it before any other thread exists.
  StopSignals();
  // Restores the signal mask the thread had.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Sleeps until a stop signal comes or `timeout` has passed; a signal that
  // came before the call ends it at once. True when a signal was taken.
  bool WaitFor(std::chrono::nanoseconds timeout);

 private:
  sigset_t stopSet_;
  sigset_t previous_;
};

}  // namespace veltora
