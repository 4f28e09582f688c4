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

#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "base/date_time.h"
#include "files/temp_names.h"

namespace veltora {

// The subfolder the writable-folder test creates and removes again.
inline constexpr char kWritableTestFolderName[] = "读写测试";
// Joins it to the random suffix when that name is taken.
inline constexpr char kWritableTestFolderSuffixSeparator[] = "-";

// Which time of a file GetFileDate reads.
enum class FileTime { kCreation, kLastAccess, kLastWrite };

// The creation, last-access or last-write time of a file or folder as a local
// date-time at two-second resolution (seconds rounded down to even), as an
// MS-DOS date-time pair holds it. -1.0 when the time cannot be read, the file
// system keeps no birth time (kCreation), or it lies outside 1980..2107. The
// path is used as given, not trimmed.
DateTime GetFileDate(const std::string& path, FileTime kind);

// Deletes the file (not a folder) at the path, unchanged and untrimmed, after
// making it writable. True when it was deleted. A symbolic link is removed
// itself; what it points to is never touched.
bool ForceDeleteFile(const std::string& path);

// The writable-folder test: creates a subfolder and removes it again. The
// subfolder is "读写测试" unless something of that name exists (a user's own
// folder, or another test's at this moment); then it is "读写测试-" + 8 random
// characters. A folder the test did not create is never touched, and tests of
// one folder at the same moment all succeed. False when the trimmed folder is
// empty or no folder, or when no test folder can be made; true otherwise, even
// when the test folder could not be removed again.
bool IsFolderWritable(const std::string& folder);

// Whether other users may put files into the local folder and take out or
// rename what others put there: POSIX, write permission for the group or
// everyone without the sticky bit; Windows, an access list that lets everyone,
// the authenticated users, the interactive users or the Users group add files
// (or has no access list at all). In such a folder another user can replace a
// file between its writing and its use. False when the folder cannot be read.
bool IsFolderOpenToOthers(const std::string& folder);

// A file moved in from a private work folder takes the access its new folder
// gives its files, as a file made there would: on Windows its own access list
// is dropped for the one its folder hands down; POSIX keeps a file's mode
// across a move, and a file made with the usual mode needs nothing. False
// when the access cannot be changed.
bool TakeFolderAccess(const std::string& path);

// Copies source onto target, replacing it. Both trimmed; false when either is
// empty or the source is no file. The copy goes through CopyFileSafely, so a
// failed copy leaves an existing target as it was.
bool CopyFileOver(const std::string& source, const std::string& target);

// The file name (after the last '/', '\' or ':') of the trimmed path when a
// file exists there, else the empty text.
std::string FileNameIfExists(const std::string& path);

// Writes a local file's data through to the disk (fsync), so that what comes
// after it - deleting the file it replaces - cannot outlive it in a crash.
// False when the file cannot be opened or flushed.
bool FlushToDisk(const std::string& path);

// A local file's size in bytes, as given; 0 when there is no file to read it from.
std::uint64_t FileSizeOf(const std::string& path);

// The SHA-256 (as sha256sum prints it) and size of a local file, read once
// from start to end; nothing when it cannot be opened or read through.
struct FileDigest {
  std::string sha256;
  std::uint64_t bytes = 0;
};
std::optional<FileDigest> DigestOfLocalFile(const std::string& path);

bool FileExists(const std::string& path);    // a file (anything but a folder), as given
bool FolderExists(const std::string& path);  // a folder, as given

// The passes of a copy that progress is reported for: the bytes sent to the
// target, and the read-back of the target where a copy compares what it wrote
// (a share) before the copy takes its name.
enum class CopyPass { kWrite, kReadBack };

class CopyProgress;

// A listener that hears every pass, and one that takes only (done, total).
template <typename F>
concept CopyPassListener = !std::same_as<std::remove_cvref_t<F>, CopyProgress> &&
                           std::invocable<F&, CopyPass, std::uint64_t, std::uint64_t>;
template <typename F>
concept CopyWriteListener =
    !std::same_as<std::remove_cvref_t<F>, CopyProgress> && !CopyPassListener<F> &&
    std::invocable<F&, std::uint64_t, std::uint64_t>;

// Progress of a long copy, pass by pass: bytes done and the pass's total.
// Called at most about four times a second during a pass and once when the
// pass is complete, with done == total. A listener that takes only
// (done, total) hears the write pass. An exception from the listener abandons
// the copy (nothing stands under the target name), except from the report
// that comes after the copy is in place. Empty: nobody listens, and nothing is
// counted for it.
class CopyProgress {
 public:
  CopyProgress() = default;
  // Implicit, so that a plain lambda can be passed where progress is asked for.
  template <CopyPassListener F>
  CopyProgress(F listener)
      : listener_(std::move(listener)) {}  // NOLINT(google-explicit-constructor)
  template <CopyWriteListener F>
  CopyProgress(F writeListener) {  // NOLINT(google-explicit-constructor)
    if constexpr (std::is_constructible_v<bool, F&>)
      if (!static_cast<bool>(writeListener)) return;  // an empty std::function
    listener_ = [f = std::move(writeListener)](CopyPass pass, std::uint64_t done,
                                               std::uint64_t total) mutable {
      if (pass == CopyPass::kWrite) f(done, total);
    };
  }

  explicit operator bool() const { return static_cast<bool>(listener_); }
  void operator()(CopyPass pass, std::uint64_t done, std::uint64_t total) const {
    listener_(pass, done, total);
  }

 private:
  std::function<void(CopyPass, std::uint64_t, std::uint64_t)> listener_;
};

// What a changing file operation (a copy, a delete, a rename, a new folder, an
// attribute) did: done, or failed with the reason, in the operating system's
// words where it gave them. Tests as its success.
struct FileOutcome {
  bool ok = false;
  std::string error;  // the reason when !ok

  explicit operator bool() const { return ok; }
  static FileOutcome Done() { return {true, std::string()}; }
  static FileOutcome Failed(std::string reason) { return {false, std::move(reason)}; }
};

// Copies source to target so that the target name only ever holds a complete
// copy: the bytes go to a temporary file beside the target (TemporaryCopyName,
// carrying `marker`), which is flushed to disk and renamed over the target once
// its size matches the source. On any failure (disk full, unreadable source,
// missing target folder, target is a folder) the temporary file is removed, an
// existing target is left as it was, and the reason is returned. The source is
// opened without following a symbolic link, and anything but a regular file is
// refused with "not a regular file". Memory use is bounded whatever the file's
// size. The target gets the source's permission bits (rwx for owner, group and
// others; never set-id or sticky bits) and modification time, as a Windows copy
// keeps the last-write time; its creation time is the time of the copy.
FileOutcome CopyFileSafely(const std::string& source, const std::string& target,
                           const CopyProgress& progress = {}, const CopyMarker& marker = {});

}  // namespace veltora

// The same operations for any path, local or on a share, through the router.
// On a share the "normal attributes" reset clears the read-only attribute.
// ForceDeleteFile answers the reason of a failure with it.
// CopyFileOver copies from a local source only; a share path as the source
// gives false.
namespace veltora {
class FileSystemRouter;
DateTime GetFileDate(const FileSystemRouter& fs, const std::string& path, FileTime kind);
FileOutcome ForceDeleteFile(const FileSystemRouter& fs, const std::string& path);
bool IsFolderWritable(const FileSystemRouter& fs, const std::string& folder);
bool CopyFileOver(const FileSystemRouter& fs, const std::string& source, const std::string& target);
std::string FileNameIfExists(const FileSystemRouter& fs, const std::string& path);
bool FileExists(const FileSystemRouter& fs, const std::string& path);
bool FolderExists(const FileSystemRouter& fs, const std::string& path);
}  // namespace veltora
