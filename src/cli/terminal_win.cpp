#include <windows.h>

#include <iostream>

#include "cli/cli.h"
#include "cli/messages.h"

namespace veltora {

// A console answers for its mode; a pipe or a file does not.
bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

namespace {

// One line from standard input; on a console after `prompt`, not echoed.
std::optional<std::string> ReadLine(HANDLE input, bool console, DWORD mode, const char* prompt) {
  if (console) {
    std::cerr << prompt << std::flush;
    ::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (console) {
    ::SetConsoleMode(input, mode);
    std::cerr << "\n";
  }
  if (!read) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> ReadSecretLine(bool confirm) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(input, &mode) != FALSE;
  auto first = ReadLine(input, console, mode, cli_msg::kSecretPrompt);
  if (!first || !confirm || !console) return first;
  const auto again = ReadLine(input, console, mode, cli_msg::kSecretAgainPrompt);
  if (!again || *again != *first) return std::nullopt;
  return first;
}

}  // namespace veltora
