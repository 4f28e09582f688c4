// Platform queries on Windows.
#include <windows.h>

#include <string>

#include "base/wide_text.h"
#include "files/folder_listing.h"

namespace veltora {

std::string MachineName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) return std::string();
  return Narrow(std::wstring_view(name, size));
}

}  // namespace veltora
