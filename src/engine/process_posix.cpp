#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/process.h"

extern char** environ;

namespace veltora {

int RunAndWait(const std::string& commandFile, const Environment& extra) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const auto& [name, value] : extra)
      replaced = replaced || std::strncmp(*e, (name + "=").c_str(), name.size() + 1) == 0;
    if (!replaced) envStrings.emplace_back(*e);
  }
  for (const auto& [name, value] : extra) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::string shell = "/bin/sh";
  std::string file = commandFile;
  char* argv[] = {shell.data(), file.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, shell.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  // The environment copy held the password: clear it before it is freed.
  for (auto& s : envStrings) std::fill(s.begin(), s.end(), '\0');
  if (rc != 0) return -1;

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

bool WriteOwnerOnlyFile(const std::string& path, const std::string& content) {
  ::unlink(path.c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  const bool ok = done == content.size() && closed;
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace veltora
