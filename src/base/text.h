// Text helpers shared by every layer. Strings are UTF-8 inside the program.
#pragma once

#include <string>
#include <string_view>

namespace veltora {

// Removes blanks and control characters (every byte up to and including 0x20)
// from both ends. Multi-byte UTF-8 characters are never touched: their bytes
// are all above 0x7F.
std::string Trim(std::string_view text);

// ASCII letters a-z become A-Z; every other byte, multi-byte characters
// included, stays as it is.
std::string UpperAscii(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
bool EndsWith(std::string_view text, std::string_view suffix);
bool StartsWith(std::string_view text, std::string_view prefix);

// Whether the bytes are well-formed UTF-8: no stray continuation byte, no
// truncated or overlong sequence, no surrogate, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// The text with every control character written out, so that it fits on one
// line of a log whatever it came from: a line feed as "\n", a carriage return
// as "\r", a tab as "\t", any other byte below 0x20 and DEL as "\xNN" (upper-
// case hex), and the characters that some viewers break a line at (U+0085,
// U+2028, U+2029) as "\u0085" and so on. Everything else, a backslash and
// bytes that are no valid UTF-8 included, stays as it is.
std::string ShowControlCharacters(std::string_view text);

}  // namespace veltora
