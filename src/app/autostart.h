// Starting the agent with the machine, for every user: one named entry that is
// registered, read and removed. On POSIX the entry is an XDG autostart file,
// <root>/autostart/veltora.desktop, where <root> is one XDG_CONFIG_DIRS-style
// folder (/etc/xdg unless the caller names another). A machine without a
// desktop has no such autostart folder; there the agent's systemd unit is
// enabled and disabled instead, through the systemctl found on the PATH the
// caller passes.
//
// On Windows the entry is the string value "Veltora" under the machine's Run
// key (HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run,
// `configRoot` there), holding the executable's full path without quotes or
// arguments; the path it names counts without regard to letter case.
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

#ifdef _WIN32
inline constexpr char kDefaultAutostartRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kAutostartValueName[] = "Veltora";
#else
inline constexpr char kDefaultAutostartRoot[] = "/etc/xdg";
#endif
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

#ifdef _WIN32
// The registry operations the entry is made with. `root` chooses the root key:
// 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE, 3 HKEY_USERS,
// 4 HKEY_CURRENT_CONFIG; any other index fails (false, or an empty text).
// Writes `text` as a REG_SZ value, creating the key when it is missing.
bool WriteRegistryString(int root, const std::string& keyPath, const std::string& valueName,
                         const std::string& text);
// Deletes the value. True only when it is absent afterwards: when it was
// deleted, was not there, or its key does not exist.
bool DeleteRegistryValue(int root, const std::string& keyPath, const std::string& valueName);
// A string value's text, an integer value's decimal text, a REG_BINARY
// value's size in bytes (at most 512 counted); empty when absent or unreadable.
std::string ReadRegistryText(int root, const std::string& keyPath, const std::string& valueName);
bool RegistryValueExists(int root, const std::string& keyPath, const std::string& valueName);
#endif

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
