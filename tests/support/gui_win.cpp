#include "support/gui_win.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "base/wide_text.h"

namespace veltora::testing {
namespace {

using namespace std::chrono_literals;

// The static control that holds a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

struct Watch {
  std::mutex mutex;
  std::vector<SeenBox> seen;
  std::set<HWND> answered;
  std::string screenshotPath;
  bool shotTaken = false;
};

BOOL CALLBACK AnswerBox(HWND window, LPARAM param) {
  auto& watch = *reinterpret_cast<Watch*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid != ::GetCurrentProcessId() || !::IsWindowVisible(window)) return TRUE;
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, 16);
  if (std::wstring(className) != L"#32770") return TRUE;
  std::lock_guard lock(watch.mutex);
  if (watch.answered.contains(window)) return TRUE;
  watch.answered.insert(window);

  // Let the box finish its set-up (its place on top among it) and paint.
  std::this_thread::sleep_for(200ms);
  SeenBox box;
  box.caption = WindowText(window);
  if (HWND text = ::GetDlgItem(window, kMessageBoxTextId)) box.text = WindowText(text);
  box.topmost = (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  if (!watch.shotTaken && !watch.screenshotPath.empty()) {
    SaveScreenshot(window, watch.screenshotPath);
    watch.shotTaken = true;
  }
  watch.seen.push_back(box);
  const WPARAM answer = ::GetDlgItem(window, IDOK) != nullptr ? IDOK : IDCANCEL;
  ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
  return TRUE;
}

}  // namespace

std::string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return Narrow(text);
}

std::vector<SeenBox> AnswerMessageBoxes(const std::function<void()>& action,
                                        const std::string& screenshotPath) {
  Watch watch;
  watch.screenshotPath = screenshotPath;
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done) {
      ::EnumWindows(AnswerBox, reinterpret_cast<LPARAM>(&watch));
      std::this_thread::sleep_for(50ms);
    }
  });
  try {
    action();
  } catch (...) {
    done = true;
    watcher.join();
    throw;
  }
  done = true;
  watcher.join();
  return watch.seen;
}

bool SaveScreenshot(HWND window, const std::string& bmpPath) {
  if (bmpPath.empty()) return false;
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  // Wine puts the last strokes on the X display a moment after the paint
  // returns: let the window's own thread finish painting before the copy.
  if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
    PumpMessages(200ms);
  } else {
    std::this_thread::sleep_for(300ms);
  }
  RECT rect{};
  if (!::GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;

  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap != nullptr;
  if (ok) {
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ok = ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
    ::GdiFlush();
    ::SelectObject(memory, old);
  }
  if (ok) {
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    std::ofstream out(std::filesystem::path(Widen(bmpPath)), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
    out.write(static_cast<const char*>(bits), imageSize);
    ok = static_cast<bool>(out);
  }
  if (bitmap) ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return ok;
}

void PumpMessages(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  do {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    std::this_thread::sleep_for(10ms);
  } while (std::chrono::steady_clock::now() < end);
}

std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return Narrow(name);
}

std::vector<HWND> VisibleWindowsOf(DWORD pid) {
  struct Found {
    DWORD pid;
    std::vector<HWND> windows;
  } found{pid, {}};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto& f = *reinterpret_cast<Found*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if ((f.pid == 0 || owner == f.pid) && ::IsWindowVisible(window))
          f.windows.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

HWND ChildWhere(HWND top, const std::function<bool(HWND)>& match) {
  struct Search {
    const std::function<bool(HWND)>* match;
    HWND found = nullptr;
  } search{&match};
  ::EnumChildWindows(
      top,
      [](HWND child, LPARAM param) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(param);
        if (!::IsWindowVisible(child) || !(*s.match)(child)) return TRUE;
        s.found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  for (auto waited = 0ms; waited < limit; waited += 100ms) {
    if (condition()) return true;
    std::this_thread::sleep_for(100ms);
  }
  return condition();
}

bool StartProgramIn(const std::filesystem::path& exe, const std::filesystem::path& folder,
                    PROCESS_INFORMATION& program) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring line = L"\"" + exe.wstring() + L"\"";
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &program))
    return false;
  ::CloseHandle(program.hThread);
  return true;
}

int RunAndWait(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return -1;
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, 120000);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace veltora::testing
