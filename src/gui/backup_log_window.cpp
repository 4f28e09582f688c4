#include "gui/backup_log_window.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>

#include "base/wide_text.h"
#include "gui/captions.h"
#include "gui/dpi.h"
#include "gui/folder_picker.h"
#include "ui/messages.h"

namespace veltora::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"VeltoraBackupLogWindow";

// The layout at 96 DPI: the list over the upper part, the close button filling
// the strip below it, the status line at the bottom.
constexpr int kClientWidth = 794;
constexpr int kClientHeight = 529;
constexpr int kListHeight = 458;
constexpr int kStatusHeight = 22;

// Announces tasks queued for the window's thread.
constexpr UINT kRunTasksMessage = WM_APP + 1;
// SQL Server's names are at most 128 characters.
constexpr int kDatabaseNameLength = 128;

// The row indicator: a narrow column without title before the table's
// columns, a fixed-looking cell on every row and a triangle on the current one.
constexpr int kIndicatorColumn = 0;
constexpr int kIndicatorWidth = 11;

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

void EnsureClassRegistered(HINSTANCE instance, WNDPROC proc) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (::GetClassInfoExW(instance, kWindowClass, &wc)) return;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  ::RegisterClassExW(&wc);
}

}  // namespace

void ShowBackupLogWindow(HINSTANCE instance, HWND owner, BackupLogServices services) {
  BackupLogWindow window(instance, owner, std::move(services));
  if (window.Open()) window.RunModalLoop();
}

BackupLogWindow::BackupLogWindow(HINSTANCE instance, HWND owner, BackupLogServices services,
                                 ChooseFolderFunction chooseFolder)
    : instance_(instance),
      owner_(owner),
      chooseFolder_(chooseFolder ? std::move(chooseFolder) : ChooseFolderFunction(PickFolder)),
      presenter_(*this, std::move(services)) {}

BackupLogWindow::~BackupLogWindow() {
  if (hwnd_ != nullptr) Close();
}

bool BackupLogWindow::Open() {
  if (hwnd_ != nullptr) return true;
  if (!Create()) return false;
  // A refusal has shown its notice and closed the window unseen.
  if (!presenter_.OnShow() || hwnd_ == nullptr) {
    if (hwnd_ != nullptr) Close();
    return false;
  }
  if (owner_ != nullptr && ::IsWindowEnabled(owner_)) {
    ::EnableWindow(owner_, FALSE);
    ownerDisabled_ = true;
  }
  ::ShowWindow(hwnd_, SW_SHOW);
  ::SetForegroundWindow(hwnd_);
  ::SetFocus(list_);
  return true;
}

void BackupLogWindow::RunModalLoop() {
  MSG msg;
  while (hwnd_ != nullptr) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The program is ending: close, and leave the quit to the outer loop.
      Close();
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (got == -1) break;
    if (hwnd_ != nullptr && ::IsDialogMessageW(hwnd_, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (hwnd_ != nullptr) Close();
}

void BackupLogWindow::SetRows(const std::vector<BackupLogRow>& rows) {
  rows_.clear();
  rows_.reserve(rows.size());
  rowIds_.clear();
  rowIds_.reserve(rows.size());
  for (const BackupLogRow& r : rows) {
    rows_.push_back({Widen(r.accountName), Widen(r.backupFile), Widen(r.backupTime),
                     Widen(r.remark), Widen(r.archivePassword)});
    rowIds_.push_back(r.id);
  }
  if (list_ == nullptr) return;
  ListView_SetItemCountEx(list_, static_cast<int>(rows_.size()), 0);
  ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  // The newest row is the current one, as the table is read from its top.
  if (!rows_.empty()) {
    ListView_SetItemState(list_, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list_, 0, FALSE);
  }
  ::InvalidateRect(list_, nullptr, TRUE);
}

void BackupLogWindow::ShowNotice(const std::string& text) {
  // While the window is still hidden (the presenter refusing to show it) the
  // notice stands over the owner.
  HWND parent = hwnd_ != nullptr && ::IsWindowVisible(hwnd_) ? hwnd_ : owner_;
  ::MessageBoxW(parent, Widen(text).c_str(), Widen(caption::kApplicationTitle).c_str(), MB_OK);
}

void BackupLogWindow::ShowWarning(const std::string& text) {
  ::MessageBoxW(hwnd_, Widen(text).c_str(), Widen(caption::kWarning).c_str(),
                MB_OK | MB_ICONWARNING);
}

bool BackupLogWindow::AskYesNo(const std::string& text) {
  return ::MessageBoxW(hwnd_, Widen(text).c_str(), Widen(caption::kApplicationTitle).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::string BackupLogWindow::ChooseFolder(const std::string& prompt) {
  return chooseFolder_(hwnd_, prompt);
}

std::optional<std::string> BackupLogWindow::AskText(const std::string& prompt,
                                                    const std::string& initial) {
  return AskTextLine(hwnd_, caption::kApplicationTitle, prompt, initial, kDatabaseNameLength);
}

void BackupLogWindow::SetStatus(const std::string& text) {
  if (status_ != nullptr) ::SetWindowTextW(status_, Widen(text).c_str());
}

void BackupLogWindow::SetRestoreEnabled(bool enabled) { restoreEnabled_ = enabled; }

void BackupLogWindow::RunOnWindowThread(std::function<void()> task) {
  std::lock_guard lock(tasksMutex_);
  if (tasksWindow_ == nullptr) return;
  tasks_.push_back(std::move(task));
  // One message per task: a task that opens a modal box leaves the rest to
  // the box's own message loop, in their order.
  ::PostMessageW(tasksWindow_, kRunTasksMessage, 0, 0);
}

void BackupLogWindow::RunQueuedTasks() {
  std::function<void()> task;
  {
    std::lock_guard lock(tasksMutex_);
    if (tasks_.empty()) return;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  task();
}

void BackupLogWindow::Close() {
  if (hwnd_ == nullptr) return;
  // The owner takes input again before this window goes, so that the
  // activation returns to it rather than to another program.
  ReleaseOwner();
  ::DestroyWindow(hwnd_);
}

void BackupLogWindow::ReleaseOwner() {
  if (!ownerDisabled_) return;
  ownerDisabled_ = false;
  ::EnableWindow(owner_, TRUE);
}

bool BackupLogWindow::Create() {
  EnsureClassRegistered(instance_, &BackupLogWindow::WindowProc);
  const UINT dpi = DpiOf(owner_);
  const SIZE size = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, false, dpi);
  const POINT at = CentredOrigin(size, owner_);
  const HWND created =
      ::CreateWindowExW(kExStyle, kWindowClass, Widen(ui_msg::kBackupLogCaption).c_str(), kStyle,
                        at.x, at.y, size.cx, size.cy, owner_, nullptr, instance_, this);
  if (created == nullptr) return false;
  {
    std::lock_guard lock(tasksMutex_);
    tasksWindow_ = hwnd_;
  }
  CreateControls();
  // Another monitor may show the window at another scale than its owner's.
  const UINT windowDpi = DpiOf(hwnd_);
  if (windowDpi != dpi) {
    const SIZE resized =
        WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, false, windowDpi);
    const POINT moved = CentredOrigin(resized, owner_);
    ::SetWindowPos(hwnd_, nullptr, moved.x, moved.y, resized.cx, resized.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  Layout(windowDpi);
  return true;
}

void BackupLogWindow::CreateControls() {
  list_ = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, 0, 0, 0,
      0, hwnd_, reinterpret_cast<HMENU>(kListId), instance_, nullptr);
  ListView_SetExtendedListViewStyle(
      list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_DOUBLEBUFFER);
  const auto addColumn = [this](int index, const char* title, int width) {
    std::wstring text = Widen(title);
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    c.pszText = text.data();
    c.cx = width;
    c.iSubItem = index;
    ListView_InsertColumn(list_, index, &c);
  };
  addColumn(kIndicatorColumn, "", kIndicatorWidth);
  int index = kIndicatorColumn + 1;
  for (const ui_msg::BackupLogColumn& column : ui_msg::kBackupLogColumns)
    addColumn(index++, column.title, column.width);
  closeButton_ =
      ::CreateWindowExW(0, L"BUTTON", Widen(ui_msg::kBackupLogCloseButton).c_str(),
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, hwnd_,
                        reinterpret_cast<HMENU>(kCloseButtonId), instance_, nullptr);
  status_ =
      ::CreateWindowExW(0, L"STATIC", L"",
                        WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_SUNKEN | SS_CENTERIMAGE |
                            SS_ENDELLIPSIS | SS_NOPREFIX,
                        0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(kStatusId), instance_, nullptr);
}

void BackupLogWindow::Layout(UINT dpi) {
  font_.Reset(CreateWindowFont(dpi));
  const auto font = reinterpret_cast<WPARAM>(font_.get());
  ::SendMessageW(list_, WM_SETFONT, font, TRUE);
  ::SendMessageW(closeButton_, WM_SETFONT, font, TRUE);
  ::SendMessageW(status_, WM_SETFONT, font, TRUE);

  RECT client{};
  ::GetClientRect(hwnd_, &client);
  const int listHeight = Scale(kListHeight, dpi);
  const int statusTop = client.bottom - Scale(kStatusHeight, dpi);
  ::MoveWindow(list_, 0, 0, client.right, listHeight, TRUE);
  ::MoveWindow(closeButton_, 0, listHeight, client.right, statusTop - listHeight, TRUE);
  ::MoveWindow(status_, 0, statusTop, client.right, client.bottom - statusTop, TRUE);
  ListView_SetColumnWidth(list_, kIndicatorColumn, Scale(kIndicatorWidth, dpi));
  int index = kIndicatorColumn + 1;
  for (const ui_msg::BackupLogColumn& column : ui_msg::kBackupLogColumns)
    ListView_SetColumnWidth(list_, index++, Scale(column.width, dpi));
}

LRESULT CALLBACK BackupLogWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<BackupLogWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<BackupLogWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = self->list_ = self->closeButton_ = self->status_ = nullptr;
    // The presenter has waited for its work: what it queued last is dropped.
    std::lock_guard lock(self->tasksMutex_);
    self->tasksWindow_ = nullptr;
    self->tasks_.clear();
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT BackupLogWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == list_) {
        ShowContextMenu(lParam);
        return 0;
      }
      break;
    case WM_NOTIFYFORMAT:
      return NFR_UNICODE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom == list_) {
        switch (header->code) {
          case LVN_GETDISPINFOW:
            OnGetDispInfo(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
            return 0;
          case NM_CUSTOMDRAW:
            return OnCustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
          case LVN_ITEMCHANGED: {
            // The triangle follows the current row.
            const auto& change = *reinterpret_cast<const NMLISTVIEW*>(lParam);
            if (((change.uOldState ^ change.uNewState) & LVIS_FOCUSED) != 0)
              ::InvalidateRect(list_, nullptr, FALSE);
            return 0;
          }
          default:
            break;
        }
      }
      // The indicator stays first and keeps its width.
      if (header->hwndFrom == ListView_GetHeader(list_)) {
        const auto& item = *reinterpret_cast<const NMHEADERW*>(lParam);
        switch (header->code) {
          case HDN_BEGINTRACKW:
          case HDN_BEGINDRAG:
          case HDN_DIVIDERDBLCLICKW:
            return item.iItem == kIndicatorColumn ? TRUE : FALSE;
          case HDN_ENDDRAG:
            return item.iItem == kIndicatorColumn ||
                           (item.pitem != nullptr && (item.pitem->mask & HDI_ORDER) != 0 &&
                            item.pitem->iOrder == 0)
                       ? TRUE
                       : FALSE;
          default:
            break;
        }
      }
      break;
    }
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<RECT*>(lParam);
      ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      Layout(HIWORD(wParam));
      return 0;
    }
    case kRunTasksMessage:
      RunQueuedTasks();
      return 0;
    case WM_CLOSE:
      presenter_.CloseClicked();
      return 0;
    case WM_DESTROY:
      ReleaseOwner();
      presenter_.OnClose();
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void BackupLogWindow::OnCommand(int id) {
  switch (id) {
    case kRefreshCommand:
      presenter_.RefreshClicked();
      break;
    case kRestoreCommand: {
      const int row = CurrentRow();
      if (row >= 0 && static_cast<std::size_t>(row) < rowIds_.size())
        presenter_.RestoreClicked(rowIds_[static_cast<std::size_t>(row)]);
      break;
    }
    case kCloseButtonId:
    case IDCANCEL:  // Esc, as in any dialog
      presenter_.CloseClicked();
      break;
    default:
      break;
  }
}

void BackupLogWindow::ShowContextMenu(LPARAM screenPoint) {
  POINT at{GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
  if (screenPoint == -1) {
    // From the keyboard: under the focused row, or the list's corner.
    RECT r{};
    const int focused = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
    if (focused < 0 || !ListView_GetItemRect(list_, focused, &r, LVIR_LABEL))
      ::GetClientRect(list_, &r);
    at = POINT{r.left, r.bottom};
    ::ClientToScreen(list_, &at);
  }
  HMENU menu = ::CreatePopupMenu();
  if (menu == nullptr) return;
  ::AppendMenuW(menu, MF_STRING, kRefreshCommand, Widen(ui_msg::kBackupLogRefresh).c_str());
  // The restore is of the current row: offered when there is one and no
  // restore runs.
  const bool restorable = restoreEnabled_ && CurrentRow() >= 0;
  ::AppendMenuW(menu, MF_STRING | (restorable ? MF_ENABLED : MF_GRAYED), kRestoreCommand,
                Widen(ui_msg::kBackupLogRestore).c_str());
  const int chosen = static_cast<int>(::TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, hwnd_, nullptr));
  ::DestroyMenu(menu);
  if (chosen != 0) OnCommand(chosen);
}

void BackupLogWindow::OnGetDispInfo(NMLVDISPINFOW& info) {
  LVITEMW& item = info.item;
  if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return;
  const auto row = static_cast<std::size_t>(item.iItem);
  const auto column = static_cast<std::size_t>(item.iSubItem - kIndicatorColumn - 1);
  if (item.iItem < 0 || row >= rows_.size() || item.iSubItem <= kIndicatorColumn ||
      column >= rows_[row].size()) {
    item.pszText[0] = L'\0';
    return;
  }
  ::lstrcpynW(item.pszText, rows_[row][column].c_str(), item.cchTextMax);
}

int BackupLogWindow::CurrentRow() const { return ListView_GetNextItem(list_, -1, LVNI_FOCUSED); }

LRESULT BackupLogWindow::OnCustomDraw(NMLVCUSTOMDRAW& draw) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
      if (draw.iSubItem != kIndicatorColumn) return CDRF_DODEFAULT;
      DrawIndicator(draw.nmcd.hdc, static_cast<int>(draw.nmcd.dwItemSpec));
      return CDRF_SKIPDEFAULT;
    default:
      return CDRF_DODEFAULT;
  }
}

// The cell in the colour of a fixed column, raised, and on the current row a
// triangle pointing at the row.
void BackupLogWindow::DrawIndicator(HDC dc, int row) {
  RECT cell{};
  if (!ListView_GetSubItemRect(list_, row, kIndicatorColumn, LVIR_BOUNDS, &cell)) return;
  cell.right = cell.left + ListView_GetColumnWidth(list_, kIndicatorColumn);
  ::FillRect(dc, &cell, ::GetSysColorBrush(COLOR_BTNFACE));
  ::DrawEdge(dc, &cell, BDR_RAISEDINNER, BF_RECT);
  if (row != CurrentRow()) return;
  const int width = cell.right - cell.left;
  const int height = cell.bottom - cell.top;
  const int half = std::max(2, std::min(width - 4, height - 4) / 2);
  const int centreX = cell.left + width / 2;
  const int centreY = cell.top + height / 2;
  const POINT triangle[] = {{centreX - half / 2, centreY - half},
                            {centreX - half / 2, centreY + half},
                            {centreX + half / 2 + 1, centreY}};
  const HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(BLACK_BRUSH));
  const HGDIOBJ oldPen = ::SelectObject(dc, ::GetStockObject(BLACK_PEN));
  ::Polygon(dc, triangle, 3);
  ::SelectObject(dc, oldPen);
  ::SelectObject(dc, oldBrush);
}

}  // namespace veltora::win32
