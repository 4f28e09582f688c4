// Starting the agent with the machine, for every user: one named entry that is
// registered, read and removed. On POSIX the entry is an XDG autostart file,
// <root>/autostart/veltora.desktop, where <root> is one XDG_CONFIG_DIRS-style
// folder (/etc/xdg unless the caller names another). A machine without a
// desktop has no such autostart folder; there the agent's systemd unit is
// enabled and disabled instead, through the systemctl found on the PATH the
// caller passes.
//
// Register and remove write their run-log line, success or failure, through
// the caller's LineLog; the reason of a failure comes back in `error` for the
// caller to show, never in the run log.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/line_log.h"

namespace veltora {

inline constexpr char kDefaultAutostartRoot[] = "/etc/xdg";
inline constexpr char kAutostartEntryName[] = "veltora.desktop";
inline constexpr char kAgentUnitName[] = "veltora.service";
// The command that makes the executable run as the agent.
inline constexpr char kAgentCommand[] = "serve";

struct AutostartPlace {
  std::string configRoot = kDefaultAutostartRoot;
  std::string executablePath;  // absolute; what the entry starts
  std::string searchPath;      // a PATH value, searched for systemctl
  std::string unitName = kAgentUnitName;
};

struct AutostartRegistration {
  bool exists = false;               // the entry (or the enabled unit) is there
  bool namesThisExecutable = false;  // ...and starts place.executablePath
};

// Writes the entry (atomically: a complete file or the previous state) or
// enables the unit, and checks that the registration reads back as this
// executable's. True only then.
bool RegisterAutostart(const AutostartPlace& place, LineLog& log, std::string& error);
// Removes the entry or disables the unit. True only when nothing is registered
// afterwards, so removing an entry that is not there succeeds.
bool RemoveAutostart(const AutostartPlace& place, LineLog& log, std::string& error);
// What is registered now. An entry that cannot be read or parsed exists but
// names no executable.
AutostartRegistration ReadAutostart(const AutostartPlace& place);

// The desktop entry's text, kept free of OS calls so that the quoting can be
// checked on its own.
//
// The Exec value that runs `program` with `arguments`: every word in double
// quotes with '"', '`', '$' and '\' escaped by a backslash, '%' doubled, and
// then each backslash doubled again as a string value requires, so that a
// launcher hands the words over unchanged. Nullopt when a word holds a control
// character, which an entry cannot carry on its one line.
std::optional<std::string> DesktopExecValue(const std::string& program,
                                            const std::vector<std::string>& arguments);
// The whole entry that starts `program` as the agent; nullopt as above.
std::optional<std::string> DesktopEntryText(const std::string& program);
// The words of the Exec key of the [Desktop Entry] group, unescaped; nullopt
// when there is no such key or its quoting is broken.
std::optional<std::vector<std::string>> DesktopExecWords(std::string_view entryText);

}  // namespace veltora
