// The administrator check over the token's groups.
#include <windows.h>

#include <vector>

#include "app/startup_checks.h"
#include "base/wide_text.h"

namespace veltora {

// The thread's token when it impersonates, else the process's. The group list
// is read into a buffer of the size the token asks for: a fixed buffer would
// cut off a long list and deny an administrator. Membership of the built-in
// Administrators group counts whatever its attributes: at logon User Account
// Control starts the Run value's program with a filtered token that carries the
// group for denial only, and that start must run. What then needs elevation
// (the Run value, a service) says so when it is refused.
bool IsAdministrator() {
  HANDLE raw = nullptr;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &raw)) {
    if (::GetLastError() != ERROR_NO_TOKEN) return false;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  }
  struct Token {
    HANDLE handle;
    ~Token() { ::CloseHandle(handle); }
  } token{raw};
  DWORD size = 0;
  ::GetTokenInformation(token.handle, TokenGroups, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<unsigned char> buffer(size);
  if (!::GetTokenInformation(token.handle, TokenGroups, buffer.data(), size, &size)) return false;

  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators))
    return false;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  bool found = false;
  for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
    found = ::EqualSid(groups->Groups[i].Sid, administrators) != FALSE;
  ::FreeSid(administrators);
  return found;
}

bool MakeCurrentFolder(const std::string& folder) {
  return !folder.empty() && ::SetCurrentDirectoryW(Widen(folder).c_str()) != FALSE;
}

}  // namespace veltora
