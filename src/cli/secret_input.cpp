#include <iostream>

#include "cli/cli.h"
#include "cli/messages.h"

namespace veltora {
namespace {

// One line from standard input, a trailing CR dropped; on a terminal after
// `prompt`, not echoed.
std::optional<std::string> ReadLine(bool terminal, const char* prompt) {
  std::function<void()> restoreEcho;
  if (terminal) {
    std::cerr << prompt << std::flush;
    restoreEcho = HideStandardInputEcho();
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (restoreEcho) restoreEcho();
  if (terminal) std::cerr << "\n";
  if (!read) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> ReadSecretLine(bool confirm) {
  const bool terminal = StandardInputIsTerminal();
  auto first = ReadLine(terminal, cli_msg::kSecretPrompt);
  if (!first || !confirm || !terminal) return first;
  const auto again = ReadLine(terminal, cli_msg::kSecretAgainPrompt);
  if (!again || *again != *first) return std::nullopt;
  return first;
}

}  // namespace veltora
