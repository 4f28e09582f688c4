// The Windows copy through a temporary name, the wide form of a path, and the
// MS-DOS rounding of file times, shared by the local file system (drive and
// UNC paths alike).
#include <windows.h>
// clang-format off
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <cstring>
#include <memory>
#include <vector>

#include "base/owner_only_file_win.h"
#include "base/path.h"
#include "base/wide_text.h"
#include "files/file_ops.h"
#include "files/messages.h"
#include "files/win_internal_win.h"

namespace veltora {
namespace {

constexpr DWORD kCopyChunk = 1u << 20;
// Temporary names are random; a collision is retried this many times.
constexpr int kTempNameAttempts = 8;
// Paths from this length on get the "\\?\" prefix (CreateDirectoryW stops
// below MAX_PATH, at 248, without it).
constexpr std::size_t kLongPath = 240;

using internal::Failed;

// Whether the "\\?\" prefix may be put in front: it turns off the parsing
// that resolves "." and ".." and folds repeated separators.
bool PlainAbsolute(const std::wstring& path, std::size_t from) {
  for (std::size_t i = from; i < path.size(); ++i) {
    if (path[i] != L'\\') continue;
    if (i + 1 < path.size() && path[i + 1] == L'\\') return false;
    const std::size_t end = path.find(L'\\', i + 1);
    const std::wstring part = path.substr(i + 1, end == std::wstring::npos ? end : end - i - 1);
    if (part == L"." || part == L"..") return false;
  }
  return true;
}

std::uint64_t SizeOf(HANDLE file, bool& ok) {
  LARGE_INTEGER size{};
  ok = ::GetFileSizeEx(file, &size) != 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool WriteAll(HANDLE file, const char* data, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!::WriteFile(file, data, size, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// Creates a fresh temporary file beside the target, exclusively, with the
// access list of `security` (null: the folder's inherited one). Fills `path`
// (wide); 0 or the Win32 error.
DWORD CreateTemporary(const std::string& target, const CopyMarker& marker,
                      SECURITY_ATTRIBUTES* security, ScopedFileHandle& out, std::wstring& path) {
  const std::size_t cut = target.find_last_of("\\/");
  const std::string folder = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  const std::string name = target.substr(folder.size());
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    path = internal::WidePath(folder + TemporaryCopyName(marker, name));
    if (path.empty()) return ERROR_INVALID_NAME;
    out.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, security, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (out.valid()) return 0;
    const DWORD err = ::GetLastError();
    if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) return err;
  }
  return ERROR_FILE_EXISTS;
}

// Opens a local copy source for reading: never through a link or junction,
// never anything but a file on a disk. Fills `info`; an empty owner and the
// reason otherwise.
ScopedFileHandle OpenCopySource(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info,
                                std::string& error) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = internal::ErrorText(::GetLastError());
    return ScopedFileHandle();
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    error = files_msg::kNotARegularFile;
    return ScopedFileHandle();
  }
  // Others may go on reading and writing it (the ledger software may hold it
  // open); a change of size during the copy is caught afterwards.
  ScopedFileHandle in(::CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in.valid()) {
    error = internal::ErrorText(::GetLastError());
    return ScopedFileHandle();
  }
  // What was opened, in case something else took the name since the look.
  if (!::GetFileInformationByHandle(in.get(), &info)) {
    error = internal::ErrorText(::GetLastError());
    return ScopedFileHandle();
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      ::GetFileType(in.get()) != FILE_TYPE_DISK) {
    error = files_msg::kNotARegularFile;
    return ScopedFileHandle();
  }
  return in;
}

// Copies from the current offsets to the end of the source; 0 or the error.
DWORD CopyBytes(HANDLE in, HANDLE out, std::uint64_t total, std::uint64_t& done,
                const CopyProgress& progress) {
  std::vector<char> buffer(kCopyChunk);
  internal::ProgressReporter reporter(progress, total);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(in, buffer.data(), kCopyChunk, &got, nullptr)) return ::GetLastError();
    if (got == 0) return 0;
    if (!WriteAll(out, buffer.data(), got)) return ::GetLastError();
    done += got;
    reporter.Report(done);
  }
}

struct VirtualFreeDeleter {
  void operator()(void* p) const { ::VirtualFree(p, 0, MEM_RELEASE); }
};

// Reads the written copy back from the server, past any cache of this machine,
// and compares it with the source. nullptr when equal, else the reason.
const char* ReadBackDiffers(HANDLE source, const std::wstring& copyPath, std::uint64_t size,
                            const CopyProgress& progress, DWORD& error) {
  error = 0;
  ScopedFileHandle copy(::CreateFileW(copyPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING,
                                      FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER start{};
  if (!copy.valid() || !::SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) {
    error = ::GetLastError();
    return nullptr;
  }
  // Unbuffered reads want a buffer aligned to the sector: a whole page is.
  const std::unique_ptr<void, VirtualFreeDeleter> aligned(
      ::VirtualAlloc(nullptr, kCopyChunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!aligned) {
    error = ::GetLastError();
    return nullptr;
  }
  std::vector<char> expected(kCopyChunk);
  std::uint64_t compared = 0;
  internal::ProgressReporter reporter(progress, size, CopyPass::kReadBack);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(copy.get(), aligned.get(), kCopyChunk, &got, nullptr)) {
      error = ::GetLastError();
      return nullptr;
    }
    if (got == 0) break;
    DWORD want = 0;
    std::size_t filled = 0;
    while (filled < got) {
      if (!::ReadFile(source, expected.data() + filled, static_cast<DWORD>(got - filled), &want,
                      nullptr)) {
        error = ::GetLastError();
        return nullptr;
      }
      if (want == 0) return files_msg::kCopyBytesDiffer;  // the copy is longer
      filled += want;
    }
    if (std::memcmp(aligned.get(), expected.data(), got) != 0) return files_msg::kCopyBytesDiffer;
    compared += got;
    reporter.Report(compared);
  }
  return compared == size ? nullptr : files_msg::kCopySizeDiffers;
}

}  // namespace

namespace internal {

std::wstring WidePath(const std::string& path) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return std::wstring();
  bool ok = false;
  std::wstring wide = Widen(path, &ok);
  if (!ok) return std::wstring();
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  if (wide.size() < kLongPath || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const bool drive = wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\';
  const bool unc = wide.rfind(L"\\\\", 0) == 0;
  if (drive && PlainAbsolute(wide, 2)) return L"\\\\?\\" + wide;
  if (unc && PlainAbsolute(wide, 2)) return L"\\\\?\\UNC\\" + wide.substr(2);
  return wide;
}

DateTime DosRoundedLocalTime(const FILETIME& utc) {
  FILETIME local{};
  SYSTEMTIME fields{};
  WORD dosDate = 0;
  WORD dosTime = 0;
  // The range is checked here as well: not every FileTimeToDosDateTime fails
  // outside it (Wine's clamps to 1980), and a clamped date is a wrong one.
  if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &fields) ||
      fields.wYear < 1980 || fields.wYear > 2107 ||
      !::FileTimeToDosDateTime(&local, &dosDate, &dosTime))
    return kUnreadableTime;
  LocalTime t;
  t.year = 1980 + (dosDate >> 9);
  t.month = (dosDate >> 5) & 0x0F;
  t.day = dosDate & 0x1F;
  t.hour = dosTime >> 11;
  t.minute = (dosTime >> 5) & 0x3F;
  t.second = (dosTime & 0x1F) * 2;
  return ToDateTime(t);
}

std::string ErrorText(DWORD code) { return WindowsErrorText(code); }

FileOutcome CopyLocalFile(const std::string& source, const std::string& target, bool overwrite,
                          const CopyMarker& marker, const CopyProgress& progress,
                          CopyDirection direction) {
  try {
    if (source.empty() || target.empty()) return Failed(ERROR_FILE_NOT_FOUND);
    // One end is always this machine's disks: the source of a copy to a share,
    // the target of a copy back from one.
    const bool toLocal = direction == CopyDirection::kToLocal;
    if (IsSharePath(toLocal ? target : source)) return Failed(ERROR_NOT_SUPPORTED);
    if (IsSeparator(target.back())) return Failed(ERROR_INVALID_NAME);
    const std::wstring from = WidePath(source);
    const std::wstring to = WidePath(target);
    if (from.empty() || to.empty()) return Failed(ERROR_INVALID_NAME);

    BY_HANDLE_FILE_INFORMATION info{};
    std::string error;
    const ScopedFileHandle in = OpenCopySource(from, info, error);
    if (!in.valid()) return FileOutcome{false, error};
    // Refuse early, before the bytes travel, when the name is already taken;
    // the rename still refuses a file that appears meanwhile.
    if (!overwrite && ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES)
      return Failed(ERROR_FILE_EXISTS);

    // A copy coming back to this machine is owner-only from its first byte;
    // the rename within the folder keeps the access list.
    ScopedLocalMemory descriptor;
    SECURITY_ATTRIBUTES ownerOnly{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    if (toLocal) {
      PSECURITY_DESCRIPTOR raw = nullptr;
      if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
              OwnerOnlySecurityDescriptorText(target).c_str(), SDDL_REVISION_1, &raw, nullptr))
        return Failed(::GetLastError());
      descriptor.Reset(raw);
      ownerOnly.lpSecurityDescriptor = raw;
    }
    ScopedFileHandle out;
    std::wstring tempPath;
    if (const DWORD err =
            CreateTemporary(target, marker, toLocal ? &ownerOnly : nullptr, out, tempPath))
      return Failed(err);
    // From here on every way out but the rename removes the temporary file,
    // exceptions from the progress callback included.
    ScopedTempFileW temp(tempPath);

    const std::uint64_t total =
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    std::uint64_t done = 0;
    if (const DWORD err = CopyBytes(in.get(), out.get(), total, done, progress)) return Failed(err);

    bool sourceSized = false;
    bool copySized = false;
    const std::uint64_t sourceNow = SizeOf(in.get(), sourceSized);
    const std::uint64_t written = SizeOf(out.get(), copySized);
    if (!sourceSized || !copySized) return Failed(::GetLastError());
    if (sourceNow != done || written != done) return Failed(files_msg::kSourceChanged);

    if (!::FlushFileBuffers(out.get())) return Failed(::GetLastError());
    // A copy keeps the source's last-write time, as a Windows copy does; its
    // creation time is the time of the copy. Set after the flush, so that no
    // write-back can stamp the file later.
    if (!::SetFileTime(out.get(), nullptr, nullptr, &info.ftLastWriteTime))
      return Failed(::GetLastError());
    // Closing reports a failed write-back that the flush may not have.
    if (!::CloseHandle(out.Release())) return Failed(::GetLastError());

    const bool readBack = IsSharePath(target);
    if (readBack) {
      if (progress) progress(CopyPass::kWrite, done, done);
      DWORD readError = 0;
      if (const char* differs = ReadBackDiffers(in.get(), tempPath, done, progress, readError))
        return Failed(differs);
      if (readError != 0) return Failed(readError);
    }

    const DWORD flags = MOVEFILE_WRITE_THROUGH | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(tempPath.c_str(), to.c_str(), flags)) return Failed(::GetLastError());
    temp.Release();

    if (progress) {
      try {
        // The last pass's end; a failing display does not undo a copy in place.
        progress(readBack ? CopyPass::kReadBack : CopyPass::kWrite, done, done);
      } catch (const std::exception&) {
      }
    }
    return FileOutcome{true, std::string()};
  } catch (const std::bad_alloc&) {
    return Failed(ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::exception& e) {
    return FileOutcome{false, e.what()};
  }
}

}  // namespace internal

std::uint64_t FileSizeOf(const std::string& path) {
  if (IsSharePath(path)) return 0;
  const std::wstring wide = internal::WidePath(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (wide.empty() || !::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool FlushToDisk(const std::string& path) {
  const std::wstring wide = internal::WidePath(path);
  if (wide.empty()) return false;
  const ScopedFileHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file.valid() && ::FlushFileBuffers(file.get()) != 0;
}

FileOutcome CopyFileSafely(const std::string& source, const std::string& target,
                           const CopyProgress& progress, const CopyMarker& marker) {
  return internal::CopyLocalFile(source, target, true, marker, progress);
}

bool TakeFolderAccess(const std::string& path) {
  bool ok = false;
  std::wstring wide = Widen(path, &ok);
  if (!ok || wide.empty()) return false;
  // An empty list of its own, no longer protected: what is left is what the
  // folder hands down.
  ACL empty;
  if (!::InitializeAcl(&empty, sizeof(empty), ACL_REVISION)) return false;
  return ::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, &empty, nullptr) == ERROR_SUCCESS;
}

bool IsFolderOpenToOthers(const std::string& folder) {
  const std::wstring wide = internal::WidePath(folder);
  if (wide.empty()) return false;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  const ScopedLocalMemory owner(descriptor);
  if (dacl == nullptr) return true;  // no access list: everyone may do everything
  constexpr DWORD kAddsFiles =
      FILE_ADD_FILE | FILE_DELETE_CHILD | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
  for (const WELL_KNOWN_SID_TYPE others :
       {WinWorldSid, WinAuthenticatedUserSid, WinInteractiveSid, WinBuiltinUsersSid}) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    if (!::CreateWellKnownSid(others, nullptr, sid, &size)) continue;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace)) continue;
      const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      // Deny entries are not weighed: the warning errs on the side of saying.
      if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
          (allowed->Header.AceFlags & INHERIT_ONLY_ACE) != 0 || (allowed->Mask & kAddsFiles) == 0)
        continue;
      if (::EqualSid(const_cast<DWORD*>(&allowed->SidStart), sid)) return true;
    }
  }
  return false;
}

}  // namespace veltora
