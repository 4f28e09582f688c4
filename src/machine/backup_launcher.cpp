#include "machine/backup_launcher.h"

#include <utility>

#include "app/single_instance.h"

namespace veltora {
namespace {

// Clears the backup-running flag when the claim goes out of scope, unless it
// was handed on to the run.
class FlagClaim {
 public:
  explicit FlagClaim(std::atomic<bool>& flag) : flag_(&flag) {}
  ~FlagClaim() {
    if (flag_ != nullptr) flag_->store(false);
  }
  FlagClaim(FlagClaim&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
  FlagClaim(const FlagClaim&) = delete;
  FlagClaim& operator=(const FlagClaim&) = delete;
  FlagClaim& operator=(FlagClaim&&) = delete;

 private:
  std::atomic<bool>* flag_;
};

// What the thread owns for its run. Members are released in reverse order:
// the services first, then the run lock, and the flag last, so that a start
// that finds the flag clear also finds the lock free.
struct ClaimedRun {
  FlagClaim flag;
  std::unique_ptr<AppFolderLock> lock;
  std::unique_ptr<RunServices> services;
  BackupConfig config;
};

}  // namespace

ThreadBackupRunner::ThreadBackupRunner(ProcessState& state, RunServicesFactory makeServices,
                                       ThreadMaker makeThread, RunEnded runEnded,
                                       PowerControl* power)
    : state_(state),
      makeServices_(std::move(makeServices)),
      makeThread_(std::move(makeThread)),
      runEnded_(std::move(runEnded)),
      power_(power) {
  if (!makeThread_)
    makeThread_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
}

ThreadBackupRunner::~ThreadBackupRunner() { Wait(); }

StartOutcome ThreadBackupRunner::Start(const BackupConfig& config) {
  std::lock_guard guard(mutex_);
  SetStartFailure({});
  // The claim comes first: between here and the thread's start nobody else
  // can start a run in this process.
  if (state_.backupRunning.exchange(true)) return StartOutcome::kAlreadyRunning;
  FlagClaim flag(state_.backupRunning);

  // The run that set the flag before has released it, so its thread is at its
  // very end: joining it costs nothing and keeps one thread object.
  if (thread_.joinable()) thread_.join();

  std::string lockError;
  bool held = false;
  bool foreign = false;
  auto lock =
      AppFolderLock::TryAcquire(state_.appFolder, kRunLockFileName, lockError, &held, &foreign);
  if (!lock) {
    if (foreign) SetStartFailure(ForeignLockText(kRunLockFileName) + app_msg::kForeignLockNoBackup);
    return held ? StartOutcome::kAlreadyRunning : StartOutcome::kFailed;
  }

  try {
    auto run = std::make_shared<ClaimedRun>(
        ClaimedRun{std::move(flag), std::move(lock), makeServices_(), config});
    thread_ = makeThread_([run, &configured = state_.configured, ended = runEnded_,
                           power = power_]() mutable {
      // Errors of the run end in the run log; nothing may leave the thread.
      try {
        // Asleep, a run would stop halfway: the machine stays up until the
        // run and its test restore have ended, however they end.
        const KeepAwakeHold awake(power, run->services->services().log);
        const auto summary = RunClaimedBackup(run->config, configured, run->services->services());
        if (ended) ended(run->config, summary);
      } catch (...) {
      }
      run.reset();  // services, lock, flag: released here, in that order
    });
  } catch (...) {
    // Whatever part of the claimed run was made is dropped on the way out:
    // lock and flag are free again.
    return StartOutcome::kFailed;
  }
  return StartOutcome::kStarted;
}

std::string ThreadBackupRunner::StartFailure() const {
  std::lock_guard guard(failureMutex_);
  return startFailure_;
}

void ThreadBackupRunner::SetStartFailure(std::string text) {
  std::lock_guard guard(failureMutex_);
  startFailure_ = std::move(text);
}

void ThreadBackupRunner::Wait() {
  std::lock_guard guard(mutex_);
  if (thread_.joinable()) thread_.join();
}

}  // namespace veltora
