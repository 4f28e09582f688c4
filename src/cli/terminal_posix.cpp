#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "cli/cli.h"
#include "cli/messages.h"

namespace veltora {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

namespace {

// One line from standard input; on a terminal after `prompt`, not echoed.
std::optional<std::string> ReadLine(bool terminal, const char* prompt) {
  termios saved{};
  const bool hidden = terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (hidden) {
    std::cerr << prompt << std::flush;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (hidden) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
  }
  if (!read) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> ReadSecretLine(bool confirm) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  auto first = ReadLine(terminal, cli_msg::kSecretPrompt);
  if (!first || !confirm || !terminal) return first;
  const auto again = ReadLine(terminal, cli_msg::kSecretAgainPrompt);
  if (!again || *again != *first) return std::nullopt;
  return first;
}

}  // namespace veltora
