// veltora.exe: the tray application's composition root. The machine's real
// services (those of the command line's window), the Win32 main window over
// the window logic, the backup log window behind its button, and the message
// loop until the program ends. The environment is read here and nowhere
// below: VELTORA_APP_DIR names another application folder (tests, a second
// installation), VELTORA_SQLSERVER_STANDIN opts into the embedded SQL Server
// stand-in; the other variables as for the command line (ReadMachineContext).
// windows.h first: the other Windows headers need its types.
// clang-format off
#include <windows.h>
// clang-format on
#include <commctrl.h>
#include <objbase.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "app/messages.h"
#include "base/fs_path.h"
#include "base/wide_text.h"
#include "gui/backup_log_window.h"
#include "gui/main_window.h"
#include "machine/background_thread.h"
#include "machine/backup_composition.h"
#include "machine/machine_context.h"
#include "machine/machine_services.h"
#include "ui/main_window_presenter.h"
#include "veltora_version.h"

// The caption's "V2.1" is the product's own text and the installer's version
// comes from the build: the two must name the same release.
static_assert(
    std::string_view(veltora::app_msg::kWindowCaption).ends_with(" V" VELTORA_VERSION_MAJOR_MINOR),
    "the project's VERSION disagrees with the window's caption");

namespace {

std::string Environment(const char* name) {
  const wchar_t* value = ::_wgetenv(veltora::Widen(name).c_str());
  return value != nullptr ? veltora::Narrow(value) : std::string();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The user's locale for the C library's own texts (an error's reason in a
  // message or a run-log line); the run log's weekday names are a fixed table.
  std::setlocale(LC_ALL, "");
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  // The folder picker is a shell dialog: it wants a single-threaded apartment.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  const veltora::MachineContext context = veltora::ReadMachineContext(Environment);
  // Start-up enters the executable's folder: an application folder named
  // relative to the folder the program was started in is made absolute first.
  std::string appFolder = veltora::ApplicationFolder(context);
  std::error_code absoluteError;
  const auto absoluteFolder =
      std::filesystem::absolute(veltora::PathFromUtf8(appFolder), absoluteError);
  if (!absoluteError) appFolder = veltora::Utf8FromPath(absoluteFolder);

  int exitCode = 0;
  {
    veltora::MachineServicesOptions options;
    options.enterExecutableFolder = true;
    // Beside the running agent service, the tray program is its window.
    options.mayServeAsServiceWindow = true;
    veltora::MachineServices machine(appFolder, context, std::move(options));
    // The log window's restores: the command line's, with this machine's
    // SQL Server client, each on a thread of its own.
    const veltora::RestoreServices restore =
        veltora::ComposeRestore(appFolder, context, machine.sqlServer(), {});
    veltora::win32::MainWindow window(
        {.instance = instance, .showBackupLog = [&machine, &restore, instance](HWND owner) {
           veltora::win32::ShowBackupLogWindow(
               instance, owner,
               {.openSettings = [&machine] { return machine.OpenSettings(); },
                .restore = restore,
                .makeWork = [] { return std::make_unique<veltora::BackgroundThread>(); }});
         }});
    veltora::MainWindowPresenter presenter(window, machine.services());
    if (window.Create(presenter) && presenter.OnStartUp()) exitCode = window.RunMessageLoop();
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return exitCode;
}
