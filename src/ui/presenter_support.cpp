#include "ui/presenter_support.h"

#include <limits>

namespace veltora::ui_detail {

std::optional<long long> WholeNumber(std::string_view text) {
  const std::string trimmed = Trim(text);
  std::string_view digits = trimmed;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  constexpr long long kMax = std::numeric_limits<long long>::max();
  long long value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return negative ? -value : value;
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;  // not a continuation byte
  return count;
}

}  // namespace veltora::ui_detail
