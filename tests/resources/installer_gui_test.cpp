// The installer as a user runs it, in a Windows of its own: a silent install
// into C:\Veltora, the installed tray application started (its first-run
// warning answered) until its run log says it started, and ended; started
// again once account sets are chosen, straight into the tray; a silent
// uninstall that takes the program and its entries but leaves the settings
// and the run log; a reinstall that keeps the settings; and the refusal of a
// folder with a blank. Then the agent as a service (installed by "/S", not by
// "/S /NOSERVICE", removed by the uninstaller), the uninstaller's switch that
// removes the settings, the sizes of what is shipped, and the pages of an
// interactive install and uninstall, screenshotted.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <shlobj.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/wide_text.h"
#include "service/agent_service.h"
#include "settings/settings_database.h"
#include "support/gui_win.h"
#include "support/temp_dir.h"
#include "veltora_version.h"

namespace veltora {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ClassOf;
using testing::RunAndWait;
using testing::VisibleWindowsOf;
using testing::WaitUntil;

const fs::path kInstallDir = L"C:\\Veltora";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veltora";

// The silent install; `options` go before any /D=, which must come last.
std::wstring SetupCommand(const std::wstring& options = L" /NOSERVICE") {
  return L"\"" + Widen(VELTORA_SETUP_EXE) + L"\" /S" + options;
}
std::wstring UninstallCommand(const std::wstring& options = L"") {
  return L"\"" + (kInstallDir / L"Uninstall.exe").wstring() + L"\" /S" + options;
}

// The 64-bit registry view, as the 64-bit program sees it.
bool ValueExists(const wchar_t* key, const wchar_t* value) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle) !=
      ERROR_SUCCESS)
    return false;
  const bool found =
      ::RegQueryValueExW(handle, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  ::RegCloseKey(handle);
  return found;
}
bool KeyExists(const wchar_t* key) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &handle) !=
      ERROR_SUCCESS)
    return false;
  ::RegCloseKey(handle);
  return true;
}
void SetRunValue(const std::wstring& data) {
  HKEY handle = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &handle, nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(handle, L"Veltora", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
}

std::string StringValue(const wchar_t* key, const wchar_t* value) {
  wchar_t data[512] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                     data, &size) != ERROR_SUCCESS)
    return "";
  return Narrow(data);
}

// The shortcuts go to every user's Start menu and desktop.
fs::path CommonFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}
std::vector<fs::path> Shortcuts() {
  const fs::path name = L"青岚账套自动备份系统.lnk";
  return {CommonFolder(CSIDL_COMMON_PROGRAMS) / name,
          CommonFolder(CSIDL_COMMON_DESKTOPDIRECTORY) / name};
}

// The agent's service as the service control manager knows it: absent,
// or its current state (SERVICE_RUNNING, ...).
constexpr DWORD kNoService = 0;
DWORD ServiceState() {
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return kNoService;
  DWORD state = kNoService;
  if (SC_HANDLE service =
          ::OpenServiceW(manager, Widen(kAgentServiceName).c_str(), SERVICE_QUERY_STATUS)) {
    SERVICE_STATUS status{};
    if (::QueryServiceStatus(service, &status)) state = status.dwCurrentState;
    ::CloseServiceHandle(service);
  }
  ::CloseServiceHandle(manager);
  return state;
}

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The run log is written in the system's Chinese code page.
std::string Gbk(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

// Starts the installed tray application from its folder, as the Run value does.
bool StartInstalledProgram(PROCESS_INFORMATION& program) {
  return testing::StartProgramIn(kInstallDir / L"veltora.exe", kInstallDir, program);
}

// A close while the program sits in the tray ends it; true when it ended.
bool EndsOnClose(const PROCESS_INFORMATION& program, HWND window) {
  if (window != nullptr) ::PostMessageW(window, WM_CLOSE, 0, 0);
  const bool ended = ::WaitForSingleObject(program.hProcess, 30000) == WAIT_OBJECT_0;
  if (!ended) ::TerminateProcess(program.hProcess, 1);
  ::CloseHandle(program.hProcess);
  return ended;
}

class InstallerTest : public ::testing::Test {
 protected:
  // Each test starts from a Windows without the program.
  void SetUp() override {
    std::error_code ignored;
    fs::remove_all(kInstallDir, ignored);
    HKEY run = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &run) ==
        ERROR_SUCCESS) {
      ::RegDeleteValueW(run, L"Veltora");
      ::RegCloseKey(run);
    }
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0);
    RemoveService();
    for (const fs::path& shortcut : Shortcuts()) fs::remove(shortcut, ignored);
    fs::remove_all(kInstallDir, ignored);
  }
  void TearDown() override { RemoveService(); }

  static void RemoveService() {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return;
    if (SC_HANDLE service =
            ::OpenServiceW(manager, Widen(kAgentServiceName).c_str(), SERVICE_STOP | DELETE)) {
      SERVICE_STATUS status{};
      ::ControlService(service, SERVICE_CONTROL_STOP, &status);
      ::DeleteService(service);
      ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    WaitUntil([] { return ServiceState() == kNoService; }, 30s);
  }
};

TEST_F(InstallerTest, InstallsRunsAndUninstallsKeepingTheSettings) {
  // Shipped without their debug information, which is most of a build's size.
  EXPECT_LT(fs::file_size(Widen(VELTORA_SETUP_EXE)), 15u << 20);
  ASSERT_EQ(RunAndWait(SetupCommand()), 0);
  for (const char* name : {"veltora.exe", "veltora-cli.exe", "Setlog.dll", "Uninstall.exe"})
    EXPECT_TRUE(fs::exists(kInstallDir / name)) << name;
  for (const char* name : {"veltora.exe", "veltora-cli.exe"})
    EXPECT_LT(fs::file_size(kInstallDir / name), 10u << 20) << name;
  EXPECT_TRUE(KeyExists(kUninstallKey));
  EXPECT_EQ(StringValue(kUninstallKey, L"DisplayVersion"), VELTORA_VERSION);
  EXPECT_EQ(StringValue(kUninstallKey, L"Publisher"), VELTORA_PUBLISHER);
  for (const fs::path& shortcut : Shortcuts()) EXPECT_TRUE(fs::exists(shortcut)) << shortcut;
  EXPECT_EQ(ServiceState(), kNoService);
  // The prepared database, usable by the program, and (it will hold
  // passwords) by the installing user and the system only.
  EXPECT_NO_THROW(SettingsDatabase(Narrow(kInstallDir.wstring())).LoadSettings());
  VELTORA_EXPECT_OWNER_ONLY(Narrow((kInstallDir / "Setlog.dll").wstring()));

  // The user ticks "start with Windows"; then the program's first start.
  SetRunValue((kInstallDir / L"veltora.exe").wstring());
  PROCESS_INFORMATION program{};
  ASSERT_TRUE(StartInstalledProgram(program));

  // Nothing is set up yet: the program says so in a box, then shows its window.
  std::string warning;
  HWND mainWindow = nullptr;
  const fs::path runLog = kInstallDir / L"程序运行日志.txt";
  const std::string started = Gbk(L"程序启动成功！");
  const bool up = WaitUntil(
      [&] {
        for (HWND window : VisibleWindowsOf(program.dwProcessId)) {
          if (ClassOf(window) == "#32770") {
            if (HWND text = ::GetDlgItem(window, 0xFFFF)) warning = testing::WindowText(text);
            ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
          } else if (testing::WindowText(window) == "青岚软件账套自动备份系统(金蝶版)  V2.1") {
            mainWindow = window;
          }
        }
        return mainWindow != nullptr && FileBytes(runLog).find(started) != std::string::npos;
      },
      60s);
  EXPECT_EQ(warning, "您好，您尚未进行备份设置，请进行相关的设置！");
  EXPECT_TRUE(up) << "run log: " << FileBytes(runLog).size() << " bytes";

  // Closing the window hides it to the tray; closing it there ends the program.
  if (mainWindow != nullptr) {
    ::PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    WaitUntil([&] { return !::IsWindowVisible(mainWindow); }, 10s);
  }
  EXPECT_TRUE(EndsOnClose(program, mainWindow));
  EXPECT_NE(FileBytes(runLog).find(Gbk(L"程序停止成功！")), std::string::npos);

  // Once account sets are chosen, the program starts straight into the tray:
  // no box, no window on the screen, and its start in the run log.
  const std::string app = Narrow(kInstallDir.wstring());
  SettingsDatabase(app).RewriteAccountList({{"", "甲公司.AIS", "甲公司.AIS"}});
  const auto startsLogged = [&] {
    const std::string log = FileBytes(runLog);
    std::size_t count = 0;
    for (auto at = log.find(started); at != std::string::npos; at = log.find(started, at + 1))
      ++count;
    return count;
  };
  ASSERT_TRUE(StartInstalledProgram(program));
  EXPECT_TRUE(WaitUntil([&] { return startsLogged() == 2; }, 60s));
  testing::PumpMessages(1s);
  EXPECT_TRUE(VisibleWindowsOf(program.dwProcessId).empty());
  HWND trayWindow = ::FindWindowW(nullptr, L"青岚软件账套自动备份系统(金蝶版)  V2.1");
  EXPECT_NE(trayWindow, nullptr);
  EXPECT_TRUE(EndsOnClose(program, trayWindow));

  // The uninstaller copies itself away, removes the program, and is gone.
  ASSERT_EQ(RunAndWait(UninstallCommand()), 0);
  EXPECT_TRUE(WaitUntil(
      [&] { return !fs::exists(kInstallDir / "Uninstall.exe") && !KeyExists(kUninstallKey); },
      60s));
  for (const char* name : {"veltora.exe", "veltora-cli.exe", "7zr.exe"})
    EXPECT_FALSE(fs::exists(kInstallDir / name)) << name;
  EXPECT_FALSE(ValueExists(kRunKey, L"Veltora"));
  for (const fs::path& shortcut : Shortcuts()) EXPECT_FALSE(fs::exists(shortcut)) << shortcut;
  EXPECT_TRUE(fs::exists(kInstallDir / "Setlog.dll"));
  EXPECT_TRUE(fs::exists(runLog));

  // A reinstall finds the settings and history where they were; one into a
  // folder that lost its database but kept the spare copy puts the spare back.
  SettingsDatabase(app).InsertLocalResult("甲公司", "C:\\bak\\a.7z", "", true);
  ASSERT_EQ(RunAndWait(SetupCommand()), 0);
  EXPECT_TRUE(fs::exists(kInstallDir / "veltora.exe"));
  EXPECT_EQ(SettingsDatabase(app).ListBackupLog().size(), 1u);

  SettingsDatabase(app).MakeSpareCopy();
  SettingsDatabase(app).InsertLocalResult("乙公司", "C:\\bak\\b.7z", "", true);
  ASSERT_TRUE(fs::remove(kInstallDir / "Setlog.dll"));
  ASSERT_EQ(RunAndWait(SetupCommand()), 0);
  const auto rows = SettingsDatabase(app).ListBackupLog();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].accountname, "甲公司");
}

TEST_F(InstallerTest, InstallsTheServiceUnlessToldNotTo) {
  ASSERT_EQ(RunAndWait(SetupCommand(L"")), 0);
  EXPECT_TRUE(WaitUntil([] { return ServiceState() == SERVICE_RUNNING; }, 60s));

  // A reinstall without the service takes the running one away, programs
  // it held open included; with it, the service comes back.
  ASSERT_EQ(RunAndWait(SetupCommand(L" /NOSERVICE")), 0);
  EXPECT_EQ(ServiceState(), kNoService);
  ASSERT_EQ(RunAndWait(SetupCommand(L"")), 0);
  EXPECT_TRUE(WaitUntil([] { return ServiceState() == SERVICE_RUNNING; }, 60s));

  ASSERT_EQ(RunAndWait(UninstallCommand()), 0);
  EXPECT_TRUE(WaitUntil(
      [] { return ServiceState() == kNoService && !fs::exists(kInstallDir / "veltora-cli.exe"); },
      60s));
}

TEST_F(InstallerTest, UninstallRemovesTheSettingsOnlyWhenAsked) {
  ASSERT_EQ(RunAndWait(SetupCommand()), 0);
  const std::string app = Narrow(kInstallDir.wstring());
  SettingsDatabase(app).MakeSpareCopy();
  ASSERT_TRUE(fs::exists(kInstallDir / "setlog.dlb"));
  const fs::path runLog = kInstallDir / L"程序运行日志.txt";
  std::ofstream(runLog) << "log\n";

  // Without the switch both stay (the first test); with it both go, and only them.
  ASSERT_EQ(RunAndWait(UninstallCommand(L" /REMOVESETTINGS")), 0);
  EXPECT_TRUE(WaitUntil([] { return !fs::exists(kInstallDir / "Uninstall.exe"); }, 60s));
  EXPECT_FALSE(fs::exists(kInstallDir / "Setlog.dll"));
  EXPECT_FALSE(fs::exists(kInstallDir / "setlog.dlb"));
  EXPECT_TRUE(fs::exists(runLog));
}

// The first control under `top` (any depth) whose text holds `text`.
HWND ControlWithText(HWND top, const std::string& text) {
  return testing::ChildWhere(
      top, [&](HWND child) { return testing::WindowText(child).find(text) != std::string::npos; });
}

TEST_F(InstallerTest, InteractivePagesTickTheServiceAndTheProgramNotTheSettingsRemoval) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION setup{};
  std::wstring line = L"\"" + Widen(VELTORA_SETUP_EXE) + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &setup));
  ::CloseHandle(setup.hThread);
  HWND wizard = nullptr;
  HWND control = nullptr;
  // Waits for the page that shows `text`, and keeps the control showing it.
  // Any process's: the uninstaller shows its pages from a copy of itself.
  const auto page = [&](const std::string& text) {
    return WaitUntil(
        [&] {
          control = nullptr;
          for (HWND window : VisibleWindowsOf(0)) {
            if (ClassOf(window) != "#32770") continue;
            if ((control = ControlWithText(window, text)) != nullptr) {
              wizard = window;
              break;
            }
          }
          return control != nullptr;
        },
        120s);
  };
  const auto next = [&] {
    ::PostMessageW(wizard, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(wizard, IDOK)));
  };
  const auto ticked = [&] { return ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED; };

  EXPECT_TRUE(page("欢迎"));
  testing::PumpMessages(500ms);
  EXPECT_TRUE(testing::SaveScreenshot(wizard, testing::ScreenshotPath("installer-welcome.bmp")));
  next();
  EXPECT_TRUE(page("请选择安装文件夹"));
  next();
  // The service is offered, ticked; this install goes without it.
  ASSERT_TRUE(page("作为 Windows 服务运行，无人登录时也能自动备份"));
  EXPECT_TRUE(ticked());
  testing::PumpMessages(500ms);
  EXPECT_TRUE(testing::SaveScreenshot(wizard, testing::ScreenshotPath("installer-service.bmp")));
  ::SendMessageW(control, BM_SETCHECK, BST_UNCHECKED, 0);
  next();
  // The finish page offers to start the program, ticked; here it is not started.
  ASSERT_TRUE(page("运行青岚账套自动备份系统"));
  EXPECT_TRUE(ticked());
  testing::PumpMessages(500ms);
  EXPECT_TRUE(testing::SaveScreenshot(wizard, testing::ScreenshotPath("installer-finish.bmp")));
  ::SendMessageW(control, BM_SETCHECK, BST_UNCHECKED, 0);
  next();
  EXPECT_EQ(::WaitForSingleObject(setup.hProcess, 60000), WAIT_OBJECT_0);
  ::CloseHandle(setup.hProcess);
  EXPECT_TRUE(fs::exists(kInstallDir / "veltora.exe"));
  EXPECT_EQ(ServiceState(), kNoService);

  // The uninstaller says what stays; removing the settings is offered
  // unticked, and done when ticked.
  ASSERT_EQ(RunAndWait(L"\"" + (kInstallDir / L"Uninstall.exe").wstring() + L"\""), 0);
  ASSERT_TRUE(page("下一步"));
  next();
  ASSERT_TRUE(page("同时删除设置数据库及其备用副本"));
  EXPECT_FALSE(ticked());
  EXPECT_NE(ControlWithText(wizard, "程序运行日志"), nullptr);
  testing::PumpMessages(500ms);
  EXPECT_TRUE(testing::SaveScreenshot(wizard, testing::ScreenshotPath("uninstaller-keep.bmp")));
  ::SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
  next();
  EXPECT_TRUE(WaitUntil(
      [] {
        return !fs::exists(kInstallDir / "Uninstall.exe") &&
               !fs::exists(kInstallDir / "Setlog.dll");
      },
      60s));
}

TEST_F(InstallerTest, RefusesAFolderWithABlank) {
  // /D= takes the rest of the command line, blanks included.
  EXPECT_NE(RunAndWait(SetupCommand() + L" /D=C:\\Veltora Backup"), 0);
  EXPECT_FALSE(fs::exists(L"C:\\Veltora Backup\\veltora.exe"));
  EXPECT_FALSE(KeyExists(kUninstallKey));
}

}  // namespace
}  // namespace veltora
