// The Run value under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/autostart.h"
#include "app/messages.h"
#include "base/wide_text.h"

namespace veltora {
namespace {

constexpr int kLocalMachine = 2;

struct Key {
  HKEY handle = nullptr;
  ~Key() {
    if (handle != nullptr) ::RegCloseKey(handle);
  }
};

bool RootKey(int root, HKEY& key) {
  // HKEY_DYN_DATA is a root of the older systems alone; on the others every
  // call under it fails as under a key that cannot be opened.
  static const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE,
                                HKEY_USERS,        HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};
  if (root < 0 || root >= static_cast<int>(std::size(kRoots))) return false;
  key = kRoots[root];
  return true;
}

// The stored path and the executable's, compared as Windows compares names.
bool SamePath(const std::string& a, const std::string& b) {
  const std::wstring wa = Widen(a);
  const std::wstring wb = Widen(b);
  return !wa.empty() && ::CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                               static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

// Why the registry refused: a refused access is the want of elevation (a
// program that User Account Control started with a filtered token).
std::string RefusalReason(LONG status) {
  return status == ERROR_ACCESS_DENIED ? std::string(app_msg::kNeedsElevation)
                                       : WindowsErrorText(static_cast<unsigned long>(status));
}

// Writes a REG_SZ value as WriteRegistryString does, answering the registry's
// status.
LONG WriteString(int root, const std::string& keyPath, const std::string& valueName,
                 const std::string& text) {
  HKEY base = nullptr;
  if (!RootKey(root, base)) return ERROR_INVALID_HANDLE;
  Key key;
  const LONG created =
      ::RegCreateKeyExW(base, Widen(keyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key.handle, nullptr);
  if (created != ERROR_SUCCESS) return created;
  const std::wstring data = Widen(text);
  return ::RegSetValueExW(key.handle, Widen(valueName).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

// Deletes a value as DeleteRegistryValue does, answering the registry's
// status: success also when there is no key or no value.
LONG DeleteValue(int root, const std::string& keyPath, const std::string& valueName) {
  HKEY base = nullptr;
  if (!RootKey(root, base)) return ERROR_INVALID_HANDLE;
  Key key;
  const LONG opened = ::RegOpenKeyExW(base, Widen(keyPath).c_str(), 0,
                                      KEY_SET_VALUE | KEY_QUERY_VALUE, &key.handle);
  if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // no key, no value
  if (opened != ERROR_SUCCESS) return opened;
  const LONG deleted = ::RegDeleteValueW(key.handle, Widen(valueName).c_str());
  return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}

bool IsUsableExecutable(const std::string& path) {
  const bool absolute =
      (path.size() >= 3 && path[1] == ':' && path[2] == '\\') || path.rfind("\\\\", 0) == 0;
  return absolute && std::none_of(path.begin(), path.end(),
                                  [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

}  // namespace

bool WriteRegistryString(int root, const std::string& keyPath, const std::string& valueName,
                         const std::string& text) {
  return WriteString(root, keyPath, valueName, text) == ERROR_SUCCESS;
}

bool DeleteRegistryValue(int root, const std::string& keyPath, const std::string& valueName) {
  return DeleteValue(root, keyPath, valueName) == ERROR_SUCCESS &&
         !RegistryValueExists(root, keyPath, valueName);
}

std::string ReadRegistryText(int root, const std::string& keyPath, const std::string& valueName) {
  HKEY base = nullptr;
  if (!RootKey(root, base)) return {};
  Key key;
  if (::RegOpenKeyExW(base, Widen(keyPath).c_str(), 0, KEY_QUERY_VALUE, &key.handle) !=
      ERROR_SUCCESS)
    return {};
  const std::wstring name = Widen(valueName);
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExW(key.handle, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return {};
  std::vector<BYTE> data(size + sizeof(wchar_t));
  if (::RegQueryValueExW(key.handle, name.c_str(), nullptr, &type, data.data(), &size) !=
      ERROR_SUCCESS)
    return {};
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
      if (const auto end = text.find(L'\0'); end != std::wstring::npos) text.resize(end);
      return Narrow(text);
    }
    case REG_DWORD:
      return size >= sizeof(DWORD) ? std::to_string(*reinterpret_cast<const DWORD*>(data.data()))
                                   : std::string();
    case REG_QWORD:
      return size >= 8 ? std::to_string(*reinterpret_cast<const unsigned long long*>(data.data()))
                       : std::string();
    case REG_BINARY:
      return std::to_string(std::min<DWORD>(size, 512));
    default:
      return {};
  }
}

bool RegistryValueExists(int root, const std::string& keyPath, const std::string& valueName) {
  HKEY base = nullptr;
  if (keyPath.empty() || !RootKey(root, base)) return false;
  Key key;
  if (::RegOpenKeyExW(base, Widen(keyPath).c_str(), 0, KEY_QUERY_VALUE, &key.handle) !=
      ERROR_SUCCESS)
    return false;
  return ::RegQueryValueExW(key.handle, Widen(valueName).c_str(), nullptr, nullptr, nullptr,
                            nullptr) == ERROR_SUCCESS;
}

AutostartRegistration ReadAutostart(const AutostartPlace& place) {
  AutostartRegistration result;
  result.exists = RegistryValueExists(kLocalMachine, place.configRoot, kAutostartValueName);
  result.namesThisExecutable =
      result.exists &&
      SamePath(ReadRegistryText(kLocalMachine, place.configRoot, kAutostartValueName),
               place.executablePath);
  return result;
}

// A refusal of the registry carries its reason into the run-log line too: the
// line is what an unattended start leaves behind.
bool RegisterAutostart(const AutostartPlace& place, LineLog& log, std::string& error) {
  error.clear();
  std::string reason;
  if (!IsUsableExecutable(place.executablePath)) {
    error = app_msg::kAutostartBadExecutable + place.executablePath;
  } else if (const LONG status = WriteString(kLocalMachine, place.configRoot, kAutostartValueName,
                                             place.executablePath);
             status != ERROR_SUCCESS) {
    reason = RefusalReason(status);
    error = app_msg::kAutostartCannotWrite + place.configRoot + ": " + reason;
  } else if (!ReadAutostart(place).namesThisExecutable) {
    error = app_msg::kAutostartNotInPlace;
  }
  const bool ok = error.empty();
  if (ok) {
    log.Append(app_msg::kAutostartWritten);
  } else {
    log.Append(reason.empty() ? std::string(app_msg::kAutostartWriteFailed)
                              : app_msg::kAutostartWriteFailed + (app_msg::kReasonHead + reason));
  }
  return ok;
}

bool RemoveAutostart(const AutostartPlace& place, LineLog& log, std::string& error) {
  error.clear();
  std::string reason;
  if (const LONG status = DeleteValue(kLocalMachine, place.configRoot, kAutostartValueName);
      status != ERROR_SUCCESS) {
    reason = RefusalReason(status);
    error = app_msg::kAutostartCannotRemove + place.configRoot + ": " + reason;
  } else if (ReadAutostart(place).exists) {
    error = app_msg::kAutostartStillThere;
  }
  const bool ok = error.empty();
  if (ok) {
    log.Append(app_msg::kAutostartRemoved);
  } else {
    log.Append(reason.empty() ? std::string(app_msg::kAutostartRemoveFailed)
                              : app_msg::kAutostartRemoveFailed + (app_msg::kReasonHead + reason));
  }
  return ok;
}

}  // namespace veltora
