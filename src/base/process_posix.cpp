// The POSIX command processor is /bin/sh; the command file is its script.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/path.h"
#include "base/posix_handles.h"
#include "base/process.h"
#include "base/text.h"

extern char** environ;

namespace veltora {
namespace {

constexpr char kShell[] = "/bin/sh";

// The environment strings of the child; wiped before they are freed, since an
// entry may hold the archive password.
class ChildEnvironment {
 public:
  explicit ChildEnvironment(const EnvironmentAdditions& extra) {
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
      const std::string_view entry(*e);
      const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const auto& pair) {
        return entry.size() > pair.first.size() &&
               entry.substr(0, pair.first.size()) == pair.first && entry[pair.first.size()] == '=';
      });
      if (!replaced) strings_.emplace_back(entry);
    }
    for (const auto& [name, value] : extra) strings_.push_back(name + "=" + value);
    for (auto& s : strings_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
  }
  ~ChildEnvironment() {
    for (auto& s : strings_) std::fill(s.begin(), s.end(), '\0');
  }
  ChildEnvironment(const ChildEnvironment&) = delete;
  ChildEnvironment& operator=(const ChildEnvironment&) = delete;

  char** get() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// How often the wait looks whether the child has ended while its output is
// still open (something it started may hold the pipe after it is gone).
constexpr int kReapPollMilliseconds = 100;

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int WaitBlocking(pid_t pid) {
  int status = 0;
  for (;;) {
    if (::waitpid(pid, &status, 0) == pid) return ExitCodeOf(status);
    // EINTR: wait again. Anything else means the child is not ours to reap
    // (SIGCHLD ignored elsewhere); it cannot be left a zombie then either.
    if (errno != EINTR) return -1;
  }
}

// Hands the child's output to the listener; a listener that throws hears
// nothing more, but the output is still read.
class OutputReader {
 public:
  OutputReader(int fd, const OutputListener& listener) : fd_(fd), listener_(listener) {}

  // Reads what the pipe holds now without waiting; false once every writer
  // has closed it (or it cannot be read).
  bool Drain() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        Deliver(std::string_view(buffer, static_cast<std::size_t>(n)));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }

 private:
  void Deliver(std::string_view chunk) {
    if (!listening_) return;
    try {
      listener_(chunk);
    } catch (...) {
      listening_ = false;
    }
  }

  int fd_;
  const OutputListener& listener_;
  bool listening_ = true;
};

// Waits for the child while reading its output. The end of the output is not
// the end of the child, nor the other way round: the wait ends when the child
// has been reaped, with what the pipe held by then delivered.
int WaitReading(pid_t pid, ScopedFd readEnd, const OutputListener& output) {
  OutputReader reader(readEnd.get(), output);
  for (;;) {
    pollfd ready{readEnd.get(), POLLIN, 0};
    const int n = ::poll(&ready, 1, kReapPollMilliseconds);
    if (n < 0 && errno != EINTR) break;
    if (n > 0 && !reader.Drain()) break;  // every writer is gone: the child ends soon
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid) {
      reader.Drain();
      return ExitCodeOf(status);
    }
    if (reaped < 0 && errno != EINTR) return -1;
  }
  // Closed before the wait: should the child still write, it learns at once
  // that nobody reads rather than block on a full pipe.
  readEnd.Reset();
  return WaitBlocking(pid);
}

// The keeper: a process between this program and the command it starts, the
// leader of a process group of its own that the command and everything the
// command starts belong to. It waits for the command and ends with its status
// (a command killed by a signal as 128 + the signal). When the thread that
// started it ends (this program stopped, crashed or killed, even by SIGKILL),
// the kernel sends the keeper its parent-death signal, and the keeper kills
// the whole group: no archiver goes on writing after the program is gone. A
// stop signal sent to the keeper itself does the same. A terminal's Ctrl-C
// does not reach the group: the program decides when its children stop.
//
// It runs in a copy of a threaded process without a new program image, so it
// makes async-signal-safe calls only.
constexpr int kKeeperDeathSignal = SIGTERM;

[[noreturn]] void KillGroupAndExit() {
  ::kill(0, SIGKILL);  // the keeper is in the group too
  ::_exit(127);
}

[[noreturn]] void RunKeeper(pid_t parent, const char* program, char* const* argv,
                            char* const* environment, int stdinFd, int stdoutFd, int scriptFd) {
  sigset_t waited;
  ::sigemptyset(&waited);
  for (const int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) ::sigaddset(&waited, sig);
  ::sigprocmask(SIG_BLOCK, &waited, nullptr);
  if (::setpgid(0, 0) != 0) ::_exit(127);
  // The parent may have gone before the death signal was armed.
  if (::prctl(PR_SET_PDEATHSIG, kKeeperDeathSignal) != 0 || ::getppid() != parent)
    KillGroupAndExit();

  const pid_t child = ::_Fork();
  if (child < 0) ::_exit(127);
  if (child == 0) {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0 || ::dup2(stdinFd >= 0 ? stdinFd : null, 0) < 0 ||
        ::dup2(stdoutFd >= 0 ? stdoutFd : null, 1) < 0 || ::dup2(null, 2) < 0)
      ::_exit(127);
    // The command file, when there is one, is descriptor 3 (kScriptDescriptor).
    if (scriptFd >= 0 && ::dup2(scriptFd, 3) < 0) ::_exit(127);
    // Handles are not inherited: the settings database, the run log and any
    // socket of this program stay out of the command's reach.
    ::close_range(scriptFd >= 0 ? 4 : 3, ~0U, 0);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(program, argv, environment);
    ::_exit(127);
  }
  // Only the command holds its streams now: the output pipe ends with it.
  ::close_range(0, ~0U, 0);
  for (;;) {
    siginfo_t info{};
    const int sig = ::sigwaitinfo(&waited, &info);
    if (sig < 0) continue;  // EINTR
    if (sig != SIGCHLD) KillGroupAndExit();
    int status = 0;
    const pid_t reaped = ::waitpid(child, &status, WNOHANG);
    if (reaped != child) continue;
    if (WIFEXITED(status)) ::_exit(WEXITSTATUS(status));
    ::_exit(WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 127);
  }
}

// Starts `program` with `argv` (argv[0] included) under a keeper, standard
// input from `stdinFd` (or /dev/null when -1), standard output to `output`
// (or /dev/null without a listener), standard error to /dev/null, `scriptFd`
// (unless -1; at least 10, clear of the standard ones) as descriptor 3, and
// waits for it.
int SpawnAndWait(const std::string& program, std::vector<std::string> argv, char** environment,
                 int stdinFd, const OutputListener& output, int scriptFd = -1) {
  ScopedFd readEnd;
  ScopedFd writeEnd;
  if (output) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    // Only this side waits without blocking; the child's end stays ordinary.
    const int flags = ::fcntl(readEnd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(readEnd.get(), F_SETFL, flags | O_NONBLOCK) != 0) return -1;
  }
  // Everything the keeper needs is made before it exists: it may not allocate.
  if (::access(program.c_str(), X_OK) != 0) return -1;
  std::vector<char*> pointers;
  for (auto& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t keeper = ::_Fork();
  if (keeper < 0) return -1;
  if (keeper == 0)
    RunKeeper(parent, program.c_str(), pointers.data(), environment, stdinFd,
              writeEnd.valid() ? writeEnd.get() : -1, scriptFd);
  if (!readEnd.valid()) return WaitBlocking(keeper);
  // Only the command may hold the write end now, so the pipe ends with it.
  writeEnd.Reset();
  return WaitReading(keeper, std::move(readEnd), output);
}

}  // namespace

int RunAndWait(const HeldCommandFile& commandFile, const EnvironmentAdditions& extraEnvironment,
               const OutputListener& output) {
  if (!commandFile.held()) return -1;
  // A copy of the held descriptor, numbered clear of the standard ones, that
  // the keeper's child makes descriptor 3; the shell opens /dev/fd/3, which
  // is the file this program wrote whatever stands under its name now.
  const ScopedFd script(::fcntl(static_cast<int>(commandFile.handle()), F_DUPFD_CLOEXEC, 10));
  struct stat st {};
  if (!script || ::fstat(script.get(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  ChildEnvironment env(extraEnvironment);
  return SpawnAndWait(kShell, {kShell, "/dev/fd/3"}, env.get(), -1, output, script.get());
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string_view input, const OutputListener& output) {
  if (program.empty()) return -1;
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  if (input.empty()) return SpawnAndWait(program, std::move(argv), environ, -1, output);
  // The input goes into the pipe before the child exists: it fits the pipe's
  // buffer (a password), and with both ends still ours no write can raise
  // SIGPIPE however early the child exits.
  if (input.size() > 4096) return -1;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  const ScopedFd readEnd(fds[0]);
  ScopedFd writeEnd(fds[1]);
  std::size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = ::write(writeEnd.get(), input.data() + done, input.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<std::size_t>(n);
  }
  writeEnd.Reset();
  return SpawnAndWait(program, std::move(argv), environ, readEnd.get(), output);
}

std::string ShortPathOf(const std::string& path) { return Trim(path); }

std::string FindProgramOnPath(const std::string& program, const std::string& searchPath) {
  if (program.empty() || program.find('/') != std::string::npos) return {};
  std::size_t start = 0;
  while (start <= searchPath.size()) {
    std::size_t end = searchPath.find(':', start);
    if (end == std::string::npos) end = searchPath.size();
    const std::string dir = searchPath.substr(start, end - start);
    if (!dir.empty() && dir.front() == '/') {
      const std::string candidate = JoinPath(dir, program);
      if (IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

}  // namespace veltora
