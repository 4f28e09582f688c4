// The POSIX copy through a temporary name, the opening of a copy source, and
// the MS-DOS rounding of file times, shared by the local file system and the
// SMB client.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <vector>

#include "base/path.h"
#include "files/file_ops.h"
#include "files/messages.h"
#include "files/posix_internal.h"

namespace veltora {
namespace {

// ---------------------------------------------------------------------------
// CopyFileSafely

// copy_file_range is asked for this much per call, so that progress can be
// reported and write-back started between calls.
constexpr std::size_t kCopyChunk = 64u << 20;
constexpr std::size_t kFallbackBuffer = 1u << 20;
// Temporary names are random; a collision is retried this many times.
constexpr int kTempNameAttempts = 8;

using internal::Failed;

// The folder part of the target, with its separator, or "" for a bare name.
std::string FolderPartOf(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

// Creates a fresh temporary file beside the target, exclusively, owner-only
// until the copy is complete. Fills `path`; an errno on failure.
int CreateTemporary(const std::string& target, const CopyMarker& marker, ScopedFd& fd,
                    std::string& path) {
  const std::string folder = FolderPartOf(target);
  const std::string name = target.substr(folder.size());
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    path = folder + TemporaryCopyName(marker, name);
    fd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.valid()) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Folder of the target, for flushing the rename to disk.
std::string FolderOf(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : target.substr(0, slash);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Copies from the current offsets to the end of the source; 0 or an errno.
// copy_file_range keeps the bytes in the kernel (and shares extents where the
// file system can); a file system that refuses it gets plain reads and writes.
// Write-back of each chunk is started as soon as it is written and awaited one
// chunk later, so the final fsync has little left to do and dirty memory stays
// bounded.
int CopyBytes(int in, int out, std::uint64_t total, std::uint64_t& done,
              const CopyProgress& progress) {
  bool kernelCopy = true;
  std::vector<char> buffer;
  std::uint64_t flushedTo = 0;  // write-back started up to here
  std::uint64_t waitedTo = 0;   // and completed up to here
  internal::ProgressReporter reporter(progress, total);
  for (;;) {
    ssize_t n = 0;
    if (kernelCopy) {
      n = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL ||
                    errno == EPERM || errno == ETXTBSY)) {
        kernelCopy = false;
        continue;
      }
      // Some file systems (proc-like, network) copy nothing although bytes
      // remain; read() decides where the end is.
      if (n == 0 && done < total) {
        kernelCopy = false;
        continue;
      }
    } else {
      if (buffer.empty()) buffer.resize(kFallbackBuffer);
      n = ::read(in, buffer.data(), buffer.size());
      if (n > 0 && !WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) return errno;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    done += static_cast<std::uint64_t>(n);

    if (done - flushedTo >= kCopyChunk) {
      if (flushedTo > waitedTo) {
        ::sync_file_range(
            out, static_cast<off_t>(waitedTo), static_cast<off_t>(flushedTo - waitedTo),
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        waitedTo = flushedTo;
      }
      ::sync_file_range(out, static_cast<off_t>(flushedTo), static_cast<off_t>(done - flushedTo),
                        SYNC_FILE_RANGE_WRITE);
      flushedTo = done;
    }
    reporter.Report(done);
  }
}

// Moves the complete temporary file to the target name: replacing what is
// there, or (overwrite off) failing with EEXIST if anything holds the name at
// that moment. 0 or an errno.
int PutInPlace(const std::string& tempPath, const std::string& target, bool overwrite) {
  if (overwrite) return ::rename(tempPath.c_str(), target.c_str()) == 0 ? 0 : errno;
  if (::renameat2(AT_FDCWD, tempPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: link() never replaces either.
  if (::link(tempPath.c_str(), target.c_str()) != 0) return errno;
  ::unlink(tempPath.c_str());
  return 0;
}

}  // namespace

namespace internal {

ScopedFd OpenCopySource(const std::string& path, struct stat& st, std::string& error) {
  // O_NONBLOCK so that a FIFO in the source's place cannot hang the open.
  ScopedFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (!in.valid()) {
    // O_NOFOLLOW answers ELOOP for a link in the last place.
    error = errno == ELOOP ? files_msg::kNotARegularFile : ErrorText(errno);
    return ScopedFd();
  }
  if (::fstat(in.get(), &st) != 0) {
    error = ErrorText(errno);
    return ScopedFd();
  }
  if (!S_ISREG(st.st_mode)) {
    error = files_msg::kNotARegularFile;
    return ScopedFd();
  }
  ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
  return in;
}

DateTime DosRoundedLocalTime(std::time_t seconds) {
  std::tm tm{};
  if (localtime_r(&seconds, &tm) == nullptr) return kUnreadableTime;
  const int year = tm.tm_year + 1900;
  // An MS-DOS date holds the years 1980 to 2107 only.
  if (year < 1980 || year > 2107) return kUnreadableTime;
  LocalTime t;
  t.year = year;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec / 2 * 2;  // an MS-DOS time counts seconds in twos
  t.weekday = tm.tm_wday;
  return ToDateTime(t);
}

int LocalCopyTarget::Create(const std::string& target, const CopyMarker& marker) {
  std::string path;
  if (const int err = CreateTemporary(target, marker, out_, path)) return err;
  temp_.Reset(path);
  target_ = target;
  return 0;
}

int LocalCopyTarget::Write(const char* data, std::size_t size) {
  return WriteAll(out_.get(), data, size) ? 0 : errno;
}

int LocalCopyTarget::Finish(mode_t mode, const struct timespec& modified, bool overwrite) {
  if (::fchmod(out_.get(), mode & 0777) != 0) return errno;
  const struct timespec times[2] = {{0, UTIME_OMIT}, modified};
  if (::futimens(out_.get(), times) != 0) return errno;
  if (::fsync(out_.get()) != 0) return errno;
  // close() reports a failed write-back that fsync may not have.
  if (::close(out_.Release()) != 0) return errno;
  if (const int err = PutInPlace(temp_.get(), target_, overwrite)) return err;
  temp_.Release();

  // Make the new name itself durable; a failure here no longer undoes the copy.
  const ScopedFd folder(::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid()) ::fsync(folder.get());
  return 0;
}

FileOutcome CopyLocalFile(const std::string& source, const std::string& target, bool overwrite,
                          const CopyMarker& marker, const CopyProgress& progress,
                          CopyDirection direction) {
  try {
    if (source.empty() || target.empty()) return Failed(ENOENT);
    if (IsSharePath(source) || IsSharePath(target)) return Failed(EOPNOTSUPP);
    if (target.back() == '/') return Failed(EISDIR);

    struct stat st {};
    std::string error;
    const ScopedFd in = OpenCopySource(source, st, error);
    if (!in.valid()) return FileOutcome{false, error};
    if (!overwrite) {
      // Refuse early, before the bytes travel, when the name is already taken;
      // the final rename still refuses a file that appears meanwhile.
      struct stat existing {};
      if (::lstat(target.c_str(), &existing) == 0) return Failed(EEXIST);
    }
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    // From here on every way out but the rename removes the temporary file,
    // exceptions from the progress callback included.
    LocalCopyTarget out;
    if (const int err = out.Create(target, marker)) return Failed(err);

    const auto total = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t done = 0;
    if (const int err = CopyBytes(in.get(), out.fd(), total, done, progress)) return Failed(err);

    struct stat now {};
    struct stat written {};
    if (::fstat(in.get(), &now) != 0 || ::fstat(out.fd(), &written) != 0) return Failed(errno);
    if (static_cast<std::uint64_t>(now.st_size) != done ||
        static_cast<std::uint64_t>(written.st_size) != done)
      return Failed(files_msg::kSourceChanged);

    // Never more than the source's own permission bits: no set-id, no sticky.
    // A copy coming back to this machine is owner-only whatever the source's.
    const mode_t mode = direction == CopyDirection::kToLocal ? 0600 : st.st_mode & 0777;
    if (const int err = out.Finish(mode, st.st_mtim, overwrite)) return Failed(err);

    return internal::CopyDone(progress, done);
  } catch (const std::bad_alloc&) {
    return Failed(ENOMEM);
  } catch (const std::exception& e) {
    return FileOutcome{false, e.what()};
  }
}

}  // namespace internal

std::uint64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || IsSharePath(path) || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

bool FlushToDisk(const std::string& path) {
  const ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  return fd.valid() && ::fsync(fd.get()) == 0;
}

FileOutcome CopyFileSafely(const std::string& source, const std::string& target,
                           const CopyProgress& progress, const CopyMarker& marker) {
  return internal::CopyLocalFile(source, target, true, marker, progress);
}

bool TakeFolderAccess(const std::string&) { return true; }

bool IsFolderOpenToOthers(const std::string& folder) {
  struct stat st {};
  if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0;
}

}  // namespace veltora
