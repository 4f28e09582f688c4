// UTF-8 (the program's strings) to UTF-16 (the wide Windows APIs) and back.
// Windows only: used by the *_win.cpp files at the OS boundary.
#pragma once

#include <string>
#include <string_view>

namespace veltora {

// The UTF-16 form of a UTF-8 text. Bytes that are no valid UTF-8 give an empty
// text (with `ok` false where asked), never a replacement character: a path
// that cannot be converted must name no file rather than another one.
std::wstring Widen(std::string_view utf8, bool* ok = nullptr);

// The UTF-8 form of a UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view utf16);

// The system's text for a Win32 error code (GetLastError), in UTF-8, without
// the trailing line break; "error N" where the system has none.
std::string WindowsErrorText(unsigned long code);

}  // namespace veltora
