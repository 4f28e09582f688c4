#include "support/samba_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#ifndef VELTORA_SAMBA_SCRIPT
#error "VELTORA_SAMBA_SCRIPT must name scripts/samba-test-server.sh"
#endif

namespace veltora::testing {
namespace {

constexpr char kUser[] = "veltorasmbtest";
constexpr char kPassword[] = "Pa ss:w0rd";  // a blank and a colon on purpose

// Runs the script with arguments, without a shell; its exit code or -1.
int RunScript(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string script = VELTORA_SAMBA_SCRIPT;
  argv.push_back(script.data());
  std::vector<std::string> copies = args;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool PortIsFree(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return free;
}

class Server {
 public:
  Server() {
    if (::geteuid() != 0) {
      why_ = "the Samba test server needs root (useradd, pdbedit)";
      return;
    }
    if (::access("/usr/sbin/smbd", X_OK) != 0) {
      why_ = "samba not installed";
      return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "veltora-smb-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      why_ = "cannot make the Samba folder";
      return;
    }
    dir_ = pattern;
    ::chmod(dir_.c_str(), 0755);  // smbd serves the share as the test user
    // A port found free may be taken before smbd binds it (another program
    // starting at that moment): smbd then ends at once, and the next free
    // port is tried, a few times.
    std::uint16_t port = static_cast<std::uint16_t>(44500 + ::getpid() % 1000);
    int rc = 1;
    for (int attempt = 0; attempt < 3 && rc == 1; ++attempt, ++port) {
      for (int tries = 0; tries < 50 && !PortIsFree(port); ++tries) ++port;
      share_.port = port;
      rc = Start();
    }
    if (rc == 3) {
      why_ = "samba not installed";
      return;
    }
    if (rc != 0) {
      why_ = "the Samba test server did not start (exit " + std::to_string(rc) + "); see " + dir_;
      return;
    }
    started_ = true;
    share_.sharePath = "\\\\127.0.0.1\\bak";
    share_.localFolder = dir_ + "/share";
    share_.user = kUser;
    share_.password = kPassword;
  }

  ~Server() {
    if (started_) RunScript({"stop", dir_});
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }

  const SambaShare* share() const { return started_ ? &share_ : nullptr; }
  const std::string& why() const { return why_; }

  bool Signal(const char* name) const { return started_ && RunScript({"signal", dir_, name}) == 0; }
  bool Restart() const { return started_ && Start() == 0; }

 private:
  int Start() const {
    return RunScript({"start", dir_, std::to_string(share_.port), kUser, kPassword});
  }

  std::string dir_;
  std::string why_;
  bool started_ = false;
  SambaShare share_;
};

// One server per test process, stopped by the destructor at exit.
Server& TheServer() {
  static Server server;
  return server;
}

}  // namespace

const SambaShare* TestSambaServer(std::string& whyNot) {
  whyNot = TheServer().why();
  return TheServer().share();
}

bool FreezeTestSambaServer() { return TheServer().Signal("STOP"); }
bool ThawTestSambaServer() { return TheServer().Signal("CONT"); }
bool KillTestSambaServer() { return TheServer().Signal("KILL"); }
bool RestartTestSambaServer() { return TheServer().Restart(); }

std::uint16_t UnusedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  std::uint16_t port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0) ::close(fd);
  return port;  // bound but never listened on, and now released
}

}  // namespace veltora::testing
