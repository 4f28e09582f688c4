#include "machine/machine_context.h"

#include "files/smb_file_system.h"

namespace veltora {

MachineContext ReadMachineContext(const EnvironmentLookup& environment) {
  MachineContext context;
  context.executableFolder = ExecutableFolder();
  context.appDirFromEnvironment = environment("VELTORA_APP_DIR");
  context.sqlStandinFolder = environment("VELTORA_SQLSERVER_STANDIN");
  context.sqlServerHost = environment("VELTORA_SQLSERVER_HOST");
  context.sqlServerPort = environment("VELTORA_SQLSERVER_PORT");
  context.smbPort = SmbPortFrom(environment("VELTORA_SMB_PORT"));
  context.searchPath = environment("PATH");
  context.executablePath = ExecutablePath();
  return context;
}

std::string ApplicationFolder(const MachineContext& context) {
  return context.appDirFromEnvironment.empty() ? context.executableFolder
                                               : context.appDirFromEnvironment;
}

std::uint16_t SmbPortFrom(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return kDefaultSmbPort;
  const int value = std::stoi(text);
  return value >= 1 && value <= 65535 ? static_cast<std::uint16_t>(value) : kDefaultSmbPort;
}

}  // namespace veltora
