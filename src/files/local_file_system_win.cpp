// The file system of Windows through the wide-character API: drive paths and
// UNC paths (\\server\share\dir) alike, since Windows itself reaches a share
// under the connection ConnectShare opened.
#include <windows.h>

#include "base/path.h"
#include "base/wide_text.h"
#include "files/local_file_system.h"
#include "files/messages.h"
#include "files/win_internal_win.h"

namespace veltora {
namespace {

using internal::Failed;
using internal::Outcome;

DWORD AttributesOf(const std::string& path) {
  const std::wstring wide = internal::WidePath(path);
  return wide.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(wide.c_str());
}

bool Is(DWORD attributes, DWORD bit) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & bit) != 0;
}

// A link or junction; the entry is never descended into or emptied through.
bool IsLink(DWORD attributes, DWORD reparseTag) {
  return Is(attributes, FILE_ATTRIBUTE_REPARSE_POINT) &&
         (reparseTag == IO_REPARSE_TAG_SYMLINK || reparseTag == IO_REPARSE_TAG_MOUNT_POINT);
}

// The chosen time of a file or folder as the search reports it: the path itself
// is the pattern, and the search is closed at once.
DateTime FileTimeOf(const std::string& path, FileTime kind) {
  // A trailing separator or a drive root has no entry of its own to find.
  const std::wstring wide = internal::WidePath(path);
  if (wide.empty() || wide.back() == L'\\') return kUnreadableTime;
  WIN32_FIND_DATAW found{};
  const ScopedFindHandle search(::FindFirstFileW(wide.c_str(), &found));
  if (!search.valid()) return kUnreadableTime;
  switch (kind) {
    case FileTime::kCreation:
      return internal::DosRoundedLocalTime(found.ftCreationTime);
    case FileTime::kLastAccess:
      return internal::DosRoundedLocalTime(found.ftLastAccessTime);
    case FileTime::kLastWrite:
      break;
  }
  return internal::DosRoundedLocalTime(found.ftLastWriteTime);
}

}  // namespace

bool LocalFileSystem::IsFile(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool LocalFileSystem::IsFolder(const std::string& path) {
  return Is(AttributesOf(path), FILE_ATTRIBUTE_DIRECTORY);
}

bool LocalFileSystem::ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  // WidePath refuses wildcards: the pattern is the folder's wide form + "\*".
  const std::wstring base = internal::WidePath(WithoutTrailingSeparators(folder));
  if (base.empty()) return false;
  const std::wstring pattern = base + L"\\*";
  WIN32_FIND_DATAW found{};
  const ScopedFindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                   FindExSearchNameMatch, nullptr,
                                                   FIND_FIRST_EX_LARGE_FETCH));
  if (!search.valid()) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    // System files and folders are the system's, not backups; hidden and
    // read-only entries are listed.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) continue;
    FolderEntry entry;
    entry.name = Narrow(name);
    entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isLink = IsLink(found.dwFileAttributes, found.dwReserved0);
    entry.readOnly = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    entry.created = internal::DosRoundedLocalTime(found.ftCreationTime);
    entries.push_back(std::move(entry));
  } while (::FindNextFileW(search.get(), &found));
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

DateTime LocalFileSystem::CreationTime(const std::string& path) {
  return FileTimeOf(path, FileTime::kCreation);
}
DateTime LocalFileSystem::LastAccessTime(const std::string& path) {
  return FileTimeOf(path, FileTime::kLastAccess);
}
DateTime LocalFileSystem::LastWriteTime(const std::string& path) {
  return FileTimeOf(path, FileTime::kLastWrite);
}

FileOutcome LocalFileSystem::MakeFolder(const std::string& path) {
  const std::wstring wide = internal::WidePath(path);
  if (wide.empty()) return Failed(ERROR_INVALID_NAME);
  return Outcome(::CreateDirectoryW(wide.c_str(), nullptr) != 0);
}

FileOutcome LocalFileSystem::RemoveFolder(const std::string& path) {
  const std::wstring wide = internal::WidePath(path);
  if (wide.empty()) return Failed(ERROR_INVALID_NAME);
  return Outcome(::RemoveDirectoryW(wide.c_str()) != 0);
}

FileOutcome LocalFileSystem::DeleteFile(const std::string& path) {
  const std::wstring wide = internal::WidePath(path);
  if (wide.empty()) return Failed(ERROR_INVALID_NAME);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(::GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failed(files_msg::kNotAFile);
  // A link's attributes would be set on what it points to; the link goes as it is.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  return Outcome(::DeleteFileW(wide.c_str()) != 0);
}

FileOutcome LocalFileSystem::Rename(const std::string& from, const std::string& to) {
  const std::wstring wideFrom = internal::WidePath(from);
  const std::wstring wideTo = internal::WidePath(to);
  if (wideFrom.empty() || wideTo.empty()) return Failed(ERROR_INVALID_NAME);
  return Outcome(::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING) != 0);
}

FileOutcome LocalFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  const std::wstring wide = internal::WidePath(path);
  if (wide.empty()) return Failed(ERROR_INVALID_NAME);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  // Never through a link: a reset inside a folder being emptied must not
  // change anything outside it.
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(::GetLastError());
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Failed(ERROR_CANT_ACCESS_FILE);
  // Clearing is the reset to normal attributes: read-only, hidden and system go.
  constexpr DWORD kCleared =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  DWORD wanted = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~kCleared);
  wanted &= ~FILE_ATTRIBUTE_DIRECTORY;
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  return Outcome(::SetFileAttributesW(wide.c_str(), wanted) != 0);
}

FileOutcome LocalFileSystem::CopyFromLocal(const std::string& localSource,
                                           const std::string& target, bool overwrite,
                                           const CopyProgress& progress) {
  return internal::CopyLocalFile(localSource, target, overwrite, marker_, progress);
}

FileOutcome LocalFileSystem::CopyToLocal(const std::string& source, const std::string& localTarget,
                                         bool overwrite, const CopyProgress& progress) {
  return internal::CopyLocalFile(source, localTarget, overwrite, marker_, progress,
                                 internal::CopyDirection::kToLocal);
}

}  // namespace veltora
