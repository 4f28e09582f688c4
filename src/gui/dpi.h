// Sizes of the windows at the screen's resolution. Every window is laid out
// at 96 DPI and each position and size is multiplied by one factor, so that
// a scaled display (125 to 200 %) gets the same layout, sharp, rather than a
// bitmap stretched by the system.
#pragma once

#include <windows.h>

namespace veltora::win32 {

// The DPI a window is shown at: the window's own (per-monitor) where the
// system tells it, else the screen's; 96 when nothing answers.
UINT DpiOf(HWND window);

// A length of the 96-DPI layout at `dpi`, rounded to the nearest pixel.
inline int Scale(int pixels96, UINT dpi) { return ::MulDiv(pixels96, static_cast<int>(dpi), 96); }

// The windows' font: 宋体 at 12 pixels of the 96-DPI layout. The caller owns
// the font (DeleteObject).
HFONT CreateWindowFont(UINT dpi);

// The outer size of a window whose client area is width x height at `dpi`,
// for its styles.
SIZE WindowSizeForClient(int width, int height, DWORD style, DWORD exStyle, bool hasMenu, UINT dpi);

// The top-left corner that centres a window of `size` on the work area of the
// monitor nearest `neighbour` (the primary monitor when null).
POINT CentredOrigin(SIZE size, HWND neighbour);

}  // namespace veltora::win32
