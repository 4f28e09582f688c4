// The stamps in backup names.
#pragma once

#include <chrono>
#include <set>
#include <string>

#include "base/clock.h"
#include "base/date_time.h"
#include "base/text.h"

namespace veltora {

// Hands out backup stamps, one per backup, taken just before it is made. A
// backup that would get the name of another one - of this run in the same
// second, already in the folder (a run a moment ago), or on the share (another
// agent's backup of a same-named account set) - gets the next free second
// instead, so that none overwrites another. The names are compared without
// regard to ASCII case, as Windows and shares do.
class StampAllocator {
 public:
  explicit StampAllocator(const Clock& clock) : clock_(clock) {}

  // `taken` says whether a backup name (base + stamp) is in use already.
  template <typename Taken>
  std::string Next(const std::string& base, Taken taken) {
    auto when = clock_.Now();
    for (;;) {
      std::string stamp = BackupStamp(ToLocalTime(when));
      if (!taken(base + stamp) && used_.insert(UpperAscii(base + stamp)).second) return stamp;
      when += std::chrono::seconds(1);
    }
  }

  // The stamp of now, for telling which backups are stamped in the future.
  std::string Now() const { return BackupStamp(ToLocalTime(clock_.Now())); }

 private:
  const Clock& clock_;
  std::set<std::string> used_;
};

}  // namespace veltora
