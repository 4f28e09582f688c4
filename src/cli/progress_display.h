// The progress of a backup run on the command line's error stream.
//
// On a terminal: one status line, rewritten in place with a carriage return
// and blanked out before any other line is written (ClearLine), so that the
// run-log lines scroll by above it. Anywhere else (a pipe, a file, a service
// journal): a line of its own for each tenth of a long step, and nothing for
// short ones, so that logs stay readable.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "engine/progress.h"

namespace veltora {

class ProgressDisplay {
 public:
  // Steps of this size or more are long; shorter ones are over before anyone
  // waits (shown only on a terminal).
  static constexpr std::uint64_t kLongStepBytes = 32ull * 1024 * 1024;
  // The status line fits this many columns, so that a carriage return brings
  // it back whole on the narrowest usual terminal.
  static constexpr std::size_t kLineColumns = 79;

  ProgressDisplay(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}
  ~ProgressDisplay() { ClearLine(); }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  void Show(const ProgressReport& report);
  // Removes the status line (terminal only), before another line is written.
  void ClearLine();

  // The text for a report: label, item, percentage and, for an item of a
  // mebibyte or more, the mebibytes; the item shortened in its middle when
  // the text would be wider than `columns`, and its control characters shown
  // as "?".
  static std::string Text(const ProgressReport& report, std::size_t columns);
  // Terminal columns the UTF-8 text takes: two for East Asian wide
  // characters, one for the others.
  static std::size_t Columns(const std::string& text);

 private:
  std::ostream& err_;
  const bool terminal_;
  std::size_t shownColumns_ = 0;  // of the status line on screen; 0: none
  // Elsewhere: the step last reported and the percentage its next line waits for.
  ProgressStage stage_ = ProgressStage::kLocalBackup;
  std::string item_;
  int lastPercent_ = -1;
  int nextPercent_ = 0;
};

}  // namespace veltora
