// The instance lock as a named mutex, the run lock as a locked file.
#include <windows.h>

#include <cstdint>

#include "app/messages.h"
#include "app/single_instance.h"
#include "base/path.h"
#include "base/wide_text.h"

namespace veltora {
namespace {

// The mutex of an application folder: "Veltora-" and a 64-bit FNV-1a hash of
// the folder's full path in upper case without trailing separators, so that
// "C:\Tool", "c:\tool\" and "C:/Tool" name one mutex. It lives in the
// machine's namespace ("Global\"), so that the agent's service in session 0
// and a window in a user's session exclude each other.
std::wstring MutexName(const std::string& appFolder, const wchar_t* space) {
  std::wstring folder = Widen(WithoutTrailingSeparators(appFolder));
  wchar_t full[MAX_PATH * 4] = {};
  const DWORD n = ::GetFullPathNameW(folder.c_str(), MAX_PATH * 4, full, nullptr);
  if (n > 0 && n < MAX_PATH * 4) folder.assign(full, n);
  for (wchar_t& c : folder)
    if (c == L'/') c = L'\\';
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  ::CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : folder) {
    hash ^= static_cast<std::uint16_t>(c);
    hash *= 1099511628211ull;
  }
  wchar_t hex[17] = {};
  for (int i = 15; i >= 0; --i, hash >>= 4) hex[i] = L"0123456789abcdef"[hash & 0xF];
  return std::wstring(space) + L"Veltora-" + hex;
}

std::unique_ptr<AppFolderLock> Fail(std::string& error, std::string text, bool* heldElsewhere,
                                    bool held) {
  if (heldElsewhere != nullptr) *heldElsewhere = held;
  error = std::move(text);
  return nullptr;
}

}  // namespace

std::unique_ptr<AppFolderLock> AppFolderLock::TryAcquire(const std::string& appFolder,
                                                         std::string_view lockFileName,
                                                         std::string& error, bool* heldElsewhere,
                                                         bool* foreign) {
  if (heldElsewhere != nullptr) *heldElsewhere = false;
  if (foreign != nullptr) *foreign = false;
  if (lockFileName == kInstanceLockFileName) {
    // A mutex that is already there has an owner: only an instance makes one,
    // and it goes with the last handle, also that of a killed process.
    const std::wstring global = MutexName(appFolder, L"Global\\");
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, global.c_str());
    DWORD err = ::GetLastError();
    if (mutex == nullptr && err == ERROR_ACCESS_DENIED) {
      // Denied either because another instance's mutex is there and keeps us
      // out (the service's, made by LocalSystem): held; or because this token
      // may not create objects in the machine's namespace (a user without the
      // privilege to create global objects). Refusing to start for the
      // second would leave that user with no agent at all: the session's
      // name still keeps two programs of the session apart.
      HANDLE existing = ::OpenMutexW(SYNCHRONIZE, FALSE, global.c_str());
      const DWORD openErr = ::GetLastError();
      if (existing != nullptr) ::CloseHandle(existing);
      if (existing == nullptr && openErr == ERROR_FILE_NOT_FOUND) {
        mutex = ::CreateMutexW(nullptr, TRUE, MutexName(appFolder, L"Local\\").c_str());
        err = ::GetLastError();
      }
    }
    if (mutex == nullptr)
      return Fail(error, app_msg::kLockFailed + appFolder + ": " + WindowsErrorText(err),
                  heldElsewhere, err == ERROR_ACCESS_DENIED);
    if (err == ERROR_ALREADY_EXISTS) {
      ::CloseHandle(mutex);
      return Fail(error, app_msg::kLockHeld + appFolder, heldElsewhere, true);
    }
    return std::unique_ptr<AppFolderLock>(
        new AppFolderLock(reinterpret_cast<std::intptr_t>(mutex)));
  }
  const std::string path = JoinPath(appFolder, lockFileName);
  HANDLE file =
      ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    // A folder under the name cannot be opened as a file at all; it was
    // planted all the same.
    const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (foreign != nullptr) *foreign = true;
      return Fail(error, app_msg::kLockNotOurs + path + app_msg::kLockNotRegular, heldElsewhere,
                  false);
    }
    return Fail(error, app_msg::kLockCannotOpen + path + ": " + WindowsErrorText(err),
                heldElsewhere, false);
  }
  // FILE_FLAG_OPEN_REPARSE_POINT opened a link planted under the name as the
  // link itself; what was opened must be a plain file of its own.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) {
    const DWORD err = ::GetLastError();
    ::CloseHandle(file);
    return Fail(error, app_msg::kLockCannotOpen + path + ": " + WindowsErrorText(err),
                heldElsewhere, false);
  }
  const char* why =
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? app_msg::kLockIsLink
      : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? app_msg::kLockNotRegular
      : info.nNumberOfLinks != 1                                  ? app_msg::kLockHasOtherNames
                                                                  : nullptr;
  if (why != nullptr) {
    ::CloseHandle(file);
    if (foreign != nullptr) *foreign = true;
    return Fail(error, app_msg::kLockNotOurs + path + why, heldElsewhere, false);
  }
  // A lock belongs to the handle, so a second open in this process is refused
  // as another process's would be; it goes when the process ends.
  OVERLAPPED at{};
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD err = ::GetLastError();
    ::CloseHandle(file);
    const bool held = err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING;
    return Fail(error,
                held ? app_msg::kLockHeld + appFolder
                     : app_msg::kLockFailed + path + ": " + WindowsErrorText(err),
                heldElsewhere, held);
  }
  return std::unique_ptr<AppFolderLock>(new AppFolderLock(reinterpret_cast<std::intptr_t>(file)));
}

AppFolderLock::~AppFolderLock() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

}  // namespace veltora
