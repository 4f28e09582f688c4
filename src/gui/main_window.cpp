#include "gui/main_window.h"

#include <commctrl.h>
#include <imm.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <optional>
#include <utility>

#include "accounts/account_sets.h"
#include "app/backup_configuration.h"
#include "app/messages.h"
#include "base/wide_text.h"
#include "gui/captions.h"
#include "gui/dpi.h"
#include "gui/folder_picker.h"
#include "gui/time_field.h"
#include "ui/messages.h"

namespace veltora::win32 {
namespace {

constexpr wchar_t kClassName[] = L"VeltoraMainWindow";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kTrayIconId = 1;
// Child windows are numbered from here, in the layout table's order; ids
// below 100 stay free for IDOK and IDCANCEL, which the dialog manager sends
// on its own.
constexpr int kFirstPartId = 100;
constexpr int kUpDownWidth = 17;  // at 96 DPI
constexpr int kTickColumnWidth = 39;
constexpr int kMinNameColumnWidth = 60;
// The status bar's one panel, centred.
constexpr int kSupportPanelWidth = 500;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 128, 0);

struct ControlPart {
  Control control;
  Part part;
};

constexpr ControlPart kControlParts[] = {
    {Control::kEdition, Part::kEdition},
    {Control::kAccountFolder, Part::kAccountFolder},
    {Control::kSqlUser, Part::kSqlUser},
    {Control::kSqlPassword, Part::kSqlPassword},
    {Control::kAccountSetList, Part::kAccountSetList},
    {Control::kServerUser, Part::kServerUser},
    {Control::kServerPassword, Part::kServerPassword},
    {Control::kShareUser, Part::kShareUser},
    {Control::kSharePassword, Part::kSharePassword},
    {Control::kDaysBetweenBackups, Part::kDaysBetweenBackups},
    {Control::kBackupTime, Part::kBackupTime},
    {Control::kLocalBackup, Part::kLocalBackup},
    {Control::kLocalFolder, Part::kLocalFolder},
    {Control::kShareBackup, Part::kShareBackup},
    {Control::kShareFolder, Part::kShareFolder},
    {Control::kKeepCount, Part::kKeepCount},
    {Control::kCompressionLevel, Part::kCompressionLevel},
    {Control::kConnectTimeout, Part::kConnectTimeout},
    {Control::kCommandTimeout, Part::kCommandTimeout},
    {Control::kGuardSqlServer, Part::kGuardSqlServer},
    {Control::kPasswordGroup, Part::kPasswordGroup},
    {Control::kOldArchivePassword, Part::kOldArchivePassword},
    {Control::kNewArchivePassword, Part::kNewArchivePassword},
    {Control::kConfirmArchivePassword, Part::kConfirmArchivePassword},
    {Control::kAutostart, Part::kAutostart},
    {Control::kSaveSettings, Part::kSaveSettings},
};

std::optional<Part> PartOf(Control control) {
  for (const ControlPart& cp : kControlParts)
    if (cp.control == control) return cp.part;
  return std::nullopt;
}

std::optional<Control> ControlOf(Part part) {
  for (const ControlPart& cp : kControlParts)
    if (cp.part == part) return cp.control;
  return std::nullopt;
}

struct SpinRange {
  Part part;
  int min;
  int max;
  int maxDigits;  // 0: no limit of its own
};

constexpr SpinRange kSpinRanges[] = {
    {Part::kDaysBetweenBackups, kIntervalDaysMin, kIntervalDaysMax, 0},
    {Part::kKeepCount, 0, kKeepCountMax, 0},
    {Part::kConnectTimeout, kConnectTimeoutMin, kConnectTimeoutMax, 4},
    {Part::kCommandTimeout, kCommandTimeoutMin, kCommandTimeoutMax, 4},
};

// The values a new window starts with, before any settings are loaded.
struct InitialText {
  Part part;
  const char* text;
};
constexpr InitialText kInitialTexts[] = {
    {Part::kBackupTime, "01:30:00"}, {Part::kDaysBetweenBackups, "1"}, {Part::kKeepCount, "0"},
    {Part::kConnectTimeout, "27"},   {Part::kCommandTimeout, "1800"},
};
// A time "hh:mm:ss".
constexpr int kTimeLength = 8;

constexpr Part kFolderPage[] = {Part::kAccountFolderLabel, Part::kAccountFolder,
                                Part::kAccountFolderBrowse};
constexpr Part kSqlPage[] = {Part::kSqlGroup,    Part::kSqlUserLabel,
                             Part::kSqlUser,     Part::kSqlPasswordLabel,
                             Part::kSqlPassword, Part::kListSqlAccountSets};

bool IsEditKind(PartKind kind) {
  return kind == PartKind::kEdit || kind == PartKind::kPassword || kind == PartKind::kReadOnly ||
         kind == PartKind::kSpin || kind == PartKind::kTime;
}

// Controls that take the keyboard focus: they are watched for the focus,
// clicks and Enter.
bool IsFocusable(PartKind kind) {
  return IsEditKind(kind) || kind == PartKind::kDropDown || kind == PartKind::kButton ||
         kind == PartKind::kCheck || kind == PartKind::kList;
}

std::wstring WindowText(HWND hwnd) {
  if (hwnd == nullptr) return {};
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

std::wstring ListText(HWND list, int item, int subItem) {
  std::wstring buffer(1024, L'\0');
  for (;;) {
    LVITEMW lv{};
    lv.iSubItem = subItem;
    lv.pszText = buffer.data();
    lv.cchTextMax = static_cast<int>(buffer.size());
    const auto copied = static_cast<std::size_t>(SendMessageW(
        list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv)));
    if (copied + 1 < buffer.size()) {
      buffer.resize(copied);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

void SetListText(HWND list, int item, int subItem, const std::string& text) {
  std::wstring wide = Widen(text);
  LVITEMW lv{};
  lv.iSubItem = subItem;
  lv.pszText = wide.data();
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

void SetTick(HWND list, int item, bool ticked) {
  LVITEMW lv{};
  lv.stateMask = LVIS_STATEIMAGEMASK;
  lv.state = INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1);
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

void AddColumn(HWND list, int index, const char* title) {
  std::wstring text = Widen(title);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = text.data();
  column.cx = 0;
  column.iSubItem = index;
  SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&column));
}

void AddMenuItem(HMENU menu, UINT id, const char* text) {
  AppendMenuW(menu, MF_STRING, id, Widen(text).c_str());
}

// Puts a message box above all windows when it is activated. MB_TOPMOST
// asks for that, but not every system honours it for a box with an owner
// (Wine does not), and a warning hidden behind another program's window
// would leave the user in front of a window that does not answer.
LRESULT CALLBACK RaiseBoxOnActivation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t className[8] = {};
    GetClassNameW(box, className, static_cast<int>(std::size(className)));
    if (std::wcscmp(className, L"#32770") == 0)
      SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

int MessageBoxUtf8(HWND owner, const std::string& text, const char* caption, UINT style) {
  HHOOK hook = nullptr;
  if ((style & MB_TOPMOST) != 0)
    hook = SetWindowsHookExW(WH_CBT, RaiseBoxOnActivation, nullptr, GetCurrentThreadId());
  const int answer = MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), style);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  return answer;
}

}  // namespace

MainWindow::MainWindow(MainWindowOptions options) : options_(std::move(options)) {}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (font_ != nullptr) DeleteObject(font_);
  if (listMenu_ != nullptr) DestroyMenu(listMenu_);
  if (trayMenu_ != nullptr) DestroyMenu(trayMenu_);
}

bool MainWindow::Create(MainWindowPresenter& presenter) {
  if (hwnd_ != nullptr) return false;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_BAR_CLASSES |
                                            ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  HINSTANCE instance = options_.instance != nullptr ? options_.instance : GetModuleHandleW(nullptr);
  icon_ = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (icon_ == nullptr) icon_ = LoadIconW(nullptr, IDI_APPLICATION);

  WNDCLASSEXW wc{};
  if (!GetClassInfoExW(instance, kClassName, &wc)) {
    wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &MainWindow::WindowProc;
    wc.hInstance = instance;
    wc.hIcon = icon_;
    wc.hIconSm = icon_;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (RegisterClassExW(&wc) == 0) return false;
  }

  // A fixed single border, minimise but no maximise, not resizable.
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  hwnd_ =
      CreateWindowExW(0, kClassName, Widen(app_msg::kWindowCaption).c_str(), kStyle, CW_USEDEFAULT,
                      CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr, instance, this);
  if (hwnd_ == nullptr) return false;
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  dpi_ = DpiOf(hwnd_);
  const SIZE outer = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, 0, false, dpi_);
  const POINT origin = CentredOrigin(outer, hwnd_);
  SetWindowPos(hwnd_, nullptr, origin.x, origin.y, outer.cx, outer.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);

  CreateParts();
  ApplyDpi(dpi_);

  listMenu_ = CreatePopupMenu();
  AddMenuItem(listMenu_, kMenuTickAll, caption::kTickAll);
  AddMenuItem(listMenu_, kMenuTickNone, caption::kTickNone);
  AppendMenuW(listMenu_, MF_SEPARATOR, 0, nullptr);
  AddMenuItem(listMenu_, kMenuInvertTicks, caption::kInvertTicks);
  trayMenu_ = CreatePopupMenu();
  AddMenuItem(trayMenu_, kMenuRestore, caption::kTrayRestore);
  AddMenuItem(trayMenu_, kMenuQuit, caption::kTrayQuit);

  // Explorer announces a restart with this message: the tray icon is gone
  // then and must be added again.
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  presenter_ = &presenter;
  SetTimer(hwnd_, kTimerId, 1000, nullptr);
  return true;
}

void MainWindow::CreateParts() {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
  for (const PartSpec& spec : MainWindowParts()) {
    const wchar_t* className = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    switch (spec.kind) {
      case PartKind::kGroup:
        className = L"BUTTON";
        style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
        break;
      case PartKind::kLabel:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case PartKind::kRightLabel:
        style |= SS_RIGHT | SS_NOPREFIX;
        break;
      case PartKind::kEdit:
      case PartKind::kSpin:
      case PartKind::kTime:
        className = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case PartKind::kPassword:
        className = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case PartKind::kReadOnly:
        className = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case PartKind::kDropDown:
        className = L"COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        break;
      case PartKind::kButton:
        className = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
      case PartKind::kCheck:
        className = L"BUTTON";
        style |= WS_TABSTOP | BS_AUTOCHECKBOX | WS_CLIPSIBLINGS;
        break;
      case PartKind::kList:
        className = WC_LISTVIEWW;
        style |= WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case PartKind::kStatusBar:
        className = STATUSCLASSNAMEW;
        style |= CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER;
        break;
    }
    const int id = kFirstPartId + static_cast<int>(spec.part);
    const std::wstring text = spec.caption != nullptr ? Widen(spec.caption) : std::wstring();
    HWND h = CreateWindowExW(exStyle, className, text.c_str(), style, 0, 0, 0, 0, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    parts_[static_cast<int>(spec.part)] = h;
    if (h == nullptr) continue;
    if (IsFocusable(spec.kind))
      SetWindowSubclass(h, &MainWindow::ControlProc, static_cast<UINT_PTR>(spec.part),
                        reinterpret_cast<DWORD_PTR>(this));
    if (spec.kind == PartKind::kSpin) {
      spins_[static_cast<int>(spec.part)] =
          CreateWindowExW(0, UPDOWN_CLASSW, L"",
                          WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS |
                              UDS_NOTHOUSANDS,
                          0, 0, 0, 0, hwnd_, nullptr, instance, nullptr);
    }
  }

  // The values of a window that has loaded nothing yet.
  ++updating_;
  for (int i = 0; i < kEditionCount; ++i)
    SendMessageW(Window(Part::kEdition), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(Widen(EditionName(i)).c_str()));
  SendMessageW(Window(Part::kEdition), CB_SETCURSEL, 0, 0);
  for (const char* level : app_msg::kCompressionLevelNames)
    SendMessageW(Window(Part::kCompressionLevel), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(Widen(level).c_str()));
  SendMessageW(Window(Part::kCompressionLevel), CB_SETCURSEL, 3, 0);
  for (const SpinRange& range : kSpinRanges) {
    HWND spin = spins_[static_cast<int>(range.part)];
    SendMessageW(spin, UDM_SETRANGE32, static_cast<WPARAM>(range.min),
                 static_cast<LPARAM>(range.max));
    if (range.maxDigits > 0) SendMessageW(Window(range.part), EM_LIMITTEXT, range.maxDigits, 0);
  }
  for (const InitialText& initial : kInitialTexts)
    SetWindowTextW(Window(initial.part), Widen(initial.text).c_str());
  SendMessageW(Window(Part::kBackupTime), EM_LIMITTEXT, kTimeLength, 0);
  // The time field takes digits and blanks between fixed colons: no input
  // method composing in it.
  ImmAssociateContext(Window(Part::kBackupTime), nullptr);
  AttachTimeMask(Window(Part::kBackupTime));
  // The local backup is always on: ticked, and the user cannot untick it.
  SendMessageW(Window(Part::kLocalBackup), BM_SETCHECK, BST_CHECKED, 0);
  EnableWindow(Window(Part::kLocalBackup), FALSE);
  // The password group starts closed.
  for (Part p :
       {Part::kOldArchivePassword, Part::kNewArchivePassword, Part::kConfirmArchivePassword})
    EnableWindow(Window(p), FALSE);
  for (Part p : kSqlPage) ShowWindow(Window(p), SW_HIDE);

  HWND list = Window(Part::kAccountSetList);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  AddColumn(list, 0, caption::kColumnTick);
  AddColumn(list, 1, caption::kColumnNumber);
  AddColumn(list, 2, caption::kColumnName);
  AddColumn(list, 3, caption::kColumnDatabase);
  --updating_;

  // Group boxes go to the bottom of the z-order, outermost last, so that
  // they never paint over what they hold; the keyboard order of the other
  // controls stays the table's.
  const auto parts = MainWindowParts();
  for (auto it = parts.rbegin(); it != parts.rend(); ++it)
    if (it->kind == PartKind::kGroup)
      SetWindowPos(Window(it->part), HWND_BOTTOM, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void MainWindow::ApplyDpi(UINT dpi) {
  dpi_ = dpi;
  HFONT old = font_;
  font_ = CreateWindowFont(dpi_);
  for (HWND h : parts_)
    if (h != nullptr) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  if (old != nullptr) DeleteObject(old);
  Layout();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void MainWindow::Layout() {
  for (const PartSpec& spec : MainWindowParts()) {
    HWND h = Window(spec.part);
    if (h == nullptr) continue;
    const Box b = Scaled(spec.box, dpi_);
    SetWindowPos(h, nullptr, b.x, b.y, b.w, b.h, SWP_NOZORDER | SWP_NOACTIVATE);
    if (HWND spin = spins_[static_cast<int>(spec.part)]; spin != nullptr) {
      // Setting the buddy again puts the arrows at the edit's right edge
      // and narrows the edit by their width.
      SetWindowPos(spin, nullptr, 0, 0, Scale(kUpDownWidth, dpi_), b.h,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
      SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(h), 0);
    }
  }

  HWND status = Window(Part::kStatusBar);
  const int width = Scale(kClientWidth, dpi_);
  const int panel = Scale(kSupportPanelWidth, dpi_);
  int edges[] = {(width - panel) / 2, (width + panel) / 2, -1};
  SendMessageW(status, SB_SETPARTS, std::size(edges), reinterpret_cast<LPARAM>(edges));
  // A leading tab centres a panel's text.
  const std::wstring support = L"\t" + Widen(caption::kSupportContact);
  SendMessageW(status, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(support.c_str()));
  LayoutListColumns();
}

void MainWindow::LayoutListColumns() {
  HWND list = Window(Part::kAccountSetList);
  if (list == nullptr) return;
  RECT client{};
  GetClientRect(list, &client);
  const int tick = Scale(kTickColumnWidth, dpi_);
  const int number = Scale(numberColumnWidth_, dpi_);
  const int name =
      std::max(static_cast<int>(client.right) - tick - number, Scale(kMinNameColumnWidth, dpi_));
  SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(tick, 0));
  SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(number, 0));
  SendMessageW(list, LVM_SETCOLUMNWIDTH, 2, MAKELPARAM(name, 0));
  SendMessageW(list, LVM_SETCOLUMNWIDTH, 3, MAKELPARAM(0, 0));
}

int MainWindow::RunMessageLoop() {
  MSG msg{};
  int code = 0;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      code = static_cast<int>(msg.wParam);
      break;
    }
    if (got == -1) {
      code = 1;
      break;
    }
    if (hwnd_ == nullptr || !IsDialogMessageW(hwnd_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  return code;
}

HWND MainWindow::Window(Control control) const {
  const std::optional<Part> part = PartOf(control);
  return part ? Window(*part) : nullptr;
}

HWND MainWindow::ControlHandle(Control control) const { return Window(control); }

// ---------------------------------------------------------------------------
// Messages

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  }
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->parts_.fill(nullptr);
    self->spins_.fill(nullptr);
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;

    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == Window(Part::kAccountSetList)) {
        POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (lParam == -1) {  // from the keyboard: at the list's corner
          at = {0, 0};
          ClientToScreen(Window(Part::kAccountSetList), &at);
        }
        // The chosen command arrives as WM_COMMAND.
        TrackPopupMenu(listMenu_, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr);
        return 0;
      }
      break;

    case WM_TIMER:
      if (wParam == kTimerId && presenter_ != nullptr && !ending_) presenter_->OnTimerTick();
      return 0;

    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == Window(Part::kStatusLabel)) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, statusColour_ == StatusColour::kRed ? kRed : kGreen);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;

    case WM_SYSCOMMAND:
      // Minimising always puts the program into the notification area.
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        SetTrayVisible(true);
        HideToTray();
        return 0;
      }
      break;

    case WM_ACTIVATE: {
      // Give the focus back to the control that had it, as a dialog does,
      // so that coming back from a message box leaves no field; the first
      // time, to the first control in the keyboard order.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd_, focus)) lastFocus_ = focus;
        break;
      }
      HWND target = lastFocus_;
      if (target == nullptr || !IsWindow(target) || !IsWindowVisible(target) ||
          !IsWindowEnabled(target))
        target = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
      if (target == nullptr) break;
      SetFocus(target);
      return 0;
    }

    case WM_CLOSE:
      if (presenter_ != nullptr && !ending_) {
        presenter_->OnCloseRequested();  // ends the program itself when it allows the close
      } else if (presenter_ == nullptr) {
        EndProgram();
      }
      return 0;

    case WM_QUERYENDSESSION:
      if (presenter_ == nullptr || ending_) return TRUE;
      return presenter_->QueryEndSession() ? TRUE : FALSE;

    case WM_ENDSESSION:
      if (wParam != FALSE) EndProgram();
      return 0;

    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi(HIWORD(wParam));
      return 0;
    }

    case kTrayMessage:
      if (presenter_ == nullptr || ending_) return 0;
      switch (LOWORD(lParam)) {
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
          presenter_->TrayRestoreClicked();
          break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
          ShowTrayMenu();
          break;
        default:
          break;
      }
      return 0;

    case WM_DESTROY:
      KillTimer(hwnd_, kTimerId);
      RemoveTrayIcon();
      return 0;

    default:
      if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        if (trayVisible_ && !ending_) AddTrayIcon();
        return 0;
      }
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void MainWindow::OnCommand(int id, int code, HWND control) {
  if (presenter_ == nullptr || ending_) return;
  MainWindowPresenter& p = *presenter_;
  if (control == nullptr) {  // a menu
    switch (id) {
      case kMenuTickAll:
        return p.TickAllClicked();
      case kMenuTickNone:
        return p.TickNoneClicked();
      case kMenuInvertTicks:
        return p.InvertTicksClicked();
      case kMenuRestore:
        return p.TrayRestoreClicked();
      case kMenuQuit:
        return p.TrayExitClicked();
      default:
        return;
    }
  }
  if (updating_ > 0 || id < kFirstPartId || id >= kFirstPartId + kPartCount) return;
  const auto part = static_cast<Part>(id - kFirstPartId);
  if (code == CBN_SELCHANGE && part == Part::kEdition) return p.EditionChanged();
  if (code != BN_CLICKED || SpecOf(part).kind == PartKind::kGroup) return;
  switch (part) {
    case Part::kAccountFolderBrowse:
      return p.BrowseAccountFolderClicked();
    case Part::kListSqlAccountSets:
      return p.ListSqlAccountSetsClicked();
    case Part::kServerAccountReset:
      return p.ResetServerAccountClicked();
    case Part::kShareAccountReset:
      return p.ResetShareAccountClicked();
    case Part::kLocalFolderBrowse:
      return p.BrowseLocalFolderClicked();
    case Part::kShareFolderBrowse:
      return p.BrowseShareFolderClicked();
    case Part::kPasswordGroup:
      return p.PasswordGroupTicked();
    case Part::kBackUpNow:
      p.BackUpNowClicked();
      return;
    case Part::kLoadSettings:
      p.LoadSettingsClicked();
      return;
    case Part::kSaveSettings:
      p.SaveSettingsClicked();
      return;
    case Part::kBackupLog:
      return p.BackupLogClicked();
    case Part::kExitProgram:
      return p.ExitProgramClicked();
    case Part::kAutostart:
      return p.AutostartClicked();
    default:
      return;
  }
}

LRESULT CALLBACK MainWindow::ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self) {
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &MainWindow::ControlProc, id);
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
  return reinterpret_cast<MainWindow*>(self)->HandleControlMessage(static_cast<Part>(id), hwnd,
                                                                   message, wParam, lParam);
}

LRESULT MainWindow::HandleControlMessage(Part part, HWND hwnd, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  const PartKind kind = SpecOf(part).kind;
  // Enter is a field's own key: push buttons keep the dialog manager's
  // meaning (a click), and a drop-down list uses it to close its list.
  const bool entersField = kind != PartKind::kButton && kind != PartKind::kDropDown;
  switch (message) {
    case WM_GETDLGCODE: {
      LRESULT code = DefSubclassProc(hwnd, message, wParam, lParam);
      const auto* msg = reinterpret_cast<const MSG*>(lParam);
      if (entersField && msg != nullptr && msg->wParam == VK_RETURN &&
          (msg->message == WM_KEYDOWN || msg->message == WM_CHAR))
        code |= DLGC_WANTALLKEYS;
      return code;
    }
    case WM_KEYDOWN:
      // The list would announce Enter itself; the character below is the
      // one place that handles it.
      if (entersField && wParam == VK_RETURN) return 0;
      break;
    case WM_CHAR:
      if (entersField && wParam == VK_RETURN) {
        OnEnter(part);
        return 0;
      }
      break;
    case WM_SETFOCUS: {
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      OnFocusArrived(part);
      return result;
    }
    case WM_LBUTTONUP: {
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      if (IsEditKind(kind) && presenter_ != nullptr && !ending_)
        if (const auto control = ControlOf(part)) presenter_->FieldClick(*control);
      return result;
    }
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// A field is left when another control of this window takes the focus; the
// focus going to a message box or another program leaves nothing. A focus
// move made while a field's exit handler runs (it puts the focus back on a
// refused field) leaves no field either.
void MainWindow::OnFocusArrived(Part part) {
  if (part == focused_) return;
  const Part left = focused_;
  focused_ = part;
  if (exiting_ > 0 || presenter_ == nullptr || ending_ || left == Part::kCount) return;
  const std::optional<Control> control = ControlOf(left);
  if (!control) return;
  ++exiting_;
  presenter_->FieldExit(*control);
  --exiting_;
}

void MainWindow::OnEnter(Part part) {
  if (presenter_ == nullptr || ending_) return;
  if (const std::optional<Control> control = ControlOf(part)) presenter_->FieldEnter(*control);
}

// ---------------------------------------------------------------------------
// The tray icon

void MainWindow::AddTrayIcon() {
  if (hwnd_ == nullptr) return;
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = hwnd_;
  nid.uID = kTrayIconId;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = kTrayMessage;
  nid.hIcon = TrayIcon();
  const std::wstring tip = TrayTip();
  wcsncpy(nid.szTip, tip.c_str(), std::size(nid.szTip) - 1);
  if (!Shell_NotifyIconW(NIM_ADD, &nid)) Shell_NotifyIconW(NIM_MODIFY, &nid);
}

// While backups are late the tray shows the system's warning icon and a tip
// that names the late account sets (cut to the tip's 127 characters).
HICON MainWindow::TrayIcon() const {
  return backupAlarm_.empty() ? icon_ : LoadIconW(nullptr, IDI_WARNING);
}

std::wstring MainWindow::TrayTip() const {
  if (backupAlarm_.empty()) return Widen(caption::kTrayTip);
  std::wstring tip = Widen(std::string(ui_msg::kTrayTipLate) + backupAlarm_);
  if (tip.size() > 127) tip.resize(127);
  return tip;
}

void MainWindow::SetBackupAlarm(const std::string& overdue, bool announce) {
  backupAlarm_ = overdue;
  if (!trayVisible_ || hwnd_ == nullptr) return;
  AddTrayIcon();
  if (!announce || overdue.empty()) return;
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = hwnd_;
  nid.uID = kTrayIconId;
  nid.uFlags = NIF_INFO;
  nid.dwInfoFlags = NIIF_WARNING;
  const std::wstring title = Widen(ui_msg::kBalloonTitle);
  const std::wstring text = Widen(std::string(ui_msg::kBackupAlarmPrefix) + overdue);
  wcsncpy(nid.szInfoTitle, title.c_str(), std::size(nid.szInfoTitle) - 1);
  wcsncpy(nid.szInfo, text.c_str(), std::size(nid.szInfo) - 1);
  Shell_NotifyIconW(NIM_MODIFY, &nid);
  ++trayBalloons_;
}

void MainWindow::RemoveTrayIcon() {
  if (hwnd_ == nullptr) return;
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = hwnd_;
  nid.uID = kTrayIconId;
  Shell_NotifyIconW(NIM_DELETE, &nid);
}

void MainWindow::ShowTrayMenu() {
  POINT at{};
  GetCursorPos(&at);
  // Without the foreground the menu would not close when clicked beside.
  SetForegroundWindow(hwnd_);
  TrackPopupMenu(trayMenu_, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, hwnd_, nullptr);
  PostMessageW(hwnd_, WM_NULL, 0, 0);
}

// ---------------------------------------------------------------------------
// MainWindowView

std::string MainWindow::Text(Control control) const { return Narrow(WindowText(Window(control))); }

void MainWindow::SetText(Control control, const std::string& text) {
  HWND h = Window(control);
  if (h == nullptr) return;
  ++updating_;
  SetWindowTextW(h, Widen(text).c_str());
  --updating_;
}

bool MainWindow::Checked(Control control) const {
  HWND h = Window(control);
  return h != nullptr && SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::SetChecked(Control control, bool checked) {
  HWND h = Window(control);
  if (h == nullptr) return;
  ++updating_;
  SendMessageW(h, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  --updating_;
}

bool MainWindow::Enabled(Control control) const {
  HWND h = Window(control);
  return h != nullptr && IsWindowEnabled(h) != FALSE;
}

void MainWindow::SetEnabled(Control control, bool enabled) {
  const std::optional<Part> part = PartOf(control);
  if (!part || Window(*part) == nullptr) return;
  ++updating_;
  EnableWindow(Window(*part), enabled ? TRUE : FALSE);
  if (HWND spin = spins_[static_cast<int>(*part)]; spin != nullptr)
    EnableWindow(spin, enabled ? TRUE : FALSE);
  --updating_;
}

int MainWindow::ItemIndex(Control control) const {
  const std::optional<Part> part = PartOf(control);
  if (!part || SpecOf(*part).kind != PartKind::kDropDown) return -1;
  const LRESULT index = SendMessageW(Window(*part), CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void MainWindow::SetItemIndex(Control control, int index) {
  const std::optional<Part> part = PartOf(control);
  if (!part || SpecOf(*part).kind != PartKind::kDropDown) return;
  ++updating_;
  SendMessageW(Window(*part), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  --updating_;
}

int MainWindow::ItemCount(Control control) const {
  const std::optional<Part> part = PartOf(control);
  if (!part || SpecOf(*part).kind != PartKind::kDropDown) return 0;
  const LRESULT count = SendMessageW(Window(*part), CB_GETCOUNT, 0, 0);
  return count == CB_ERR ? 0 : static_cast<int>(count);
}

std::vector<AccountSetEntry> MainWindow::AccountRows() const {
  std::vector<AccountSetEntry> rows;
  HWND list = Window(Part::kAccountSetList);
  if (list == nullptr) return rows;
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    const auto state = static_cast<UINT>(
        SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK));
    AccountSetEntry entry;
    entry.ticked = (state >> 12) == 2;
    entry.number = Narrow(ListText(list, i, 1));
    entry.name = Narrow(ListText(list, i, 2));
    entry.database = Narrow(ListText(list, i, 3));
    rows.push_back(std::move(entry));
  }
  return rows;
}

void MainWindow::SetAccountRows(const std::vector<AccountSetEntry>& rows) {
  HWND list = Window(Part::kAccountSetList);
  if (list == nullptr) return;
  ++updating_;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  int index = 0;
  for (const AccountSetEntry& row : rows) {
    wchar_t empty[] = L"";
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = empty;
    const int at =
        static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0) continue;
    SetListText(list, at, 1, row.number);
    SetListText(list, at, 2, row.name);
    SetListText(list, at, 3, row.database);
    SetTick(list, at, row.ticked);
    ++index;
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  --updating_;
}

void MainWindow::SetNumberColumnWidth(int width) {
  numberColumnWidth_ = std::max(width, 0);
  LayoutListColumns();
}

void MainWindow::ShowAccountPage(AccountPage page) {
  const bool folder = page == AccountPage::kFolder;
  for (Part p : kFolderPage) ShowWindow(Window(p), folder ? SW_SHOW : SW_HIDE);
  for (Part p : kSqlPage) ShowWindow(Window(p), folder ? SW_HIDE : SW_SHOW);
}

void MainWindow::Focus(Control control) {
  if (HWND h = Window(control); h != nullptr) SetFocus(h);
}

void MainWindow::SelectAll(Control control) {
  const std::optional<Part> part = PartOf(control);
  if (part && IsEditKind(SpecOf(*part).kind)) SendMessageW(Window(*part), EM_SETSEL, 0, -1);
}

void MainWindow::ShowWarning(const std::string& text) {
  MessageBoxUtf8(hwnd_, text, caption::kWarning, MB_OK | MB_ICONWARNING | MB_TOPMOST);
}

void MainWindow::ShowNotice(const std::string& text) {
  MessageBoxUtf8(hwnd_, text, caption::kApplicationTitle, MB_OK);
}

void MainWindow::ShowError(const std::string& text) {
  MessageBoxUtf8(hwnd_, text, caption::kApplicationTitle, MB_OK | MB_ICONERROR);
}

std::string MainWindow::BrowseForFolder(const std::string& prompt) {
  return PickFolder(hwnd_, prompt);
}

void MainWindow::SetNextBackupText(const std::string& text) {
  HWND label = Window(Part::kNextBackupLabel);
  if (label == nullptr) return;
  ++updating_;
  SetWindowTextW(label, Widen(text).c_str());
  --updating_;
}

void MainWindow::SetStatus(const std::string& text, StatusColour colour) {
  HWND label = Window(Part::kStatusLabel);
  if (label == nullptr) return;
  const std::wstring wide = Widen(text);
  // The timer sets it every second: repaint only what changed.
  if (colour == statusColour_ && WindowText(label) == wide) return;
  statusColour_ = colour;
  ++updating_;
  SetWindowTextW(label, wide.c_str());
  --updating_;
  InvalidateRect(label, nullptr, TRUE);
}

void MainWindow::SetTrayVisible(bool visible) {
  trayVisible_ = visible;
  if (visible) {
    AddTrayIcon();
  } else {
    RemoveTrayIcon();
  }
}

void MainWindow::HideToTray() {
  if (hwnd_ == nullptr) return;
  if (IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_MINIMIZE);
  ShowWindow(hwnd_, SW_HIDE);
}

void MainWindow::ShowNormal() {
  if (hwnd_ == nullptr) return;
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
}

bool MainWindow::HiddenInTray() const { return hwnd_ == nullptr || !IsWindowVisible(hwnd_); }

void MainWindow::ProcessPendingMessages() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The loop that runs the program is to see it too.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (hwnd_ == nullptr || !IsDialogMessageW(hwnd_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void MainWindow::ShowBackupLog() {
  if (options_.showBackupLog) options_.showBackupLog(hwnd_);
}

// The window goes away at once; the message loop ends when it comes back to
// its top, whatever modal loop runs now (each of them ends on WM_QUIT and
// hands it on), and destroys the window then.
void MainWindow::EndProgram() {
  if (ending_) return;
  ending_ = true;
  if (hwnd_ != nullptr) {
    KillTimer(hwnd_, kTimerId);
    RemoveTrayIcon();
    ShowWindow(hwnd_, SW_HIDE);
  }
  PostQuitMessage(0);
}

}  // namespace veltora::win32
