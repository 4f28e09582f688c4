#include <clocale>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
  // The run log's weekday names come from the user's locale.
  std::setlocale(LC_ALL, "");
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
  };
  veltora::CliContext context{veltora::ExecutableFolder(),
                              env("VELTORA_APP_DIR"),
                              env("VELTORA_SQLSERVER_STANDIN"),
                              env("VELTORA_DEMO_SHARE"),
                              env("VELTORA_DEMO_SHARE_USER"),
                              env("VELTORA_DEMO_SHARE_PASSWORD"),
                              veltora::SmbPortFrom(env("VELTORA_SMB_PORT")),
                              env("PATH"),
                              veltora::ExecutablePath(),
                              veltora::StandardErrorIsTerminal()};
  std::vector<std::string> args(argv + 1, argv + argc);
  return veltora::RunCli(args, context, std::cout, std::cerr);
}
