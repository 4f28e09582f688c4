// Windows only: the pieces that the local file system (local and UNC paths)
// and the file operations share; the handle owners are in
// base/win_handles_win.h. Included by
// *_win.cpp files alone.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "base/date_time.h"
#include "base/scoped_handle.h"
#include "base/win_handles_win.h"
#include "files/copy_progress_reporter.h"
#include "files/file_ops.h"

namespace veltora {

// A temporary file that is deleted when its owner goes, unless Release()d once
// it has been renamed into place.
struct DeleteFileTraits {
  static std::wstring Invalid() { return std::wstring(); }
  static void Close(const std::wstring& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
  }
};
using ScopedTempFileW = ScopedHandle<std::wstring, DeleteFileTraits>;

namespace internal {

// The wide form of a UTF-8 path for the Win32 calls: '/' becomes '\', and a
// long absolute path (a drive path or a UNC path) gets the "\\?\" prefix that
// lifts the MAX_PATH limit. Empty when the path is empty, holds no valid
// UTF-8, or holds a wildcard ('*' or '?'), which no file name can hold and
// which the search calls would expand.
std::wstring WidePath(const std::string& path);

// A file time as a local date-time at two-second resolution, as an MS-DOS
// date-time pair holds it: FileTimeToLocalFileTime, then FileTimeToDosDateTime,
// decoded. -1.0 when either conversion fails (before 1980, after 2107).
DateTime DosRoundedLocalTime(const FILETIME& utc);

// The system's text for a Win32 error code, without the trailing line break.
std::string ErrorText(DWORD code);

// Failures with a Win32 error's reason or a reason of our own, and the outcome
// of a call that sets the last error when it fails (read at once).
inline FileOutcome Failed(DWORD code) { return FileOutcome::Failed(ErrorText(code)); }
inline FileOutcome Failed(std::string reason) { return FileOutcome::Failed(std::move(reason)); }
inline FileOutcome Outcome(bool done) {
  return done ? FileOutcome::Done() : Failed(::GetLastError());
}

// Which FileSystem call a copy serves. kFromLocal: the source is on this
// machine's disks, the target anywhere (a UNC path included). kToLocal: the
// source anywhere, the target on this machine's disks, created with the
// owner-only access list (the user this process runs as and SYSTEM).
enum class CopyDirection { kFromLocal, kToLocal };

// CopyFileSafely with a choice: with `overwrite` false an existing target is
// never replaced, not even one that appears while the copy runs (the final
// rename refuses an existing name). A target on a share (a UNC path) is read
// back from the server and compared with the source before it takes its name.
FileOutcome CopyLocalFile(const std::string& source, const std::string& target, bool overwrite,
                          const CopyMarker& marker, const CopyProgress& progress,
                          CopyDirection direction = CopyDirection::kFromLocal);

}  // namespace internal
}  // namespace veltora
