// What the front ends learn from the machine before composing anything: the
// environment, read once by the entry point (main, wmain, wWinMain) and handed
// in as a lookup, and where the running executable lies. Nothing below the
// entry points reads an environment variable.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace veltora {

struct MachineContext {
  std::string executableFolder;       // where the prepared settings database lies
  std::string appDirFromEnvironment;  // VELTORA_APP_DIR, may be empty
  std::string sqlStandinFolder;       // VELTORA_SQLSERVER_STANDIN, may be empty
  std::string sqlServerHost;          // VELTORA_SQLSERVER_HOST, may be empty
  std::string sqlServerPort;          // VELTORA_SQLSERVER_PORT, may be empty
  std::uint16_t smbPort = 445;        // VELTORA_SMB_PORT when it names a port, else 445
  std::string searchPath;             // PATH, where 7-Zip is looked for
  std::string executablePath;         // the running executable; ExecutablePath() when empty
};

// Looks up one environment variable; empty when unset.
using EnvironmentLookup = std::function<std::string(const char*)>;

// The context from the environment and the running executable's location.
MachineContext ReadMachineContext(const EnvironmentLookup& environment);

// The application folder without a command-line choice: VELTORA_APP_DIR, else
// the executable's folder.
std::string ApplicationFolder(const MachineContext& context);

// The SMB port a VELTORA_SMB_PORT value names; 445 unless it is 1..65535.
std::uint16_t SmbPortFrom(const std::string& text);

// The running executable and its folder (exe_path_posix.cpp / exe_path_win.cpp).
std::string ExecutablePath();
std::string ExecutableFolder();

}  // namespace veltora
