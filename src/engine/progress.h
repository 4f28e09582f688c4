// Progress of the long steps of a backup run, for whoever shows it: the
// command line's status line, the agent, the tray icon's tip. The job reports;
// what a report looks like on a screen is the front end's business.
//
// Reports come from the run's own thread, one at a time, never two at once;
// the listener hands them on to its own thread if it must. A step reports 0
// when it starts, then only when its percentage grows, and 100 once all of it
// is done (for a copy: once every byte went through). A step that fails stops
// where it was, or at 100 when only a check after its bytes failed; its
// run-log line says so. Without a listener nothing is counted or read for it:
// no output pipe for the archiver, no progress callbacks in the copies.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "files/file_ops.h"

namespace veltora {

enum class ProgressStage {
  kLocalBackup,  // an account set backed up into the local folder
  kCompression,  // a backup file packed into its archive
  kArchiveTest,  // an archive tested with its password
  kShareCopy,    // a file sent to the share
  kShareVerify,  // the share's copy read back and compared with the local file
  kShareFetch,   // an archive fetched from the share for a restore or a check
  kExtraction,   // a backup taken out of its archive and digested
};

struct ProgressReport {
  ProgressStage stage = ProgressStage::kLocalBackup;
  // The account set (local backup: the .AIS file's or the database's
  // account-set name), or the file's name without folder (the other stages).
  std::string item;
  int percent = 0;  // 0..100
  // The item's size in bytes, 0 where it is not known (a SQL Server backup),
  // and how much of it is done: exact for copies, from the percentage for the
  // archiver.
  std::uint64_t done = 0;
  std::uint64_t total = 0;
};

// Hears a run's reports. An exception it throws is swallowed: progress never
// changes what a run does. It should return quickly, as the run waits for it.
using ProgressListener = std::function<void(const ProgressReport&)>;

// One step of a run, as it reports: its stage, its item, and the percentage
// reached. Cheap when nobody listens; never throws.
class StepProgress {
 public:
  StepProgress(const ProgressListener& listener, ProgressStage stage, const std::string& item,
               std::uint64_t total = 0);

  // Reports 0: the step has begun.
  void Start() noexcept { Send(0, true); }
  // Reports a percentage 0..100 (clamped) when it is above the last one.
  void Percent(int percent) noexcept { Send(percent, false); }
  // Reports the bytes done of `total` (the step's size from now on).
  void Bytes(std::uint64_t done, std::uint64_t total) noexcept;
  // Reports 100 unless it has been reported: the step is done.
  void Done() noexcept { Send(100, false); }

  // A copy's write pass reported as this step's bytes; empty without a
  // listener, so that the copy counts nothing.
  CopyProgress ForCopyWrites();

 private:
  // `done`: the exact bytes done, or nothing to take them from the percentage.
  void Send(int percent, bool always, std::optional<std::uint64_t> done = {}) noexcept;

  const ProgressListener& listener_;
  ProgressReport report_;
};

}  // namespace veltora
