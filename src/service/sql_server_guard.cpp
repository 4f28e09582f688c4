#include "service/sql_server_guard.h"

#include <exception>
#include <system_error>

#include "service/messages.h"

namespace veltora {

std::string CheckSqlServerState(ServiceManager& manager) {
  const std::string state = manager.GetServiceInfoText(kSqlServerService);
  std::string reason;
  if (state == service_msg::kStopped) {
    if (!manager.ControlServiceByName(kSqlServerService, ServiceAction::Start, &reason))
      return service_msg::kSqlServerStartFailed + reason;
  } else if (state == service_msg::kPaused) {
    if (!manager.ControlServiceByName(kSqlServerService, ServiceAction::Continue, &reason))
      return service_msg::kSqlServerContinueFailed + reason;
  }
  return {};
}

void EnsureSqlServerRunning(ServiceManager& manager, const std::atomic<bool>& guardRunning,
                            LineLog& log) {
  if (guardRunning) return;
  try {
    if (CountServices(manager, kSqlServerService, true) == 0) return;
    if (const std::string refusal = CheckSqlServerState(manager); !refusal.empty())
      log.Append(refusal);
  } catch (const std::exception&) {
    // The backup goes on; connecting to the server will tell what is wrong.
  }
}

SqlServerGuard::SqlServerGuard(ServiceManager& manager, GuardFlags flags, LineLog& log,
                               std::chrono::milliseconds interval)
    : manager_(manager), flags_(flags), log_(log), interval_(interval) {}

SqlServerGuard::~SqlServerGuard() { Stop(); }

bool SqlServerGuard::Start() {
  if (flags_.guardRunning.exchange(true)) return true;
  // A guard that ended by itself leaves its thread to be joined.
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = false;
    woken_ = false;
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    flags_.guardRunning = false;
    log_.Append(service_msg::kGuardThreadFailed);
    return false;
  }
  return true;
}

void SqlServerGuard::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wakeUp_.notify_all();
}

void SqlServerGuard::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  wakeUp_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SqlServerGuard::Run() {
  try {
    Loop();
  } catch (const std::exception&) {
    // The guard ends; the next save with the option on starts a new one.
  }
  flags_.guardRunning = false;
}

void SqlServerGuard::Loop() {
  for (;;) {
    flags_.guardRunning = true;
    {
      std::lock_guard lock(mutex_);
      if (stopRequested_) return;
    }
    if (!flags_.guardSwitch || !flags_.configured) return;
    if (CountServices(manager_, kSqlServerService, true) == 0) return;
    // A refusal stays while nobody changes the rights: said once, and again
    // only after a pass without it.
    const std::string refusal = CheckSqlServerState(manager_);
    if (!refusal.empty() && refusal != lastRefusal_) log_.Append(refusal);
    lastRefusal_ = refusal;

    std::unique_lock lock(mutex_);
    wakeUp_.wait_for(lock, interval_, [this] { return stopRequested_ || woken_; });
    woken_ = false;
  }
}

}  // namespace veltora
