// The access list of owner-only files. Wine shows a list made from the host's
// file mode rather than the one a program sets, so under Wine the descriptor
// the program asks for is checked here, before it reaches a file.
#include "base/owner_only_file_win.h"

// windows.h first: the other Windows headers need its types.
// clang-format off
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

namespace veltora {
namespace {

std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  unsigned char buffer[256];
  DWORD size = sizeof buffer;
  std::wstring out;
  wchar_t* text = nullptr;
  if (::GetTokenInformation(token, TokenUser, buffer, size, &size) &&
      ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
    out = text;
    ::LocalFree(text);
  }
  ::CloseHandle(token);
  return out;
}

TEST(OwnerOnlyFileWinTest, ProtectedListOfTheUserAndSystemAlone) {
  const std::wstring user = CurrentUserSid();
  ASSERT_FALSE(user.empty());
  const std::wstring text = OwnerOnlySecurityDescriptorText("Setlog.dll");
  EXPECT_EQ(text, L"D:P(A;;FA;;;" + user + L")(A;;FA;;;SY)");

  // The system reads it as meant: a present, protected list of two grants.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  EXPECT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  EXPECT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr);
  EXPECT_EQ(dacl->AceCount, 2);
  ::LocalFree(descriptor);
}

}  // namespace
}  // namespace veltora
