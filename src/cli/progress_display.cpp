#include "cli/progress_display.h"

#include <limits>
#include <ostream>
#include <vector>

#include "cli/messages.h"
#include "ui/progress_text.h"

namespace veltora {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr char kCut[] = "…";
constexpr std::size_t kCutColumns = 2;  // counted wide: some terminals draw it so

// One character of UTF-8 text: its bytes and its columns.
struct Glyph {
  std::string bytes;
  std::size_t columns = 1;
};

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// The text's characters; a control character becomes "?", so that no name
// can move the cursor or send the terminal a command. Bytes that are not
// UTF-8 count one column each.
std::vector<Glyph> Glyphs(const std::string& text) {
  std::vector<Glyph> out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 1;
    if (i + length > text.size()) length = 1;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        length = 1;
        c = lead;
        break;
      }
      c = (c << 6) | (next & 0x3F);
    }
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0 && length > 1))
      out.push_back({"?", 1});
    else
      out.push_back({text.substr(i, length), IsWide(c) ? 2u : 1u});
    i += length;
  }
  return out;
}

std::size_t ColumnsOf(const std::vector<Glyph>& glyphs) {
  std::size_t n = 0;
  for (const auto& g : glyphs) n += g.columns;
  return n;
}

// The item in at most `columns` columns: its beginning and its end (a backup's
// stamp and extension) kept, its middle cut out.
std::string Fitted(const std::vector<Glyph>& item, std::size_t columns) {
  std::string out;
  if (ColumnsOf(item) <= columns) {
    for (const auto& g : item) out += g.bytes;
    return out;
  }
  if (columns <= kCutColumns) return kCut;
  const std::size_t room = columns - kCutColumns;
  std::size_t front = 0, frontColumns = 0;
  while (front < item.size() && frontColumns + item[front].columns <= (room + 1) / 2)
    frontColumns += item[front++].columns;
  std::size_t back = item.size(), backColumns = 0;
  while (back > front && backColumns + item[back - 1].columns <= room - frontColumns)
    backColumns += item[--back].columns;
  for (std::size_t i = 0; i < front; ++i) out += item[i].bytes;
  out += kCut;
  for (std::size_t i = back; i < item.size(); ++i) out += item[i].bytes;
  return out;
}

}  // namespace

std::size_t ProgressDisplay::Columns(const std::string& text) { return ColumnsOf(Glyphs(text)); }

std::string ProgressDisplay::Text(const ProgressReport& report, std::size_t columns) {
  const std::string head = std::string(ProgressStageName(report.stage)) + " ";
  std::string tail = "... " + std::to_string(report.percent) + "%";
  if (report.total >= kMiB)
    tail += " (" + std::to_string(report.done / kMiB) + " / " +
            std::to_string(report.total / kMiB) + " MiB)";
  const std::size_t fixed = Columns(head) + Columns(tail);
  return head + Fitted(Glyphs(report.item), columns > fixed ? columns - fixed : 0) + tail;
}

void ProgressDisplay::Show(const ProgressReport& report) {
  if (terminal_) {
    const std::string text = Text(report, kLineColumns);
    const std::size_t columns = Columns(text);
    err_ << '\r' << text;
    if (columns < shownColumns_) err_ << std::string(shownColumns_ - columns, ' ');
    err_ << std::flush;
    shownColumns_ = columns;
    return;
  }
  if (report.total < kLongStepBytes) return;
  if (report.stage != stage_ || report.item != item_ || report.percent < lastPercent_) {
    stage_ = report.stage;
    item_ = report.item;
    nextPercent_ = 0;
  }
  lastPercent_ = report.percent;
  if (report.percent < nextPercent_) return;
  err_ << Text(report, std::numeric_limits<std::size_t>::max()) << "\n" << std::flush;
  nextPercent_ = report.percent - report.percent % 10 + 10;
}

void ProgressDisplay::ClearLine() {
  if (!terminal_ || shownColumns_ == 0) return;
  err_ << '\r' << std::string(shownColumns_, ' ') << '\r' << std::flush;
  shownColumns_ = 0;
}

}  // namespace veltora
