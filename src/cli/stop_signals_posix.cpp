#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "cli/stop_signals.h"

namespace veltora {

StopSignals::StopSignals(bool) {
  sigemptyset(&stopSet_);
  sigaddset(&stopSet_, SIGTERM);
  sigaddset(&stopSet_, SIGINT);
  // A hang-up (the terminal closed, a service manager's reload signal) stops
  // the agent the same way, after the running backup, rather than killing it.
  sigaddset(&stopSet_, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSet_, &previous_);
}

StopSignals::~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

bool StopSignals::WaitFor(std::chrono::nanoseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() < 0) return false;
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
    wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
    siginfo_t info{};
    if (sigtimedwait(&stopSet_, &info, &wait) >= 0) return true;
    // EAGAIN: the time is up. EINTR: another signal's handler ran; wait on.
    if (errno != EINTR) return false;
  }
}

// Pending for the process while the loop's thread has it blocked; taken by
// the next WaitFor.
void StopSignals::Request() { ::kill(::getpid(), SIGTERM); }

}  // namespace veltora
