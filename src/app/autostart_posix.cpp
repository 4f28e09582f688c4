// The XDG autostart entry, or the agent's systemd unit where no desktop reads
// such entries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/autostart.h"
#include "app/messages.h"
#include "base/path.h"
#include "base/posix_handles.h"
#include "base/process.h"

namespace veltora {
namespace {

constexpr char kAutostartFolderName[] = "autostart";
// The temporary name does not end in ".desktop", so a session that starts
// while the entry is being written never picks up the half-written file.
constexpr char kTemporaryPattern[] = ".veltora.desktop.XXXXXX";
// Far above any entry this program writes; a larger file is not ours.
constexpr std::size_t kLargestEntry = 64 * 1024;

std::string AutostartFolder(const AutostartPlace& place) {
  return JoinPath(place.configRoot, kAutostartFolderName);
}

std::string EntryPath(const AutostartPlace& place) {
  return JoinPath(AutostartFolder(place), kAutostartEntryName);
}

// A desktop session reads <root>/autostart; without that folder there is no
// desktop to start the agent, and the service manager does it.
bool HasDesktop(const AutostartPlace& place) {
  struct stat st {};
  return ::stat(AutostartFolder(place).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EntryPresent(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

// Makes a rename or unlink in `folder` survive a power cut.
void SyncFolder(const std::string& folder) {
  ScopedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
}

bool WriteAll(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteEntry(const AutostartPlace& place, std::string& error) {
  if (place.executablePath.empty()) {
    error = app_msg::kAutostartBadExecutable;
    return false;
  }
  // A launcher resolves a relative path against no folder of ours.
  const auto text = DesktopEntryText(place.executablePath);
  if (!text || place.executablePath.front() != '/') {
    error = app_msg::kAutostartBadExecutable + place.executablePath;
    return false;
  }
  const std::string folder = AutostartFolder(place);
  std::string temporary = JoinPath(folder, kTemporaryPattern);
  ScopedFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) {
    error = app_msg::kAutostartCannotWrite + folder + ": " + internal::ErrorText(errno);
    return false;
  }
  ScopedTempFile unlinkUnlessRenamed(temporary);
  // The mode is set outright: the writer's umask must not hide the entry from
  // the session, which reads it as another user.
  if (::fchmod(fd.get(), 0644) != 0 || !WriteAll(fd.get(), *text) || ::fsync(fd.get()) != 0 ||
      ::close(fd.Release()) != 0) {
    error = app_msg::kAutostartCannotWrite + temporary + ": " + internal::ErrorText(errno);
    return false;
  }
  const std::string entry = EntryPath(place);
  if (::rename(temporary.c_str(), entry.c_str()) != 0) {
    error = app_msg::kAutostartCannotWrite + entry + ": " + internal::ErrorText(errno);
    return false;
  }
  unlinkUnlessRenamed.Release();
  SyncFolder(folder);
  return true;
}

bool DeleteEntry(const AutostartPlace& place, std::string& error) {
  const std::string entry = EntryPath(place);
  if (::unlink(entry.c_str()) == 0) {
    SyncFolder(AutostartFolder(place));
  } else if (errno != ENOENT) {
    error = app_msg::kAutostartCannotRemove + entry + ": " + internal::ErrorText(errno);
    return false;
  }
  return true;
}

std::optional<std::string> ReadEntry(const std::string& path) {
  ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kLargestEntry) return std::nullopt;
  }
}

// systemctl's answer for the unit: 0 for success, or the exit code; -1 when
// no systemctl is on the PATH or it cannot be started.
int Systemctl(const AutostartPlace& place, const char* verb, std::string& error) {
  const std::string systemctl = FindProgramOnPath("systemctl", place.searchPath);
  if (systemctl.empty()) {
    error = app_msg::kSystemctlMissing;
    return -1;
  }
  const int rc = RunProgram(systemctl, {verb, place.unitName});
  if (rc != 0)
    error = app_msg::kSystemctlFailed + std::string(verb) + " " + place.unitName + ": " +
            std::to_string(rc);
  return rc;
}

bool UnitEnabled(const AutostartPlace& place) {
  std::string ignored;
  return Systemctl(place, "is-enabled", ignored) == 0;
}

}  // namespace

AutostartRegistration ReadAutostart(const AutostartPlace& place) {
  AutostartRegistration result;
  if (!HasDesktop(place)) {
    // The unit starts the installed agent; which executable that is, the unit
    // file says, and it is ours.
    result.exists = result.namesThisExecutable = UnitEnabled(place);
    return result;
  }
  const std::string entry = EntryPath(place);
  result.exists = EntryPresent(entry);
  if (!result.exists) return result;
  const auto text = ReadEntry(entry);
  const auto words = text ? DesktopExecWords(*text) : std::nullopt;
  result.namesThisExecutable = words && !words->empty() && words->front() == place.executablePath;
  return result;
}

bool RegisterAutostart(const AutostartPlace& place, LineLog& log, std::string& error) {
  error.clear();
  bool ok = false;
  if (HasDesktop(place)) {
    ok = WriteEntry(place, error);
  } else {
    ok = Systemctl(place, "enable", error) == 0;
  }
  if (ok && !ReadAutostart(place).namesThisExecutable) {
    ok = false;
    error = app_msg::kAutostartNotInPlace;
  }
  log.Append(ok ? app_msg::kAutostartWritten : app_msg::kAutostartWriteFailed);
  return ok;
}

bool RemoveAutostart(const AutostartPlace& place, LineLog& log, std::string& error) {
  error.clear();
  bool ok = false;
  if (HasDesktop(place)) {
    ok = DeleteEntry(place, error);
  } else {
    ok = Systemctl(place, "disable", error) == 0;
  }
  if (ok && ReadAutostart(place).exists) {
    ok = false;
    error = app_msg::kAutostartStillThere;
  }
  log.Append(ok ? app_msg::kAutostartRemoved : app_msg::kAutostartRemoveFailed);
  return ok;
}

}  // namespace veltora
