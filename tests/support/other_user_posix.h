// The attacker's part of a test: a step taken by another user of the machine
// against a folder the process under test (root, when the tests run as root)
// shares with everyone.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace veltora::testing {

// The user id the attacker's steps run as when the tests run as root.
inline constexpr uid_t kOtherUser = 65534;  // nobody

// Runs `step` in a child process as kOtherUser (when the tests run as root;
// otherwise as the same user, the most a test can do there) and answers what
// it answered; false when the child could not drop to that user.
inline bool AsOtherUser(const std::function<bool()>& step) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)) ::_exit(2);
    ::_exit(step() ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

}  // namespace veltora::testing
