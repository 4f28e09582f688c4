// Keeping SQL Server's default instance running: the one-shot check made
// before the agent needs the server, and the guard thread that repeats it
// while the guard option is on.
//
// Both decide on the state text alone: 停止 → start, 暂停 → continue, anything
// else (running, a pending state, 错误) → nothing this time. Neither waits for
// the new state. A request the service manager refuses (a program without
// administrator rights may not start a service) is written to the run log with
// its reason: by the one-shot check each time, by the guard once until a
// request succeeds again.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/line_log.h"
#include "service/service_manager.h"

namespace veltora {

// The service of SQL Server's default instance.
inline constexpr char kSqlServerService[] = "MSSQLSERVER";

// Reads the state of "MSSQLSERVER" and starts or continues it as above.
// Answers the run-log line of a refused request ("启动SQL Server服务失败！原因：…"),
// empty when none was refused.
std::string CheckSqlServerState(ServiceManager& manager);

// Does nothing while `guardRunning` is set (the guard looks after the
// service) or when no installed service has "MSSQLSERVER" in its name or
// display name (any letter case); otherwise runs CheckSqlServerState and
// writes its refusal line to `log`. Every error is swallowed.
void EnsureSqlServerRunning(ServiceManager& manager, const std::atomic<bool>& guardRunning,
                            LineLog& log);

// The process-wide flags the guard works with. The guard only reads the
// switch and the configured flag; it alone writes `guardRunning`.
struct GuardFlags {
  const std::atomic<bool>& guardSwitch;  // the guard option is on
  const std::atomic<bool>& configured;   // settings exist, the automatic service is on
  std::atomic<bool>& guardRunning;       // a guard thread is inside its loop
};

// The guard thread. Each pass sets the guard-running flag, ends the thread
// when the switch or the configured flag is clear or when no MSSQLSERVER
// service is installed, runs CheckSqlServerState and waits `interval`. The
// wait ends early for Wake and Stop, so neither a cleared switch nor the
// agent's shutdown has to sit out the interval. Any error ends the thread;
// the guard-running flag is clear whenever it has ended.
//
// Start, Wake and Stop are called from one controlling thread.
class SqlServerGuard {
 public:
  static constexpr std::chrono::milliseconds kDefaultInterval{5000};

  SqlServerGuard(ServiceManager& manager, GuardFlags flags, LineLog& log,
                 std::chrono::milliseconds interval = kDefaultInterval);
  ~SqlServerGuard();  // Stop()

  SqlServerGuard(const SqlServerGuard&) = delete;
  SqlServerGuard& operator=(const SqlServerGuard&) = delete;

  // Starts the thread unless a guard runs already: the guard-running flag is
  // claimed here by one exchange, so two starts never make two guards. False
  // when the thread cannot be created; that is written to the run log.
  bool Start();

  // The guard looks at its flags now rather than after its wait: call it
  // after clearing the guard switch or the configured flag.
  void Wake();

  // Ends the thread and waits for it; returns at once when none runs.
  void Stop();

 private:
  void Run();
  void Loop();

  ServiceManager& manager_;
  GuardFlags flags_;
  LineLog& log_;
  const std::chrono::milliseconds interval_;

  std::mutex mutex_;
  std::condition_variable wakeUp_;
  bool stopRequested_ = false;  // under mutex_
  bool woken_ = false;          // under mutex_
  // The refusal line last written by the guard thread: not repeated each pass.
  std::string lastRefusal_;
  std::thread thread_;
};

}  // namespace veltora
