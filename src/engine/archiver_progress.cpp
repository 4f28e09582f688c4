#include "engine/archiver_progress.h"

#include <algorithm>
#include <optional>

#include "base/text.h"

namespace veltora {
namespace {

// Keeps a runaway field (a long file name, output without separators) from
// growing without bound; only its beginning is ever looked at.
constexpr std::size_t kLongestField = 160;

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
    return ArchiverEvent{kind, value, {}};
  }
  return std::nullopt;
}

void AddPercent(int percent, std::vector<ArchiverEvent>& events) {
  if (!events.empty() && events.back().kind == ArchiverEvent::Kind::kPercent)
    events.back().value = percent;  // only the last of a row counts
  else
    events.push_back({ArchiverEvent::Kind::kPercent, percent, {}});
}

}  // namespace

void ArchiverOutputParser::EndField(char separator, std::vector<ArchiverEvent>& events) {
  if (fieldPercent_ < 0) {
    if (const auto percent = LeadingPercent(field_)) AddPercent(*percent, events);
  }
  const bool lineEnd = separator == '\n' || separator == '\r';
  const auto marker = lineEnd && fieldStartsLine_ ? Marker(field_) : std::nullopt;
  if (marker) {
    events.push_back(*marker);
  } else if (lineEnd && !LeadingPercent(field_)) {
    if (std::string text = Trim(field_); !text.empty())
      events.push_back({ArchiverEvent::Kind::kMessage, 0, std::move(text)});
  }
  field_.clear();
  fieldPercent_ = -1;
  fieldStartsLine_ = lineEnd;
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

std::string ArchiverErrorText(const std::vector<std::string>& messages) {
  auto line = std::find_if(messages.begin(), messages.end(), [](const std::string& m) {
    return m.rfind("ERROR", 0) == 0 || m.rfind("System ERROR", 0) == 0;
  });
  std::string text;
  for (int taken = 0; line != messages.end() && taken < 2; ++line, ++taken) {
    std::string part = *line;
    for (const std::string_view label : {"System ERROR:", "ERROR:"})
      if (part.rfind(label, 0) == 0) part = Trim(part.substr(label.size()));
    // "errno=28 : No space left on device"
    if (part.rfind("errno=", 0) == 0)
      if (const auto colon = part.find(" : "); colon != std::string::npos)
        part = part.substr(colon + 3);
    if (part.empty()) continue;
    if (!text.empty()) text += ' ';
    text += part;
  }
  return text;
}

}  // namespace veltora
