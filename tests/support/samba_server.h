// A real Samba server for the tests that need a Windows share: started once
// per test binary on a free loopback port with a throw-away configuration
// (scripts/samba-test-server.sh), stopped when the binary exits.
#pragma once

#include <cstdint>
#include <string>

namespace veltora::testing {

struct SambaShare {
  std::string sharePath;    // \\127.0.0.1\bak
  std::string localFolder;  // the folder the share serves, as this machine sees it
  std::string user;
  std::string password;
  std::uint16_t port = 0;
};

// The running server, started on the first call. Null when it cannot run
// here, with the reason in `whyNot` ("samba not installed", not root, the
// script's failure); use VELTORA_SKIP_OR_FAIL(whyNot) then. Clients take its
// port from the share's `port`.
const SambaShare* TestSambaServer(std::string& whyNot);

// Faults of the running server: every process serving it (the listener and
// the one serving each connection) is stopped, continued or killed. Each is
// true when the signal reached the server. After a kill, the server is gone
// when the call returns; RestartTestSambaServer starts it again on the same
// port, folder and account.
bool FreezeTestSambaServer();
bool ThawTestSambaServer();
bool KillTestSambaServer();
bool RestartTestSambaServer();

// A loopback port on which nothing listens (at the moment of asking).
std::uint16_t UnusedLoopbackPort();

}  // namespace veltora::testing
