// The shell's folder picker and a small input box: the modal questions the
// windows ask besides message boxes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace veltora::win32 {

// The shell's folder picker over `owner` with `prompt` above its tree: the
// chosen file-system folder, or empty when cancelled.
std::string PickFolder(HWND owner, const std::string& prompt);

// A modal box over `owner` (a dialog, class #32770) with `prompt`, one line
// to edit filled with `initial` and selected, OK and Cancel. What the line
// holds at OK, or nothing at Cancel. At most `maxLength` characters.
std::optional<std::string> AskTextLine(HWND owner, const std::string& caption,
                                       const std::string& prompt, const std::string& initial,
                                       int maxLength);

}  // namespace veltora::win32
