#include <windows.h>

#include <climits>
#include <iterator>

#include "base/text.h"
#include "base/wide_text.h"

namespace veltora {

std::wstring Widen(std::string_view utf8, bool* ok) {
  if (ok != nullptr) *ok = true;
  if (utf8.empty()) return std::wstring();
  const auto fail = [ok] {
    if (ok != nullptr) *ok = false;
    return std::wstring();
  };
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) return fail();
  const int size = static_cast<int>(utf8.size());
  const int needed =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (needed <= 0) return fail();
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, out.data(), needed) !=
      needed)
    return fail();
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty() || utf16.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
  const int size = static_cast<int>(utf16.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), needed, nullptr, nullptr);
  return out;
}

std::string WindowsErrorText(unsigned long code) {
  wchar_t buffer[512] = {};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  const std::string text = Trim(Narrow(std::wstring_view(buffer, length)));
  return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace veltora
