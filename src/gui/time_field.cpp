#include "gui/time_field.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "base/wide_text.h"
#include "ui/time_mask.h"

namespace veltora::win32 {
namespace {

constexpr UINT_PTR kSubclassId = 0x54494D45;  // one subclass of its own per edit

// The mask works on ASCII; any other character is one it refuses.
std::string Ascii(const std::wstring& text) {
  std::string ascii;
  for (const wchar_t c : text) ascii += c < 0x80 ? static_cast<char>(c) : '\x01';
  return ascii;
}

MaskedTime Read(HWND edit) {
  const int length = ::GetWindowTextLengthW(edit);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(std::max(::GetWindowTextW(edit, text.data(), length + 1), 0)));
  DWORD start = 0;
  DWORD end = 0;
  ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return {Ascii(text), static_cast<int>(start), static_cast<int>(end)};
}

void Show(HWND edit, const MaskedTime& field) {
  ::SetWindowTextW(edit, Widen(field.text).c_str());
  ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(field.selectionStart),
                 static_cast<LPARAM>(field.selectionEnd));
}

// Runs one change of the mask on the field; a refused one beeps, as a key
// the field cannot take does in any masked edit.
template <typename Change>
void Apply(HWND edit, Change change) {
  MaskedTime field = Read(edit);
  if (change(field)) {
    Show(edit, field);
  } else {
    ::MessageBeep(MB_OK);
  }
}

std::wstring ClipboardText(HWND edit) {
  std::wstring text;
  if (!::IsClipboardFormatAvailable(CF_UNICODETEXT) || !::OpenClipboard(edit)) return text;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT); data != nullptr) {
    if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data)); chars != nullptr) {
      text = chars;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

LRESULT CALLBACK TimeMaskProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR) {
  switch (message) {
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(edit, &TimeMaskProc, id);
      break;
    case WM_SETTEXT: {
      const auto* text = reinterpret_cast<const wchar_t*>(lParam);
      const std::wstring shaped =
          Widen(ConformToTimeMask(Ascii(text != nullptr ? std::wstring(text) : std::wstring())));
      return ::DefSubclassProc(edit, message, wParam, reinterpret_cast<LPARAM>(shaped.c_str()));
    }
    case WM_CHAR:
      switch (wParam) {
        case VK_BACK:
          Apply(edit, [](MaskedTime& f) { return EraseInTimeMask(f, true); });
          return 0;
        case 0x16:  // Ctrl+V
          ::SendMessageW(edit, WM_PASTE, 0, 0);
          return 0;
        case 0x18:  // Ctrl+X
          ::SendMessageW(edit, WM_CUT, 0, 0);
          return 0;
        case 0x1A:  // Ctrl+Z: an undo could bring back a text of another shape
          return 0;
        default:
          // Enter, Tab, Ctrl+C, Ctrl+A: the edit's and the window's own.
          if (wParam < 0x20) break;
          Apply(edit, [c = wParam < 0x80 ? static_cast<char>(wParam) : '\x01'](MaskedTime& f) {
            return TypeIntoTimeMask(f, c);
          });
          return 0;
      }
      break;
    case WM_KEYDOWN:
      if (wParam == VK_DELETE) {
        Apply(edit, [](MaskedTime& f) { return EraseInTimeMask(f, false); });
        return 0;
      }
      break;
    case WM_PASTE: {
      const std::string pasted = Ascii(ClipboardText(edit));
      Apply(edit, [&pasted](MaskedTime& f) { return PasteIntoTimeMask(f, pasted); });
      return 0;
    }
    case EM_REPLACESEL: {
      const auto* text = reinterpret_cast<const wchar_t*>(lParam);
      const std::string replacement = Ascii(text != nullptr ? std::wstring(text) : std::wstring());
      Apply(edit, [&replacement](MaskedTime& f) { return PasteIntoTimeMask(f, replacement); });
      return 0;
    }
    case WM_CUT:
    case WM_CLEAR: {
      // Only a selection is cut or cleared, and it becomes blanks.
      MaskedTime field = Read(edit);
      if (field.selectionStart == field.selectionEnd) return 0;
      if (message == WM_CUT) ::DefSubclassProc(edit, WM_COPY, 0, 0);
      if (EraseInTimeMask(field, true)) Show(edit, field);
      return 0;
    }
    case WM_UNDO:
    case EM_UNDO:
      return 0;
    default:
      break;
  }
  return ::DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace

void AttachTimeMask(HWND edit) {
  if (edit == nullptr) return;
  ::SetWindowSubclass(edit, &TimeMaskProc, kSubclassId, 0);
  const int length = ::GetWindowTextLengthW(edit);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(std::max(::GetWindowTextW(edit, text.data(), length + 1), 0)));
  ::SetWindowTextW(edit, text.c_str());  // through the mask
}

}  // namespace veltora::win32
