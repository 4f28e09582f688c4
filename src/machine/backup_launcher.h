// The backup runner of the agent and the window: each start claims the
// process's backup-running flag, then the application folder's run lock, then
// starts a thread that makes one run on its own copy of the configuration and
// its own freshly composed services. The thread releases the lock and then the
// flag when the run ends, however it ends.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/power_control.h"
#include "app/process_state.h"
#include "engine/backup_job.h"
#include "ui/backup_runner.h"

namespace veltora {

// What one run works with: its services and everything they refer to, owned
// together and dropped when the run ends.
class RunServices {
 public:
  virtual ~RunServices() = default;
  virtual const BackupServices& services() const = 0;
};

// Composes the services of one run (the front end's composition root); may
// throw when they cannot be made.
using RunServicesFactory = std::function<std::unique_ptr<RunServices>()>;

// Creates the thread that runs `body`; throws (std::system_error) when it
// cannot. Injected by tests; the default makes a std::thread.
using ThreadMaker = std::function<std::thread(std::function<void()> body)>;

class ThreadBackupRunner final : public BackupRunner {
 public:
  // Hears, on the run's thread, how each run ended: nothing when it did not
  // run (the configured flag was clear). Exceptions from it are swallowed.
  using RunEnded = std::function<void(const BackupConfig& config,
                                      const std::optional<BackupRunSummary>& summary)>;

  // `power` keeps the machine awake on the run's thread for the whole run,
  // `runEnded` (a scheduled run's test restore) included; null: no hold.
  ThreadBackupRunner(ProcessState& state, RunServicesFactory makeServices,
                     ThreadMaker makeThread = {}, RunEnded runEnded = {},
                     PowerControl* power = nullptr);
  // Waits for a run that is still under way.
  ~ThreadBackupRunner() override;

  ThreadBackupRunner(const ThreadBackupRunner&) = delete;
  ThreadBackupRunner& operator=(const ThreadBackupRunner&) = delete;

  // kAlreadyRunning when this process's flag is set (nothing touched) or when
  // another process holds the run lock (the flag released again); kFailed when
  // the services cannot be composed, the lock file cannot be opened or is not
  // ours, or the thread cannot be created (flag and lock released again).
  StartOutcome Start(const BackupConfig& config) override;
  // After a kFailed for a run lock that is not ours (see AppFolderLock):
  // "锁文件veltora-backup.lock不是本程序的锁文件…，无法进行备份操作！".
  std::string StartFailure() const override;

  // Returns once the last run started has ended (at once when none was).
  void Wait();

 private:
  ProcessState& state_;
  RunServicesFactory makeServices_;
  ThreadMaker makeThread_;
  RunEnded runEnded_;
  PowerControl* power_;
  void SetStartFailure(std::string text);

  std::mutex mutex_;  // Start and Wait against each other
  std::thread thread_;
  // Its own lock: asking why a start failed must not wait for a run to end.
  mutable std::mutex failureMutex_;
  std::string startFailure_;
};

}  // namespace veltora
