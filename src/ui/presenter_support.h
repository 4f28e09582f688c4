// Small pieces the main window's handlers share; not part of the presenter's
// interface.
#pragma once

#include <exception>
#include <optional>
#include <string_view>

#include "base/line_log.h"
#include "base/path.h"
#include "base/text.h"

namespace veltora::ui_detail {

// The width of the account list's column "账套号": shown for the SQL
// editions' numbers, hidden for the file editions (which have none).
inline constexpr int kNumberColumnSqlWidth = 100;
inline constexpr int kNumberColumnHidden = 0;

// Runs a handler's body; an error ends it, leaves the window usable and shows
// no message: its text goes to the run log (an exception without text leaves
// no line). Handlers that name a message for an error catch it themselves.
template <typename Body>
void Guarded(LineLog& log, Body&& body) noexcept {
  try {
    body();
  } catch (const std::exception& e) {
    log.Append(e.what());
  } catch (...) {
  }
}

// The whole number a field holds: an optional sign and digits, blanks around
// allowed. A number too large for long long reads as the nearest one, so
// that "99999999999999999999" in a keep-count field means "too many", never a
// small number. Nothing when the text is no whole number.
std::optional<long long> WholeNumber(std::string_view text);

// Whether the text holds a control character (below 0x20, or DEL) anywhere:
// a line break or a tab in a password, user or folder breaks the archiver's
// command line, a share's login or a run-log line.
bool HasControlCharacter(std::string_view text);

// Characters of a UTF-8 text (not bytes): a password's length limit counts
// what the user typed.
std::size_t CharacterCount(std::string_view text);

}  // namespace veltora::ui_detail
