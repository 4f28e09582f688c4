#include "gui/dpi.h"

namespace veltora::win32 {
namespace {

// Resolved at run time: older systems and the MinGW import libraries lack
// the per-monitor calls.
template <typename Function>
Function User32Function(const char* name) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return user32
             ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name)))
             : nullptr;
}

}  // namespace

UINT DpiOf(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (window != nullptr && getDpiForWindow != nullptr) {
    if (const UINT dpi = getDpiForWindow(window); dpi != 0) return dpi;
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

HFONT CreateWindowFont(UINT dpi) {
  return ::CreateFontW(-Scale(12, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
}

SIZE WindowSizeForClient(int width, int height, DWORD style, DWORD exStyle, bool hasMenu,
                         UINT dpi) {
  RECT rect{0, 0, Scale(width, dpi), Scale(height, dpi)};
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  if (adjustForDpi == nullptr || !adjustForDpi(&rect, style, hasMenu, exStyle, dpi))
    ::AdjustWindowRectEx(&rect, style, hasMenu, exStyle);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

POINT CentredOrigin(SIZE size, HWND neighbour) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  HMONITOR monitor = neighbour ? ::MonitorFromWindow(neighbour, MONITOR_DEFAULTTONEAREST)
                               : ::MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
  RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  if (::GetMonitorInfoW(monitor, &info)) area = info.rcWork;
  const LONG x = area.left + (area.right - area.left - size.cx) / 2;
  const LONG y = area.top + (area.bottom - area.top - size.cy) / 2;
  return {x > area.left ? x : area.left, y > area.top ? y : area.top};
}

}  // namespace veltora::win32
