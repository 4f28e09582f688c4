#include "engine/archiver_progress.h"

#include <optional>

namespace veltora {
namespace {

// Keeps a runaway field (a long file name, output without separators) from
// growing without bound; only its beginning is ever looked at.
constexpr std::size_t kLongestField = 64;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The percentage a field begins with: blanks, one to three digits, "%".
std::optional<int> LeadingPercent(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  const std::size_t digits = i;
  int value = 0;
  while (i < field.size() && IsDigit(field[i]) && i - digits < 3)
    value = value * 10 + (field[i++] - '0');
  if (i == digits || i >= field.size() || field[i] != '%' || value > 100) return std::nullopt;
  return value;
}

// "@pack N" or "@packed N", the whole line.
std::optional<ArchiverEvent> Marker(std::string_view line) {
  for (const auto& [text, kind] :
       {std::pair{std::string_view(kPackedMarker), ArchiverEvent::Kind::kItemPacked},
        std::pair{std::string_view(kPackMarker), ArchiverEvent::Kind::kItemStarted}}) {
    if (line.size() < text.size() + 2 || line.substr(0, text.size()) != text ||
        line[text.size()] != ' ')
      continue;
    const std::string_view number = line.substr(text.size() + 1);
    if (number.size() > 9) return std::nullopt;
    int value = 0;
    for (const char c : number) {
      if (!IsDigit(c)) return std::nullopt;
      value = value * 10 + (c - '0');
    }
    return ArchiverEvent{kind, value};
  }
  return std::nullopt;
}

void AddPercent(int percent, std::vector<ArchiverEvent>& events) {
  if (!events.empty() && events.back().kind == ArchiverEvent::Kind::kPercent)
    events.back().value = percent;  // only the last of a row counts
  else
    events.push_back({ArchiverEvent::Kind::kPercent, percent});
}

}  // namespace

void ArchiverOutputParser::EndField(char separator, std::vector<ArchiverEvent>& events) {
  if (fieldPercent_ < 0) {
    if (const auto percent = LeadingPercent(field_)) AddPercent(*percent, events);
  }
  if (separator == '\n' && fieldStartsLine_) {
    if (const auto marker = Marker(field_)) events.push_back(*marker);
  }
  field_.clear();
  fieldPercent_ = -1;
  fieldStartsLine_ = separator == '\n';
}

std::vector<ArchiverEvent> ArchiverOutputParser::Feed(std::string_view chunk) {
  std::vector<ArchiverEvent> events;
  for (const char c : chunk) {
    if (c == '\b' || c == '\r' || c == '\n') {
      EndField(c, events);
    } else if (field_.size() < kLongestField) {
      field_.push_back(c);
    } else {
      fieldStartsLine_ = false;  // too long for a marker
    }
  }
  // A field the chunk ends in may already show its percentage; the rest of it
  // (the file name) can wait for the next chunk.
  if (fieldPercent_ < 0) {
    if (const auto percent = LeadingPercent(field_)) {
      fieldPercent_ = *percent;
      AddPercent(*percent, events);
    }
  }
  return events;
}

}  // namespace veltora
