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

}  // namespace

namespace internal {

bool WriteRunLogBytes(const std::string& path, std::string_view bytes, bool startNew) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
    // A read-only log is made writable for its owner; failing that, the open
    // below answers for whether the line can still go in.
    chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  }
  // O_APPEND puts each write at the current end even when another process
  // appends too, so whole lines never overwrite each other.
  int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  if (startNew) flags |= O_TRUNC;
  ScopedFd fd(open(path.c_str(), flags, 0666));
  if (!fd) return false;
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
  return ok && stat(path.c_str(), &st) == 0;
}

std::string ReadRunLogFirstLine(const std::string& path, std::size_t limit) {
  const ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
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
