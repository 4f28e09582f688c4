#include <windows.h>

#include "cli/cli.h"

namespace veltora {

// A console answers for its mode; a pipe or a file does not.
bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

}  // namespace veltora
