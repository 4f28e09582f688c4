// Reading the archiver's progress out of what the command file writes to its
// standard output.
//
// 7-Zip with -bsp1 rewrites one progress field in place: " 37% + NAME.bak",
// then backspaces (a console on another platform may use a carriage return)
// and blanks over it, then the next value; it never writes "100%" before it
// ends. The RAR console archiver does the same with backspaces. The command
// file frames each backup with marker lines of its own, "@pack N" before the
// archiver starts on the N-th backup (counted from 1) and "@packed N" once the
// archiver succeeded for it, so that a percentage is known to belong to that
// backup.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltora {

inline constexpr char kPackMarker[] = "@pack";
inline constexpr char kPackedMarker[] = "@packed";

struct ArchiverEvent {
  enum class Kind { kItemStarted, kItemPacked, kPercent, kMessage };
  Kind kind = Kind::kPercent;
  int value = 0;     // the backup's number (from 1) or the percentage 0..100
  std::string text;  // a message line, trimmed
  bool operator==(const ArchiverEvent&) const = default;
};

// Splits the output at backspaces, carriage returns and line feeds; a field
// that begins (after blanks) with one to three digits and "%" is a
// percentage, whatever follows it (a file name, which may hold digits and "%"
// itself). Of several percentages in a row only the last counts. Marker lines
// count only whole. Any other field that a line end closes is a message
// (7-Zip's errors, with -bse1 on its standard output); fields that backspaces
// close ("0M Scan") are ignored. Output may arrive in chunks cut anywhere.
class ArchiverOutputParser {
 public:
  // The events the chunk completes, in order.
  std::vector<ArchiverEvent> Feed(std::string_view chunk);

 private:
  void EndField(char separator, std::vector<ArchiverEvent>& events);

  std::string field_;            // the text since the last separator
  bool fieldStartsLine_ = true;  // the field began right after a line feed
  int fieldPercent_ = -1;        // already taken from the unfinished field
};

// What the archiver said went wrong, out of the message lines it wrote for
// one backup: from the first line that begins with "ERROR" or "System ERROR"
// (7-Zip), at most two lines, without their "ERROR:" and "errno=N :" labels
// ("No space left on device"). Empty when it said nothing of the kind.
std::string ArchiverErrorText(const std::vector<std::string>& messages);

}  // namespace veltora
