// Starting the backup thread on a captured configuration. The runner claims
// the process's backup-running flag with one atomic exchange before it
// creates the thread, so that no two starters (two ticks, a tick and the
// button, two windows' handlers) ever start two runs; the thread releases the
// flag when it ends.
#pragma once

#include <string>

#include "engine/backup_config.h"
#include "ui/schedule.h"

namespace veltora {

class BackupRunner {
 public:
  virtual ~BackupRunner() = default;
  // kStarted: the thread runs on its own copy of `config`. kAlreadyRunning:
  // another run holds the flag (or the application folder), nothing started.
  // kFailed: the thread could not be created; the flag is released again.
  virtual StartOutcome Start(const BackupConfig& config) = 0;
  // Why the last Start answered kFailed, as a text for the user, when the
  // runner knows a reason worth telling (a run lock that is not ours); empty
  // otherwise, and after any other answer.
  virtual std::string StartFailure() const { return {}; }
};

}  // namespace veltora
