// windows.h first: the other Windows headers need its types.
// clang-format off
#include <windows.h>
// clang-format on
#include <aclapi.h>

#include <memory>
#include <vector>

#include "base/wide_text.h"
#include "support/temp_dir.h"

namespace veltora::testing {
namespace {

struct LocalFreeDeleter {
  void operator()(void* p) const { ::LocalFree(p); }
};

// The SID of the user this process runs as, in `buffer`.
PSID CurrentUser(std::vector<unsigned char>& buffer) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buffer.resize(size);
  const bool ok = size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  ::CloseHandle(token);
  return ok ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid : nullptr;
}

}  // namespace

bool IsOwnerOnly(const std::string& path) {
  const std::wstring wide = Widen(path);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &raw) != ERROR_SUCCESS)
    return false;
  const std::unique_ptr<void, LocalFreeDeleter> descriptor(raw);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (dacl == nullptr || !::GetSecurityDescriptorControl(raw, &control, &revision) ||
      !(control & SE_DACL_PROTECTED))
    return false;

  std::vector<unsigned char> userBuffer;
  const PSID user = CurrentUser(userBuffer);
  unsigned char systemSid[SECURITY_MAX_SID_SIZE];
  DWORD systemSize = sizeof systemSid;
  if (user == nullptr || !::CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize))
    return false;

  bool userAllowed = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceFlags & INHERITED_ACE) return false;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;  // a denial grants nothing
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (::EqualSid(sid, user)) {
      userAllowed = true;
    } else if (!::EqualSid(sid, systemSid)) {
      return false;
    }
  }
  return userAllowed;
}

bool OwnerOnlyObservable() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

}  // namespace veltora::testing
