// The small file operations every part of the backup agent shares. None shows
// a message, writes to the run log or lets an error escape: each answers with
// its failure value (false, an empty text, -1.0).
//
// The path-only forms serve the local disk and treat a share path (beginning
// with two backslashes) as naming nothing (FileExists/FolderExists false, and
// the failure value of every other call). The forms taking a FileSystemRouter,
// at the end, serve both; the path-only forms are those with a router that has
// no share file system, so there is one implementation of each operation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/date_time.h"

namespace veltora {

// The subfolder the writable-folder test creates and removes again.
inline constexpr char kWritableTestFolderName[] = "读写测试";

// Creation (kind 0), last-access (1) or last-write (2) time of a file or folder
// as a local date-time at two-second resolution (seconds rounded down to even),
// as an MS-DOS date-time pair holds it. -1.0 when the time cannot be read, the
// file system keeps no birth time (kind 0), it lies outside 1980..2107, or the
// kind is none of 0, 1, 2. The path is used as given, not trimmed.
DateTime GetFileDate(const std::string& path, int kind);

// Deletes the file (not a folder) at the path, unchanged and untrimmed, after
// making it writable. True when it was deleted. A symbolic link is removed
// itself; what it points to is never touched.
bool ForceDeleteFile(const std::string& path);

// The writable-folder test: creates and removes the fixed subfolder "读写测试"
// (after removing a leftover of that name with all its contents). False when
// the trimmed folder is empty or no folder, when a leftover cannot be removed,
// or when the test folder cannot be made; true otherwise, even when something
// of it was left behind. A user's own subfolder of that name is emptied and
// removed by every test, and two tests of one folder at the same moment can make
// one of them fail. Removal never follows a symbolic link out of the test folder.
bool IsFolderWritable(const std::string& folder);

// Copies source onto target, replacing it. Both trimmed; false when either is
// empty or the source is no file. The copy goes through CopyFileSafely, so a
// failed copy leaves an existing target as it was.
bool CopyFileOver(const std::string& source, const std::string& target);

// The file name (after the last '/', '\' or ':') of the trimmed path when a
// file exists there, else the empty text.
std::string FileNameIfExists(const std::string& path);

bool FileExists(const std::string& path);    // a file (anything but a folder), as given
bool FolderExists(const std::string& path);  // a folder, as given

// Progress of a long copy: bytes done and total. Called at most about four
// times a second and once at the end with done == total.
using CopyProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct CopyOutcome {
  bool ok = false;
  std::string error;  // the reason, in the operating system's words, when !ok
};

// Copies source to target so that the target name only ever holds a complete
// copy: the bytes go to a hidden temporary file beside the target
// ("." + name + ".part-XXXXXX"), which is flushed to disk and renamed over the
// target once its size matches the source. On any failure (disk full,
// unreadable source, missing target folder, target is a folder) the temporary
// file is removed, an existing target is left as it was, and the reason is
// returned. Memory use is bounded whatever the file's size. The target gets the
// source's permission bits and modification time, as a Windows copy keeps the
// last-write time; its creation time is the time of the copy.
CopyOutcome CopyFileSafely(const std::string& source, const std::string& target,
                           const CopyProgress& progress = {});

}  // namespace veltora

// The same operations for any path, local or on a share, through the router.
// On a share the "normal attributes" reset clears the read-only attribute.
// CopyFileOver copies from a local source only; a share path as the source
// gives false.
namespace veltora {
class FileSystemRouter;
DateTime GetFileDate(const FileSystemRouter& fs, const std::string& path, int kind);
bool ForceDeleteFile(const FileSystemRouter& fs, const std::string& path);
bool IsFolderWritable(const FileSystemRouter& fs, const std::string& folder);
bool CopyFileOver(const FileSystemRouter& fs, const std::string& source, const std::string& target);
std::string FileNameIfExists(const FileSystemRouter& fs, const std::string& path);
bool FileExists(const FileSystemRouter& fs, const std::string& path);
bool FolderExists(const FileSystemRouter& fs, const std::string& path);
}  // namespace veltora
