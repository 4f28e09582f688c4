// Windows sources of the run log: the append in code page 936 (what Notepad
// on the users' machines opens), the uptime and the idle time.
#include <windows.h>

#include <string>

#include "app/run_log.h"
#include "base/wide_text.h"
#include "base/win_handles_win.h"

namespace veltora {
namespace {

constexpr UINT kLogCodePage = 936;

// The GBK form of a UTF-8 text. A character GBK cannot hold becomes "?", and
// bytes that are no valid UTF-8 are taken one by one as U+FFFD and so "?" too:
// the line is never dropped for a character.
std::string ToLogCodePage(std::string_view utf8) {
  bool ok = true;
  std::wstring wide = Widen(utf8, &ok);
  if (!ok) {
    wide.clear();
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  }
  if (wide.empty()) return {};
  // A character beyond the 16-bit plane (two UTF-16 units) is none GBK holds:
  // one "?" for it, not one per unit.
  std::wstring units;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() &&
                      wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
    units.push_back(pair ? L'?' : wide[i]);
    if (pair) ++i;
  }
  wide.swap(units);
  const int n = ::WideCharToMultiByte(kLogCodePage, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, "?", nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(kLogCodePage, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        "?", nullptr);
  return out;
}

// A handle the log may be written through: a file, no reparse point (a link
// opened as itself), no folder, and no second name (a hard link would pass the
// line on to the file it shares).
bool IsLogFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
         info.nNumberOfLinks == 1;
}

}  // namespace

namespace internal {

bool WriteRunLogBytes(const std::string& path, std::string_view bytes, bool startNew) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) return false;
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // Every handle opens a reparse point planted under the log's name as the
  // point itself (FILE_FLAG_OPEN_REPARSE_POINT), and IsLogFile refuses it: the
  // line, the attribute change and the emptying never reach a link's target.
  // A read-only log is made writable through a handle of its own; failing
  // that, the open below answers for whether the line can still go in.
  {
    const ScopedFileHandle attributes(
        ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_BASIC_INFO basic{};
    if (attributes && IsLogFile(attributes.get()) &&
        ::GetFileInformationByHandleEx(attributes.get(), FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      ::SetFileInformationByHandle(attributes.get(), FileBasicInfo, &basic, sizeof basic);
    }
  }
  const std::string text = ToLogCodePage(bytes);
  // FILE_APPEND_DATA alone: every write lands at the current end, even when
  // another process appends too, so whole lines never overwrite each other.
  const ScopedFileHandle file(
      ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, kShareAll, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !IsLogFile(file.get())) return false;
  if (startNew) {
    // Emptying needs write access of its own; the append handle cannot. It
    // is emptied once it is known to be the log, not at the open.
    const ScopedFileHandle whole(::CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                               nullptr));
    FILE_END_OF_FILE_INFO end{};
    if (!whole || !IsLogFile(whole.get()) ||
        !::SetFileInformationByHandle(whole.get(), FileEndOfFileInfo, &end, sizeof end))
      return false;
  }
  DWORD written = 0;
  return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

std::string ReadRunLogFirstLine(const std::string& path, std::size_t limit) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) return {};
  const ScopedFileHandle file(::CreateFileW(
      wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return {};
  // GBK takes at most two bytes for a character UTF-8 writes in up to three:
  // `limit` bytes of GBK hold the first `limit` bytes of UTF-8 and more.
  std::string head(limit, '\0');
  DWORD got = 0;
  if (!::ReadFile(file.get(), head.data(), static_cast<DWORD>(limit), &got, nullptr)) return {};
  head.resize(got);
  head = head.substr(0, head.find_first_of("\r\n"));
  if (head.empty()) return {};
  const std::string utf8 = RunLogLineAsUtf8(head);
  // At most `limit` bytes, cut at a character's start.
  std::size_t cut = std::min(limit, utf8.size());
  while (cut > 0 && cut < utf8.size() && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
    --cut;
  return utf8.substr(0, cut);
}

}  // namespace internal

std::string RunLogLineAsUtf8(std::string_view line) {
  if (line.empty()) return {};
  const int n = ::MultiByteToWideChar(kLogCodePage, 0, line.data(), static_cast<int>(line.size()),
                                      nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(kLogCodePage, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                        n);
  return Narrow(wide);
}

// The 64-bit tick count does not wrap after 49.7 days as GetTickCount does.
std::string UptimeText() { return DurationText(::GetTickCount64() / 1000); }

std::string IdleText() {
  LASTINPUTINFO last{};
  last.cbSize = sizeof(last);
  if (!::GetLastInputInfo(&last)) return DurationText(0);
  // Both 32-bit tick counts: unsigned subtraction survives a wrap between them.
  const DWORD idle = ::GetTickCount() - last.dwTime;
  return DurationText(idle / 1000);
}

}  // namespace veltora
