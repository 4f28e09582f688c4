#include "service/agent_service.h"

#include <vector>

namespace veltora {
namespace {

// One argument in double quotes. Inside quotes a backslash is literal unless
// a run of them meets a quote: the run before the closing quote is doubled so
// that it stays backslashes. A Windows path holds no quote of its own.
std::string Quoted(const std::string& text) {
  std::size_t trailing = 0;
  while (trailing < text.size() && text[text.size() - 1 - trailing] == '\\') ++trailing;
  return "\"" + text + std::string(trailing, '\\') + "\"";
}

// The arguments of a command line as the C runtime splits them: blanks and
// tabs outside quotes separate; 2n backslashes before a quote are n and the
// quote opens or closes, 2n+1 are n and a literal quote; other backslashes
// are themselves.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size();) {
    const char c = line[i];
    if ((c == ' ' || c == '\t') && !quoted) {
      if (inArgument) args.push_back(current);
      current.clear();
      inArgument = false;
      ++i;
      continue;
    }
    inArgument = true;
    if (c == '\\') {
      std::size_t run = 0;
      while (i < line.size() && line[i] == '\\') ++run, ++i;
      if (i < line.size() && line[i] == '"') {
        current.append(run / 2, '\\');
        if (run % 2 == 1) {
          current += '"';
          ++i;
        }
      } else {
        current.append(run, '\\');
      }
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
    } else {
      current += c;
    }
    ++i;
  }
  if (inArgument) args.push_back(current);
  return args;
}

}  // namespace

std::string AgentServiceCommandLine(const std::string& executablePath,
                                    const std::string& appFolder) {
  return Quoted(executablePath) + " --app-dir " + Quoted(appFolder) + " serve " +
         kServeServiceOption;
}

std::optional<std::string> AppFolderOfServiceCommand(const std::string& commandLine) {
  const std::vector<std::string> args = SplitCommandLine(commandLine);
  for (std::size_t i = 1; i + 1 < args.size(); ++i)
    if (args[i] == "--app-dir") return args[i + 1];
  return std::nullopt;
}

}  // namespace veltora
