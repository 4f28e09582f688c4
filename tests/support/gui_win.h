// What the GUI tests share: screenshots of real windows, an answering
// machine for the modal boxes a handler opens, pumping the window messages
// of the test's thread, and finding windows and waiting for programs.
// Windows only.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace veltora::testing {

// A modal box seen while an action ran: a message box or the folder picker.
struct SeenBox {
  std::string caption;  // UTF-8
  std::string text;     // the message box's text; empty for other dialogs
  bool topmost = false;
};

// Runs `action` on the calling thread. Meanwhile a watcher thread answers
// each modal dialog box of this process (class #32770) that becomes visible:
// it records the box, writes its screenshot to screenshotPath when one is
// given (the first box only), and dismisses it (OK, or Cancel for a dialog
// without OK). Answers the boxes in the order they appeared.
std::vector<SeenBox> AnswerMessageBoxes(const std::function<void()>& action,
                                        const std::string& screenshotPath = "");

// Writes `window` (frame included) as a 24-bit BMP, read from the screen
// after it has been painted; false when it could not.
bool SaveScreenshot(HWND window, const std::string& bmpPath);

// Dispatches the calling thread's window messages for `duration`.
void PumpMessages(std::chrono::milliseconds duration);

// A path in the build's screenshots folder (VELTORA_SCREENSHOT_DIR of the
// test target), or "" when the target has none.
inline std::string ScreenshotPath(const std::string& name) {
#ifdef VELTORA_SCREENSHOT_DIR
  return std::string(VELTORA_SCREENSHOT_DIR) + "/" + name;
#else
  (void)name;
  return "";
#endif
}

// The UTF-8 text of a window or control.
std::string WindowText(HWND window);

// The class name of a window.
std::string ClassOf(HWND window);

// The visible top-level windows of process `pid`, or of every process for 0.
std::vector<HWND> VisibleWindowsOf(DWORD pid);

// The first visible child (any depth) of `top` for which `match` holds, or null.
HWND ChildWhere(HWND top, const std::function<bool(HWND)>& match);

// Asks `condition` every 100 ms until it holds or `limit` has passed; its last answer.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// Starts `exe` (quoted, no arguments) in `folder` as its current folder, as
// a shortcut or the Run value starts a program; false when it could not.
bool StartProgramIn(const std::filesystem::path& exe, const std::filesystem::path& folder,
                    PROCESS_INFORMATION& program);

// Runs a command line and waits for it (two minutes at most); its exit code,
// or -1 when it could not be started.
int RunAndWait(std::wstring commandLine);

}  // namespace veltora::testing
