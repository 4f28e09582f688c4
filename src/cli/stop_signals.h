// The agent's stop request: SIGTERM (the service manager, the end of the
// session), SIGINT (Ctrl-C in a terminal) and SIGHUP (the terminal closed).
// They are blocked in the thread
// that creates a StopSignals, and in every thread it creates afterwards, so
// they are only ever taken by WaitFor and never end the process by default.
// On Windows the console's control events stand for them (Ctrl-C, Ctrl-Break,
// the console closed, the session ending): a handler takes them in place of
// the default that ends the process, and for the last three it holds the
// process until the agent has finished, as Windows ends it once the handler
// returns.
// Each request is taken by one WaitFor: a request refused while a backup runs
// does not end the next wait again.
#pragma once

#include <chrono>
#include <csignal>

namespace veltora {

class StopSignals {
 public:
  // Create it before any other thread exists. Without `consoleEvents` (the
  // Windows service) the console's events are left alone: a service hears
  // every user's log-off through them, which is no stop of the service.
  explicit StopSignals(bool consoleEvents = true);
  // Restores the signal mask the thread had.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Sleeps until a stop signal comes or `timeout` has passed; a signal that
  // came before the call ends it at once. True when a signal was taken.
  bool WaitFor(std::chrono::nanoseconds timeout);

  // Asks for the stop as a signal would, from any thread: the Windows service
  // manager's stop, shutdown and pre-shutdown reach the loop this way.
  static void Request();

 private:
#ifdef _WIN32
  bool consoleEvents_;
#else
  sigset_t stopSet_;
  sigset_t previous_;
#endif
};

}  // namespace veltora
