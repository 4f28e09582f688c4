// The command line's entry, shared by the platforms' own `main`s: arguments
// and environment as UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace veltora {

// Runs the command line on `args` (without the program's name); `env` reads
// one environment variable (empty when unset).
int CliMain(const std::vector<std::string>& args,
            const std::function<std::string(const char*)>& env);

}  // namespace veltora
