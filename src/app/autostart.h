// Starting the agent with the machine: one registration that is made, read
// and removed.
//
// On POSIX it is the agent's systemd unit (veltora.service, installed with the
// program), enabled and disabled through the systemctl found on the PATH the
// caller passes, run without a shell. The unit starts the installed agent as
// root at boot, whoever logs in or not; a desktop's autostart entry would
// start it as the desktop's user, whom the start-up checks refuse.
//
// On Windows it is the string value "Veltora" under the machine's Run key
// (HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run,
// `configRoot` there), holding the executable's full path without quotes or
// arguments; the path it names counts without regard to letter case.
//
// Register and remove write their run-log line, success or failure, through
// the caller's LineLog; the reason of a failure (on POSIX with systemctl's
// exit status and the unit's state) comes back in `error` for the caller to
// show. On Windows a value the registry refuses also ends the run-log line
// with the reason ("原因：拒绝访问，需要以管理员身份运行" for a refused access:
// a filtered token may start the program but not write the machine's keys).
#pragma once

#include <string>

#include "base/line_log.h"

namespace veltora {

#ifdef _WIN32
inline constexpr char kDefaultAutostartRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kAutostartValueName[] = "Veltora";
#else
// POSIX has no place of its own to name: the unit is what is registered.
inline constexpr char kDefaultAutostartRoot[] = "";
#endif
inline constexpr char kAgentUnitName[] = "veltora.service";

struct AutostartPlace {
  std::string configRoot = kDefaultAutostartRoot;  // Windows: the Run key
  std::string executablePath;                      // Windows: absolute; what the entry starts
  std::string searchPath;                          // POSIX: a PATH value, searched for systemctl
  std::string unitName = kAgentUnitName;
};

struct AutostartRegistration {
  bool exists = false;               // the entry is there, or the unit is enabled
  bool namesThisExecutable = false;  // ...and starts place.executablePath (POSIX: the
                                     // enabled unit, which starts the installed agent)
};

// Writes the entry or enables the unit, and checks that the registration
// reads back as this executable's. True only then.
bool RegisterAutostart(const AutostartPlace& place, LineLog& log, std::string& error);
// Removes the entry or disables the unit. True only when nothing is registered
// afterwards, so removing what is not there succeeds.
bool RemoveAutostart(const AutostartPlace& place, LineLog& log, std::string& error);
// What is registered now. On POSIX the unit counts as registered when
// `systemctl is-enabled` says "enabled" (not a runtime-only, static, masked or
// missing unit); without systemctl nothing is registered.
AutostartRegistration ReadAutostart(const AutostartPlace& place);

#ifdef _WIN32
// The registry operations the entry is made with. `root` chooses the root key:
// 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE, 3 HKEY_USERS,
// 4 HKEY_CURRENT_CONFIG, 5 HKEY_DYN_DATA; any other index fails (false, or an
// empty text).
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

}  // namespace veltora
