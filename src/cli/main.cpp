#include "cli/main.h"

#include <clocale>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace veltora {

int CliMain(const std::vector<std::string>& args,
            const std::function<std::string(const char*)>& env) {
  // The user's locale for the C library's own texts (an error's reason in a
  // message or a run-log line); the run log's weekday names are a fixed table.
  std::setlocale(LC_ALL, "");
  veltora::CliContext context{
      veltora::ReadMachineContext(env),   env("VELTORA_DEMO_SHARE"),
      env("VELTORA_DEMO_SHARE_USER"),     env("VELTORA_DEMO_SHARE_PASSWORD"),
      veltora::StandardErrorIsTerminal(), veltora::ReadSecretLine};
  return veltora::RunCli(args, context, std::cout, std::cerr);
}

}  // namespace veltora

#ifndef _WIN32
int main(int argc, char** argv) {
  return veltora::CliMain(std::vector<std::string>(argv + 1, argv + argc), [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
  });
}
#endif
