// The platform family on POSIX. There is no Windows version query; the answer
// is the NT family, so that the service control and the administrator check
// run their POSIX implementations rather than returning their failure values.
#include "files/folder_listing.h"

namespace veltora {

std::string PlatformName() { return "WinNT"; }

bool IsWindowsNT() { return PlatformName() == "WinNT"; }

}  // namespace veltora
