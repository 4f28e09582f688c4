#include "ui/time_mask.h"

#include <algorithm>

namespace veltora {
namespace {

bool IsPlace(int at) { return at >= 0 && at < kMaskedTimeLength && at != 2 && at != 5; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char PlaceChar(char c) { return IsDigit(c) ? c : ' '; }

// The first place at or after `at`; kMaskedTimeLength when none is left.
int PlaceFrom(int at) {
  while (at < kMaskedTimeLength && !IsPlace(at)) ++at;
  return at;
}

// A field whose text lost its shape (it never should) starts again empty.
void Repair(MaskedTime& field) {
  if (field.text.size() != kMaskedTimeLength || field.text[2] != ':' || field.text[5] != ':')
    field.text = ConformToTimeMask(field.text);
  field.selectionStart = std::clamp(field.selectionStart, 0, kMaskedTimeLength);
  field.selectionEnd = std::clamp(field.selectionEnd, 0, kMaskedTimeLength);
}

// Blanks the selected places and puts the caret where the selection began;
// false when nothing was selected.
bool ClearSelection(MaskedTime& field) {
  const int from = std::min(field.selectionStart, field.selectionEnd);
  const int to = std::max(field.selectionStart, field.selectionEnd);
  field.selectionStart = field.selectionEnd = from;
  if (from == to) return false;
  for (int at = from; at < to; ++at)
    if (IsPlace(at)) field.text[static_cast<std::size_t>(at)] = ' ';
  return true;
}

void PutCaret(MaskedTime& field, int at) { field.selectionStart = field.selectionEnd = at; }

}  // namespace

std::string ConformToTimeMask(std::string_view text) {
  std::string result = kEmptyMaskedTime;
  if (text.find(':') != std::string_view::npos) {
    int group = 0;
    std::size_t begin = 0;
    while (group < 3) {
      const std::size_t colon = text.find(':', begin);
      const std::string_view part = text.substr(
          begin, colon == std::string_view::npos ? std::string_view::npos : colon - begin);
      for (std::size_t i = 0; i < 2 && i < part.size(); ++i)
        result[static_cast<std::size_t>(group * 3) + i] = PlaceChar(part[i]);
      ++group;
      if (colon == std::string_view::npos) break;
      begin = colon + 1;
    }
    return result;
  }
  int at = PlaceFrom(0);
  for (const char c : text) {
    if (at >= kMaskedTimeLength) break;
    if (!IsDigit(c) && c != ' ') continue;
    result[static_cast<std::size_t>(at)] = c;
    at = PlaceFrom(at + 1);
  }
  return result;
}

bool TypeIntoTimeMask(MaskedTime& field, char c) {
  MaskedTime typed = field;
  Repair(typed);
  ClearSelection(typed);
  const int caret = typed.selectionEnd;
  if (IsDigit(c) || c == ' ') {
    const int at = PlaceFrom(caret);
    if (at >= kMaskedTimeLength) return false;
    typed.text[static_cast<std::size_t>(at)] = c;
    PutCaret(typed, PlaceFrom(at + 1));
  } else if (c == ':') {
    // Right after a colon (the caret moved past it by itself) the colon
    // typed is that one.
    if (caret > 0 && !IsPlace(caret - 1)) {
      field = typed;
      return true;
    }
    int colon = caret;
    while (colon < kMaskedTimeLength && IsPlace(colon)) ++colon;
    if (colon >= kMaskedTimeLength) return false;
    for (int at = caret; at < colon; ++at) typed.text[static_cast<std::size_t>(at)] = ' ';
    PutCaret(typed, colon + 1);
  } else {
    return false;
  }
  field = typed;
  return true;
}

bool EraseInTimeMask(MaskedTime& field, bool backwards) {
  MaskedTime erased = field;
  Repair(erased);
  if (!ClearSelection(erased)) {
    const int caret = erased.selectionEnd;
    int at = backwards ? caret - 1 : PlaceFrom(caret);
    if (backwards)
      while (at >= 0 && !IsPlace(at)) --at;
    if (!IsPlace(at)) return false;
    erased.text[static_cast<std::size_t>(at)] = ' ';
    PutCaret(erased, backwards ? at : caret);
  }
  field = erased;
  return true;
}

bool PasteIntoTimeMask(MaskedTime& field, std::string_view text) {
  MaskedTime pasted = field;
  Repair(pasted);
  ClearSelection(pasted);
  for (const char c : text) TypeIntoTimeMask(pasted, c);
  if (pasted.text == field.text && pasted.selectionStart == field.selectionStart &&
      pasted.selectionEnd == field.selectionEnd)
    return false;
  field = pasted;
  return true;
}

}  // namespace veltora
