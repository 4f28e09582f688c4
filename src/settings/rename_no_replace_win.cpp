#include <windows.h>

#include <stdexcept>

#include "base/wide_text.h"
#include "settings/rename_no_replace.h"

namespace veltora {

bool RenameNoReplace(const std::string& from, const std::string& to) {
  bool fromOk = false;
  bool toOk = false;
  const std::wstring wideFrom = Widen(from, &fromOk);
  const std::wstring wideTo = Widen(to, &toOk);
  if (!fromOk || !toOk || wideFrom.empty() || wideTo.empty())
    throw std::runtime_error("cannot rename " + from + " to " + to + ": not a usable file name");
  // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing name in the
  // same step that takes it.
  if (::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
  throw std::runtime_error("cannot rename " + from + " to " + to + ": " + WindowsErrorText(error));
}

}  // namespace veltora
