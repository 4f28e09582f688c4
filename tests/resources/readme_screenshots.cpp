// Screenshots of the installed program for the README (scripts/screenshots.sh
// runs it under Wine in a Windows of its own):
//   readme_screenshots.exe SETUP.exe OUTPUT-FOLDER
// Installs silently into C:\Veltora, starts the installed veltora.exe as a
// user would (so with its manifest: themed controls and its icon), answers
// its first-run notice, and writes BMPs of the main window's two pages. Then
// the program once set up: two account sets ticked, one backed up and one
// whose backup failed, so that it starts into the tray with its warning;
// the notification area's window (with its balloon) is written where Wine
// shows one, and the backup log window with the two rows. Exit status: 0, or 1 when a window
// did not show up.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "base/wide_text.h"
#include "gui/captions.h"
#include "settings/settings_database.h"
#include "support/gui_win.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using veltora::Narrow;
using veltora::Widen;
using veltora::testing::ChildWhere;
using veltora::testing::ClassOf;
using veltora::testing::RunAndWait;
using veltora::testing::VisibleWindowsOf;
using veltora::testing::WaitUntil;

const fs::path kInstallDir = L"C:\\Veltora";

bool StartProgram(PROCESS_INFORMATION& program) {
  return veltora::testing::StartProgramIn(kInstallDir / L"veltora.exe", kInstallDir, program);
}

void EndProgram(PROCESS_INFORMATION& program) {
  ::TerminateProcess(program.hProcess, 0);
  ::WaitForSingleObject(program.hProcess, 10000);
  ::CloseHandle(program.hProcess);
}

// Clicks the button captioned `text` under `main`, shown or not: the command
// goes to the button's parent as the button itself would send it.
bool Click(HWND main, const std::string& text) {
  std::pair<std::string, HWND> found{text, nullptr};
  ::EnumChildWindows(
      main,
      [](HWND child, LPARAM param) -> BOOL {
        auto& f = *reinterpret_cast<std::pair<std::string, HWND>*>(param);
        if (veltora::testing::WindowText(child) != f.first) return TRUE;
        f.second = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  if (found.second == nullptr) return false;
  ::PostMessageW(::GetParent(found.second), WM_COMMAND,
                 MAKEWPARAM(::GetDlgCtrlID(found.second), BN_CLICKED),
                 reinterpret_cast<LPARAM>(found.second));
  return true;
}

// The program's first visible window other than `main` and the message boxes.
HWND OtherWindow(DWORD pid, HWND main) {
  HWND other = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : VisibleWindowsOf(pid))
          if (window != main && ClassOf(window) != "#32770") other = window;
        return other != nullptr;
      },
      20s);
  return other;
}

bool Shot(HWND window, const fs::path& folder, const char* name) {
  std::this_thread::sleep_for(700ms);
  const bool saved = window != nullptr &&
                     veltora::testing::SaveScreenshot(window, Narrow((folder / name).wstring()));
  std::cout << (saved ? "wrote " : "could not capture ") << name << "\n";
  return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::cerr << "usage: readme_screenshots.exe SETUP.exe OUTPUT-FOLDER\n";
    return 2;
  }
  const fs::path folder = argv[2];
  if (RunAndWait(L"\"" + std::wstring(argv[1]) + L"\" /S /NOSERVICE") != 0) {
    std::cerr << "the silent install failed\n";
    return 1;
  }

  PROCESS_INFORMATION program{};
  if (!StartProgram(program)) return 1;

  // Nothing is set up yet: the notice first, then the window.
  HWND main = nullptr;
  const std::string caption = veltora::app_msg::kWindowCaption;
  WaitUntil(
      [&] {
        for (HWND window : VisibleWindowsOf(program.dwProcessId)) {
          if (ClassOf(window) == "#32770")
            ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
          else if (veltora::testing::WindowText(window) == caption)
            main = window;
        }
        return main != nullptr;
      },
      60s);
  bool all = Shot(main, folder, "main-window-file.bmp");

  // The SQL editions' page: the edition list (its four entries) set to the last.
  HWND editions = main == nullptr ? nullptr : ChildWhere(main, [](HWND c) {
    return ClassOf(c) == "ComboBox" && ::SendMessageW(c, CB_GETCOUNT, 0, 0) == 4;
  });
  if (editions != nullptr) {
    ::SendMessageW(editions, CB_SETCURSEL, 3, 0);
    ::SendMessageW(::GetParent(editions), WM_COMMAND,
                   MAKEWPARAM(::GetDlgCtrlID(editions), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(editions));
  }
  all = editions != nullptr && Shot(main, folder, "main-window-sql.bmp") && all;
  EndProgram(program);

  // Set up, with one account set's backup failed: straight into the tray,
  // whose icon warns that a backup is missing.
  const std::string app = Narrow(kInstallDir.wstring());
  {
    veltora::SettingsDatabase db(app);
    db.RewriteAccountList({{"", "甲公司.AIS", "甲公司.AIS"}, {"", "乙公司.AIS", "乙公司.AIS"}});
    db.InsertLocalResult("甲公司.AIS", "C:\\Veltora\\备份\\甲公司.AIS_20261211_230000.7z", "",
                         true);
    db.InsertLocalResult("乙公司.AIS", "", "", false);
  }
  if (!StartProgram(program)) return 1;
  WaitUntil([&] { return (main = ::FindWindowW(nullptr, Widen(caption).c_str())) != nullptr; },
            60s);
  // Without a taskbar or a tray on the X display, Wine shows the icons in a
  // small window of its own.
  HWND tray = nullptr;
  WaitUntil(
      [&] {
        tray = ::FindWindowW(L"__winex11_standalone_tray", nullptr);
        return tray != nullptr && ::IsWindowVisible(tray);
      },
      15s);
  if (tray != nullptr && ::IsWindowVisible(tray)) {
    Shot(tray, folder, "tray-warning.bmp");
    // The balloon that announces the missing backup, a tooltip of the tray's.
    DWORD trayProcess = 0;
    ::GetWindowThreadProcessId(tray, &trayProcess);
    HWND balloon = nullptr;
    WaitUntil(
        [&] {
          for (HWND window : VisibleWindowsOf(trayProcess))
            if (ClassOf(window) == "tooltips_class32") balloon = window;
          return balloon != nullptr;
        },
        10s);
    if (balloon != nullptr) Shot(balloon, folder, "tray-balloon.bmp");
  } else {
    std::cout << "no notification-area window to capture\n";
  }

  // The backup log window with the two runs.
  HWND log = main != nullptr && Click(main, veltora::win32::caption::kBackupLog)
                 ? OtherWindow(program.dwProcessId, main)
                 : nullptr;
  all = Shot(log, folder, "backup-log-window.bmp") && all;
  EndProgram(program);
  return all ? 0 : 1;
}
