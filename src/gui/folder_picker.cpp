#include "gui/folder_picker.h"

#include <shlobj.h>

#include <vector>

#include "base/wide_text.h"
#include "gui/captions.h"

namespace veltora::win32 {
namespace {

constexpr int kPromptId = 100;
constexpr int kLineId = 101;

struct TextLineState {
  std::wstring prompt;
  std::wstring text;
  int maxLength = 0;
};

// A dialog template in memory: the header and its items, each item starting
// on a DWORD boundary, as DialogBoxIndirect reads it.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, const std::wstring& caption, short width, short height,
                 WORD itemCount) {
    Dword(style);
    Dword(0);  // extended style
    words_.push_back(itemCount);
    for (short v : {short{0}, short{0}, width, height}) words_.push_back(static_cast<WORD>(v));
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the dialog class
    Text(caption);
    words_.push_back(9);  // DS_SETFONT: the point size, then the face
    Text(L"MS Shell Dlg");
  }
  // `classAtom`: 0x0080 button, 0x0081 edit, 0x0082 static.
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
            const std::wstring& text) {
    if (words_.size() % 2 != 0) words_.push_back(0);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (short v : {x, y, cx, cy}) words_.push_back(static_cast<WORD>(v));
    words_.push_back(id);
    words_.push_back(0xFFFF);
    words_.push_back(classAtom);
    Text(text);
    words_.push_back(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Dword(DWORD v) {
    words_.push_back(LOWORD(v));
    words_.push_back(HIWORD(v));
  }
  void Text(const std::wstring& text) {
    words_.insert(words_.end(), text.begin(), text.end());
    words_.push_back(0);
  }
  std::vector<WORD> words_;
};

INT_PTR CALLBACK TextLineProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      const auto& state = *reinterpret_cast<TextLineState*>(lParam);
      ::SetDlgItemTextW(dialog, kPromptId, state.prompt.c_str());
      const HWND line = ::GetDlgItem(dialog, kLineId);
      ::SendMessageW(line, EM_LIMITTEXT, static_cast<WPARAM>(state.maxLength), 0);
      ::SetWindowTextW(line, state.text.c_str());
      ::SendMessageW(line, EM_SETSEL, 0, -1);
      ::SetFocus(line);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        auto& state = *reinterpret_cast<TextLineState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
        const HWND line = ::GetDlgItem(dialog, kLineId);
        std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(line)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            ::GetWindowTextW(line, text.data(), static_cast<int>(text.size()))));
        state.text = text;
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

std::string PickFolder(HWND owner, const std::string& prompt) {
  // The picker's new style needs COM on this thread; a thread that has it
  // already keeps its own.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring title = Widen(prompt);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  std::string folder;
  if (PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info); chosen != nullptr) {
    wchar_t path[MAX_PATH] = {};
    if (::SHGetPathFromIDListW(chosen, path)) folder = Narrow(path);
    ::CoTaskMemFree(chosen);
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return folder;
}

std::optional<std::string> AskTextLine(HWND owner, const std::string& caption,
                                       const std::string& prompt, const std::string& initial,
                                       int maxLength) {
  // In dialog units: the prompt over two lines, the line, the buttons at the
  // right as Windows places them.
  DialogTemplate t(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                   Widen(caption), 260, 76, 4);
  t.Item(SS_LEFT, 7, 7, 246, 20, kPromptId, 0x0082, L"");
  t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 30, 246, 14, kLineId, 0x0081, L"");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 149, 55, 50, 14, IDOK, 0x0080, Widen(caption::kOk));
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 203, 55, 50, 14, IDCANCEL, 0x0080, Widen(caption::kCancel));
  TextLineState state{Widen(prompt), Widen(initial), maxLength};
  const INT_PTR answer = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), t.get(), owner,
                                                   TextLineProc, reinterpret_cast<LPARAM>(&state));
  if (answer != IDOK) return std::nullopt;
  return Narrow(state.text);
}

}  // namespace veltora::win32
