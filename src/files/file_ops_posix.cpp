// POSIX implementation of the shared file operations. Windows attributes have
// no direct counterpart here: "normal attributes" becomes "writable by its
// owner", which is what lets the Windows code delete or overwrite a file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"

namespace veltora {
namespace {

// Closes a descriptor on every path out of a function.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports close()'s error, which for a written file can be
  // the first sign of a failed write-back.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? ::close(fd) : 0;
  }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Removes a temporary file on every path out of a function, exceptions from a
// progress callback included, unless it was renamed into place.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
  ~TempFileGuard() {
    if (!kept_) ::unlink(path_.c_str());
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

bool StatAsGiven(const std::string& path, struct stat& st) {
  return !path.empty() && !IsSharePath(path) && ::stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------------------
// GetFileDate

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

// ---------------------------------------------------------------------------
// Removing a folder with all its contents, relative to open descriptors so
// that nothing outside the folder is reached through a symbolic link or a
// folder renamed meanwhile. Failures are ignored: what can be removed is.

void EmptyFolder(int folderFd) {
  DIR* dir = ::fdopendir(folderFd);
  if (dir == nullptr) {
    ::close(folderFd);
    return;
  }
  // Names first, then removal: removing while reading leaves it open whether
  // the stream still returns entries that are gone.
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int fd = ::dirfd(dir);
  for (const std::string& name : names) {
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      ::fchmodat(fd, name.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
      const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) EmptyFolder(sub);
      ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    } else {
      if (S_ISREG(st.st_mode)) ::fchmodat(fd, name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0);
      ::unlinkat(fd, name.c_str(), 0);  // a symbolic link goes, never its target
    }
  }
  ::closedir(dir);
}

void RemoveFolderWithContents(const std::string& folder) {
  const std::string path = WithoutTrailingSeparators(folder);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    // A link standing where the folder should be: remove the link itself.
    if (S_ISLNK(st.st_mode)) ::unlink(path.c_str());
    return;
  }
  ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRWXU);
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) EmptyFolder(fd);
  ::rmdir(path.c_str());
}

// ---------------------------------------------------------------------------
// CopyFileSafely

constexpr std::size_t kFileNameMax = 255;
constexpr char kTempSuffix[] = ".part-XXXXXX";
// copy_file_range is asked for this much per call, so that progress can be
// reported and write-back started between calls.
constexpr std::size_t kCopyChunk = 64u << 20;
constexpr std::size_t kFallbackBuffer = 1u << 20;
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
constexpr char kSourceChanged[] = "the source file changed size while it was being copied";

std::string ErrorText(int err) { return std::error_code(err, std::generic_category()).message(); }

CopyOutcome Failed(int err) { return CopyOutcome{false, ErrorText(err)}; }

// The hidden temporary name beside the target. A long name is shortened (at a
// character boundary) so that the temporary name still fits the file system.
std::string TempTemplateFor(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  std::string folder;
  std::string name = target;
  if (slash != std::string::npos) {
    folder = target.substr(0, slash + 1);
    name = target.substr(slash + 1);
  }
  const std::size_t room = kFileNameMax - 1 - (sizeof kTempSuffix - 1);
  if (name.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return folder + "." + name + kTempSuffix;
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
  auto lastReport = std::chrono::steady_clock::now();
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
    if (progress) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastReport >= kProgressInterval) {
        lastReport = now;
        progress(done, std::max(total, done));
      }
    }
  }
}

}  // namespace

DateTime GetFileDate(const std::string& path, int kind) {
  if (path.empty() || IsSharePath(path) || kind < 0 || kind > 2) return kUnreadableTime;
  const unsigned int wanted = kind == 0 ? STATX_BTIME : kind == 1 ? STATX_ATIME : STATX_MTIME;
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, wanted, &sx) != 0)
    return kUnreadableTime;
  // A file system without birth times leaves the bit clear.
  if ((sx.stx_mask & wanted) == 0) return kUnreadableTime;
  const statx_timestamp& ts = kind == 0 ? sx.stx_btime : kind == 1 ? sx.stx_atime : sx.stx_mtime;
  return DosRoundedLocalTime(static_cast<std::time_t>(ts.tv_sec));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return StatAsGiven(path, st) && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return StatAsGiven(path, st) && S_ISDIR(st.st_mode);
}

bool ForceDeleteFile(const std::string& path) {
  if (!FileExists(path)) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  return ::unlink(path.c_str()) == 0;
}

bool IsFolderWritable(const std::string& folder) {
  try {
    const std::string trimmed = Trim(folder);
    if (trimmed.empty() || !FolderExists(trimmed)) return false;
    const std::string testFolder = JoinPath(trimmed, kWritableTestFolderName);
    if (FolderExists(testFolder)) {
      RemoveFolderWithContents(testFolder);
      if (FolderExists(testFolder)) return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(testFolder, ec);
    if (ec) return false;
    RemoveFolderWithContents(testFolder);
    return true;
  } catch (...) {
    return false;
  }
}

bool CopyFileOver(const std::string& source, const std::string& target) {
  try {
    const std::string from = Trim(source);
    const std::string to = Trim(target);
    if (from.empty() || to.empty() || !FileExists(from)) return false;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      ::chmod(to.c_str(), (st.st_mode & 07777) | S_IWUSR);
    return CopyFileSafely(from, to).ok;
  } catch (...) {
    return false;
  }
}

std::string FileNameIfExists(const std::string& path) {
  try {
    const std::string trimmed = Trim(path);
    return FileExists(trimmed) ? BaseName(trimmed) : std::string();
  } catch (...) {
    return std::string();
  }
}

CopyOutcome CopyFileSafely(const std::string& source, const std::string& target,
                           const CopyProgress& progress) {
  try {
    if (source.empty() || target.empty()) return Failed(ENOENT);
    if (IsSharePath(source) || IsSharePath(target)) return Failed(EOPNOTSUPP);
    if (target.back() == '/') return Failed(EISDIR);

    // O_NONBLOCK so that a FIFO in the source's place cannot hang the open.
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!in.valid()) return Failed(errno);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) return Failed(errno);
    if (S_ISDIR(st.st_mode)) return Failed(EISDIR);
    if (!S_ISREG(st.st_mode)) return Failed(EINVAL);
    ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    std::string tempPath = TempTemplateFor(target);
    UniqueFd out(::mkostemp(tempPath.data(), O_CLOEXEC));
    if (!out.valid()) return Failed(errno);
    // From here on every way out but the rename removes the temporary file.
    TempFileGuard tempGuard(tempPath);

    const auto total = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t done = 0;
    if (const int err = CopyBytes(in.get(), out.get(), total, done, progress)) return Failed(err);

    struct stat now {};
    struct stat written {};
    if (::fstat(in.get(), &now) != 0 || ::fstat(out.get(), &written) != 0) return Failed(errno);
    if (static_cast<std::uint64_t>(now.st_size) != done ||
        static_cast<std::uint64_t>(written.st_size) != done)
      return CopyOutcome{false, kSourceChanged};

    if (::fchmod(out.get(), st.st_mode & 0777) != 0) return Failed(errno);
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (::futimens(out.get(), times) != 0) return Failed(errno);
    if (::fsync(out.get()) != 0) return Failed(errno);
    if (out.Close() != 0) return Failed(errno);
    if (::rename(tempPath.c_str(), target.c_str()) != 0) return Failed(errno);
    tempGuard.Keep();

    // Make the new name itself durable; a failure here no longer undoes the copy.
    UniqueFd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) ::fsync(folder.get());

    if (progress) {
      try {
        progress(done, done);
      } catch (...) {
        // The copy is in place; a failing progress display does not undo it.
      }
    }
    return CopyOutcome{true, std::string()};
  } catch (const std::bad_alloc&) {
    return Failed(ENOMEM);
  } catch (...) {
    return Failed(EIO);
  }
}

}  // namespace veltora
