#include "app/autostart.h"

namespace veltora {
namespace {

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

// One word of an Exec value, quoted whole whether or not it needs it: the
// rules are then the same for every word.
std::string QuotedExecWord(const std::string& word) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';  // a field code otherwise
    out += c;
  }
  return out + "\"";
}

// A string value's escapes undone: \s \n \t \r \\. Any other backslash stays,
// so that a hand-written \" (one backslash) still reaches the Exec quoting.
std::string UnescapeStringValue(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[i + 1]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += '\\';
        out += value[i + 1];
        break;
    }
    ++i;
  }
  return out;
}

std::string UndoubledPercents(const std::string& word) {
  std::string out;
  for (std::size_t i = 0; i < word.size(); ++i) {
    out += word[i];
    if (word[i] == '%' && i + 1 < word.size() && word[i + 1] == '%') ++i;
  }
  return out;
}

std::optional<std::vector<std::string>> SplitExecWords(const std::string& value) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < value.size()) {
    if (value[i] == ' ' || value[i] == '\t') {
      ++i;
      continue;
    }
    std::string word;
    if (value[i] == '"') {
      ++i;
      bool closed = false;
      while (i < value.size()) {
        const char c = value[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < value.size() &&
            (value[i] == '"' || value[i] == '`' || value[i] == '$' || value[i] == '\\')) {
          word += value[i++];
          continue;
        }
        word += c;
      }
      if (!closed) return std::nullopt;
    } else {
      while (i < value.size() && value[i] != ' ' && value[i] != '\t') word += value[i++];
    }
    words.push_back(UndoubledPercents(word));
  }
  return words;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<std::string> DesktopExecValue(const std::string& program,
                                            const std::vector<std::string>& arguments) {
  std::string quoted;
  std::vector<const std::string*> words{&program};
  for (const auto& a : arguments) words.push_back(&a);
  for (const std::string* word : words) {
    for (char c : *word)
      if (IsControl(c)) return std::nullopt;
    if (!quoted.empty()) quoted += ' ';
    quoted += QuotedExecWord(*word);
  }
  // The whole value is a string value as well: its backslashes are doubled
  // once more on top of the quoting's own.
  std::string value;
  for (char c : quoted) {
    if (c == '\\') value += '\\';
    value += c;
  }
  return value;
}

std::optional<std::string> DesktopEntryText(const std::string& program) {
  const auto exec = DesktopExecValue(program, {kAgentCommand});
  if (!exec) return std::nullopt;
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Veltora\n"
         "Comment=Unattended backup agent\n"
         "Exec=" +
         *exec +
         "\n"
         "Terminal=false\n"
         "NoDisplay=true\n";
}

std::optional<std::vector<std::string>> DesktopExecWords(std::string_view entryText) {
  bool inMainGroup = false;
  while (!entryText.empty()) {
    const std::size_t end = entryText.find('\n');
    const std::string_view line =
        Trimmed(entryText.substr(0, end == std::string_view::npos ? entryText.size() : end));
    entryText.remove_prefix(end == std::string_view::npos ? entryText.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!inMainGroup || eq == std::string_view::npos || Trimmed(line.substr(0, eq)) != "Exec")
      continue;
    return SplitExecWords(UnescapeStringValue(Trimmed(line.substr(eq + 1))));
  }
  return std::nullopt;
}

}  // namespace veltora
