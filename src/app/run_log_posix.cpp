// POSIX sources of the run log: the append itself, the uptime and the idle time.
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <optional>

#include "app/run_log.h"
#include "base/posix_handles.h"

namespace veltora {
namespace {

// Seconds since the epoch of the newest access or modification among the files
// matching the pattern, if any could be read.
std::optional<std::time_t> NewestTouch(const char* pattern) {
  glob_t matches{};
  std::optional<std::time_t> newest;
  if (glob(pattern, 0, nullptr, &matches) == 0) {
    for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
      struct stat st {};
      if (stat(matches.gl_pathv[i], &st) != 0) continue;
      const std::time_t touched = st.st_atime > st.st_mtime ? st.st_atime : st.st_mtime;
      if (!newest || touched > *newest) newest = touched;
    }
  }
  globfree(&matches);
  return newest;
}

// A file the log may be written to: a regular file with no other name (a hard
// link planted under the log's name would pass the line on to the file it
// shares). Its owner does not count: whoever could plant a file of their own
// there could as well have deleted the log, and a log left by another user of
// the folder must not silence the agent.
bool IsLogFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

}  // namespace

namespace internal {

bool WriteRunLogBytes(const std::string& path, std::string_view bytes, bool startNew) {
  // The application folder may be writable by others: a link, a hard link to
  // someone else's file or a FIFO planted under the log's name must never take
  // the line (nor a mode change, nor a truncation). So the name is opened
  // without following a link and without blocking, and only what that open
  // reached is checked, changed and written.
  constexpr int kNoSurprises = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  // O_APPEND puts each write at the current end even when another process
  // appends too, so whole lines never overwrite each other.
  ScopedFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | kNoSurprises, 0666));
  struct stat st {};
  if (!fd && errno == EACCES) {
    // A read-only log this user may not write: made writable for its owner
    // through a descriptor of the very file that is then opened again.
    const ScopedFd readOnly(open(path.c_str(), O_RDONLY | kNoSurprises));
    if (!readOnly || fstat(readOnly.get(), &st) != 0 || !IsLogFile(st) ||
        fchmod(readOnly.get(), (st.st_mode & 07777) | S_IWUSR) != 0)
      return false;
    fd.Reset(open(path.c_str(), O_WRONLY | O_APPEND | kNoSurprises));
    struct stat again {};
    if (fd &&
        (fstat(fd.get(), &again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino))
      return false;
  }
  if (!fd) return false;
  if (fstat(fd.get(), &st) != 0 || !IsLogFile(st)) return false;
  // A read-only log that opened all the same (root writes whatever the mode
  // bits say) is made writable too, as every log that took a line is.
  if ((st.st_mode & S_IWUSR) == 0) fchmod(fd.get(), (st.st_mode & 07777) | S_IWUSR);
  // Emptied only once it is known to be the log itself: O_TRUNC would have
  // emptied whatever the name led to before any look at it.
  if (startNew && ftruncate(fd.get(), 0) != 0) return false;
  bool ok = true;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // close() may be the first to report a failed write.
  if (close(fd.Release()) != 0) ok = false;
  return ok && lstat(path.c_str(), &st) == 0;
}

std::string ReadRunLogFirstLine(const std::string& path, std::size_t limit) {
  const ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (!fd) return std::string();
  std::string head(limit, '\0');
  std::size_t got = 0;
  while (got < limit) {
    const ssize_t n = read(fd.get(), head.data() + got, limit - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  head.resize(got);
  return head.substr(0, head.find_first_of("\r\n"));
}

}  // namespace internal

std::string RunLogLineAsUtf8(std::string_view line) { return std::string(line); }

std::string UptimeText() {
  timespec ts{};
  if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0 || ts.tv_sec < 0) return DurationText(0);
  return DurationText(static_cast<std::uint64_t>(ts.tv_sec));
}

std::string IdleText() {
  std::optional<std::time_t> newest;
  for (const char* pattern : {"/dev/input/event*", "/dev/tty[0-9]*", "/dev/pts/[0-9]*"}) {
    const std::optional<std::time_t> touched = NewestTouch(pattern);
    if (touched && (!newest || *touched > *newest)) newest = touched;
  }
  const std::time_t now = std::time(nullptr);
  if (!newest || *newest > now) return DurationText(0);
  return DurationText(static_cast<std::uint64_t>(now - *newest));
}

}  // namespace veltora
