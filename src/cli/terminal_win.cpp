#include <windows.h>

#include "cli/cli.h"

namespace veltora {
namespace {

// A console answers for its mode; a pipe or a file does not.
bool IsConsole(DWORD handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(handle), &mode) != FALSE;
}

}  // namespace

bool StandardErrorIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }
bool StandardInputIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

std::function<void()> HideStandardInputEcho() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(input, &mode) ||
      !::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)))
    return {};
  return [input, mode] { ::SetConsoleMode(input, mode); };
}

}  // namespace veltora
