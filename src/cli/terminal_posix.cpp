#include <unistd.h>

#include "cli/cli.h"

namespace veltora {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace veltora
