// Owner-only files on Windows: a protected access list (nothing inherited from
// the folder) that lets in the user who runs the program, and the system
// account, which on Windows stands where root stands on POSIX.
#include "base/owner_only_file_win.h"

// windows.h first: the other Windows headers need its types.
// clang-format off
#include <windows.h>
// clang-format on
#include <aclapi.h>
#include <sddl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/owner_only_file.h"
#include "base/text.h"
#include "base/wide_text.h"
#include "base/win_handles_win.h"

namespace veltora {
namespace {

[[noreturn]] void ThrowLastError(const char* what, const std::string& path) {
  throw std::runtime_error(std::string(what) + " " + path + ": " +
                           WindowsErrorText(::GetLastError()));
}

ScopedLocalMemory OwnerOnlyDescriptor(const std::string& path) {
  const std::wstring sddl = OwnerOnlySecurityDescriptorText(path);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
    ThrowLastError("cannot restrict", path);
  return ScopedLocalMemory(descriptor);
}

std::wstring WideOrThrow(const std::string& path) {
  bool ok = false;
  std::wstring wide = Widen(path, &ok);
  if (!ok || wide.empty()) throw std::runtime_error("not a usable file name: " + path);
  return wide;
}

}  // namespace

std::wstring OwnerOnlySecurityDescriptorText(const std::string& path) {
  ScopedKernelHandle token;
  {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
      ThrowLastError("cannot restrict", path);
    token.Reset(raw);
  }
  // Ask for the size first; the user's SID follows the structure.
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) ThrowLastError("cannot restrict", path);
  std::vector<unsigned char> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    ThrowLastError("cannot restrict", path);
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  wchar_t* sidText = nullptr;
  if (!::ConvertSidToStringSidW(user->User.Sid, &sidText)) ThrowLastError("cannot restrict", path);
  const ScopedLocalMemory sidOwner(sidText);
  return std::wstring(L"D:P(A;;FA;;;") + sidText + L")(A;;FA;;;SY)";
}

void CreateOwnerOnlyFile(const std::string& path) {
  const std::wstring wide = WideOrThrow(path);
  const auto descriptor = OwnerOnlyDescriptor(path);
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  // CREATE_NEW: an existing file (or a link planted in its place) is an error.
  const ScopedFileHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowLastError("cannot create", path);
}

void MakeOwnerOnly(const std::string& path) {
  const std::wstring wide = WideOrThrow(path);
  const auto descriptor = OwnerOnlyDescriptor(path);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present)
    ThrowLastError("cannot restrict", path);
  // Through a handle of the file itself, never of what a reparse point
  // planted under its name leads to.
  const ScopedFileHandle file(
      ::CreateFileW(wide.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) ThrowLastError("cannot restrict", path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info)) ThrowLastError("cannot restrict", path);
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    throw std::runtime_error("cannot restrict " + path + ": not a plain file");
  const DWORD result = ::SetSecurityInfo(
      file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr);
  if (result != ERROR_SUCCESS)
    throw std::runtime_error("cannot restrict " + path + ": " + WindowsErrorText(result));
}

bool WriteOwnerOnlyFile(const std::string& path, std::string_view content) {
  try {
    const std::string trimmed = Trim(path);
    const std::wstring wide = WideOrThrow(trimmed);
    const ScopedLocalMemory descriptor = OwnerOnlyDescriptor(trimmed);
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
    ScopedFileHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                                &written, nullptr) &&
                    written == content.size();
    file.Reset();
    if (!ok) ::DeleteFileW(wide.c_str());
    return ok;
  } catch (const std::exception&) {
    return false;
  }
}

HeldCommandFile::~HeldCommandFile() {
  if (held()) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool HeldCommandFile::Write(const std::string& path, std::string_view content) {
  try {
    if (held()) return false;
    const std::string trimmed = Trim(path);
    const std::wstring wide = WideOrThrow(trimmed);
    const ScopedLocalMemory descriptor = OwnerOnlyDescriptor(trimmed);
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
    // No delete sharing from the first byte: nobody renames or replaces the
    // file (nor its folder) while a handle of ours is open.
    ScopedFileHandle writer(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!writer) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(writer.get(), content.data(), static_cast<DWORD>(content.size()),
                          &written, nullptr) &&
              written == content.size();
    // The handle that is kept reads only, so that cmd.exe may open the file;
    // it is opened while the writer still holds the name, and shares writing
    // (the access list lets nobody else write) but never deletion.
    ScopedFileHandle reader;
    if (ok)
      reader.Reset(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ok = ok && reader;
    writer.Reset();
    if (!ok) {
      ::DeleteFileW(wide.c_str());
      return false;
    }
    path_ = trimmed;
    handle_ = reinterpret_cast<std::intptr_t>(reader.Release());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool MakePrivateFolder(const std::string& path, std::string& reason) {
  try {
    const std::wstring wide = WideOrThrow(path);
    const ScopedLocalMemory descriptor = OwnerOnlyDescriptor(path);
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
    if (!::CreateDirectoryW(wide.c_str(), &security)) {
      const DWORD error = ::GetLastError();
      const DWORD attributes = ::GetFileAttributesW(wide.c_str());
      if (error != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES ||
          (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        reason = error == ERROR_ALREADY_EXISTS ? "not a folder" : WindowsErrorText(error);
        return false;
      }
      MakeOwnerOnly(path);
    }
    return true;
  } catch (const std::exception& e) {
    reason = e.what();
    return false;
  }
}

}  // namespace veltora
