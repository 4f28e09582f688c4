// The main window as native Win32 controls: it shows what the presenter says
// and turns the window's events into the presenter's handlers. It holds no
// logic of its own: checks, messages, the Enter chain and ranges are the
// presenter's. A change the presenter makes (SetText, SetChecked, ...) never
// comes back to it as an event.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "gui/main_window_layout.h"
#include "ui/main_window_presenter.h"
#include "ui/main_window_view.h"

namespace veltora::win32 {

struct MainWindowOptions {
  HINSTANCE instance = nullptr;
  // Opens the backup log window modally over the main window; returns when
  // it has closed. Wired by the composition root to ShowBackupLogWindow.
  std::function<void(HWND owner)> showBackupLog;
};

// The commands of the list's context menu and of the tray menu, as they
// arrive in WM_COMMAND.
enum MenuCommand : UINT {
  kMenuTickAll = 40001,
  kMenuTickNone,
  kMenuInvertTicks,
  kMenuRestore,
  kMenuQuit,
};

class MainWindow final : public MainWindowView {
 public:
  explicit MainWindow(MainWindowOptions options);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window hidden (767 x 618 client at 96 DPI, centred) with all
  // its controls; their events go to `presenter`. Starts the one-second timer.
  bool Create(MainWindowPresenter& presenter);
  // The message loop, until EndProgram or WM_QUIT; the exit code.
  int RunMessageLoop();

  HWND Handle() const { return hwnd_; }
  // For tests: the window behind a control, a button, the menus.
  HWND ControlHandle(Control control) const;
  HWND PartHandle(Part part) const { return Window(part); }
  HMENU AccountListMenu() const { return listMenu_; }
  HMENU TrayMenu() const { return trayMenu_; }
  // For tests: what the tray icon shows now (its icon and tip), and the
  // balloons asked for.
  HICON TrayIcon() const;
  std::wstring TrayTip() const;
  int TrayBalloons() const { return trayBalloons_; }
  UINT Dpi() const { return dpi_; }

  // MainWindowView.
  std::string Text(Control control) const override;
  void SetText(Control control, const std::string& text) override;
  bool Checked(Control control) const override;
  void SetChecked(Control control, bool checked) override;
  bool Enabled(Control control) const override;
  void SetEnabled(Control control, bool enabled) override;
  int ItemIndex(Control control) const override;
  void SetItemIndex(Control control, int index) override;
  int ItemCount(Control control) const override;
  std::vector<AccountSetEntry> AccountRows() const override;
  void SetAccountRows(const std::vector<AccountSetEntry>& rows) override;
  void SetNumberColumnWidth(int width) override;
  void ShowAccountPage(AccountPage page) override;
  void Focus(Control control) override;
  void SelectAll(Control control) override;
  void ShowWarning(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  void ShowError(const std::string& text) override;
  std::string BrowseForFolder(const std::string& prompt) override;
  void SetNextBackupText(const std::string& text) override;
  void SetStatus(const std::string& text, StatusColour colour) override;
  void SetTrayVisible(bool visible) override;
  void SetBackupAlarm(const std::string& overdue, bool announce) override;
  void HideToTray() override;
  void ShowNormal() override;
  bool HiddenInTray() const override;
  void ProcessPendingMessages() override;
  void ShowBackupLog() override;
  void EndProgram() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR self);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleControlMessage(Part part, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  void CreateParts();
  void ApplyDpi(UINT dpi);
  void Layout();
  void LayoutListColumns();
  void AddTrayIcon();
  void RemoveTrayIcon();
  void ShowTrayMenu();
  void OnCommand(int id, int code, HWND control);
  void OnFocusArrived(Part part);
  void OnEnter(Part part);

  HWND Window(Part part) const { return parts_[static_cast<int>(part)]; }
  HWND Window(Control control) const;

  MainWindowOptions options_;
  MainWindowPresenter* presenter_ = nullptr;
  HWND hwnd_ = nullptr;
  std::array<HWND, kPartCount> parts_{};
  // The up-down arrows beside the spin fields.
  std::array<HWND, kPartCount> spins_{};
  HFONT font_ = nullptr;
  HMENU listMenu_ = nullptr;
  HMENU trayMenu_ = nullptr;
  HICON icon_ = nullptr;
  UINT dpi_ = 96;
  UINT taskbarCreated_ = 0;

  int numberColumnWidth_ = 70;  // at 96 DPI
  StatusColour statusColour_ = StatusColour::kGreen;
  bool trayVisible_ = false;
  // The late account sets the tray names (the overdue text); empty while all
  // backups are current.
  std::string backupAlarm_;
  int trayBalloons_ = 0;
  bool ending_ = false;
  // Set while the window itself changes a control: no event of that change
  // reaches the presenter.
  int updating_ = 0;
  // The field that had the focus last, and whether a field's exit handler
  // runs (a focus move it makes is no user leaving a field).
  Part focused_ = Part::kCount;
  int exiting_ = 0;
  // The focus to give back when the window is activated again.
  HWND lastFocus_ = nullptr;
};

}  // namespace veltora::win32
