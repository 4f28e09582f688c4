// veltora-cli: the backup services without a window.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/single_instance.h"
#include "machine/machine_context.h"

namespace veltora {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitBackupIncomplete = 1;
inline constexpr int kExitUsage = 2;
// The agent: 0 only for a requested stop. A fault (the settings database
// cannot be opened at start, the application folder is missing or its lock
// file cannot be opened, the agent ended without being asked) is 1, which the
// service unit restarts; a refused start (another agent on the folder, a
// blank in the executable's path, not root), which no restart can change, is 3.
inline constexpr int kExitFault = 1;
inline constexpr int kExitRefused = 3;
// `status`: some ticked account set's newest complete backup is late; some
// never completed one (or the settings cannot be read). 0 when all are current.
inline constexpr int kExitStatusLate = 1;
inline constexpr int kExitStatusNever = 2;

// The machine's context and what only the command line uses.
struct CliContext : MachineContext {
  // The demo's remote folder (VELTORA_DEMO_SHARE, _USER, _PASSWORD): a share
  // that scripts/demo.sh starts on loopback; a local folder when empty.
  std::string demoShare;
  std::string demoShareUser;
  std::string demoSharePassword;
  // Progress is one line rewritten in place when the error stream is a
  // terminal, occasional lines of its own otherwise.
  bool errorStreamIsTerminal = false;
  // Reads a password given as "-" (see ReadSecretLine); empty: none can be read.
  std::function<std::optional<std::string>(bool confirm)> readSecret;
  // How long `settings set` waits for another save of the folder.
  std::chrono::milliseconds settingsLockWait = kSettingsLockWait;
};

// Runs one command line (without the program name); output and errors go to
// the two streams. Returns the process exit code.
int RunCli(const std::vector<std::string>& args, const CliContext& context, std::ostream& out,
           std::ostream& err);

// The demonstration: sample data in `folder`, one backup of each edition, and
// the run log and backup table printed. Implemented in demo.cpp.
int RunDemo(const std::string& folder, const CliContext& context, std::ostream& out,
            std::ostream& err);

// A usage error: the problem and the usage text on `err`; answers kExitUsage.
int UsageError(std::ostream& err, const std::string& problem);

// Shared by the commands and the demo.
int RunBackupCommand(const std::string& appFolder, const CliContext& context,
                     const std::string& sqlStandinFolder, std::ostream& out, std::ostream& err);
// The backup table, newest first; archive passwords only with showPasswords
// (otherwise "******" where one was set).
int RunLogCommand(const std::string& appFolder, int limit, std::ostream& out, std::ostream& err,
                  bool showPasswords = false);
// Shows or changes the stored settings under the window's saving checks
// (settings_command.cpp).
int RunSettingsCommand(const std::string& appFolder, const CliContext& context,
                       const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The last complete backup of each ticked account set and its verdict, as
// text or (json) one JSON document; the exit code is the verdict
// (status_command.cpp).
int RunStatusCommand(const std::string& appFolder, const CliContext& context, bool json,
                     std::ostream& out, std::ostream& err);
// `restore` and `verify` (restore_command.cpp).
int RunRestoreCommand(const std::string& appFolder, const CliContext& context,
                      const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunVerifyCommand(const std::string& appFolder, const CliContext& context,
                     const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Puts the spare copy of the settings database back (see RestoreSpareCopy).
int RunRestoreSettingsCommand(const std::string& appFolder, std::ostream& out, std::ostream& err);
// What the agent's loop tells the Windows service host: that it has started
// (and, after a stop refused for an error, runs on), and, about once a
// second while a stop waits for the running backup and once as the agent
// ends, that the stop is under way.
struct ServeHooks {
  std::function<void()> running;
  std::function<void()> stopping;
  // The Windows service: `err` is the run log (the alarm line, already there,
  // is not repeated), and the console's events are no stop request.
  bool asService = false;
};
// The headless agent: start-up, the schedule, the guard, and the end of the
// session on SIGTERM or SIGINT (or StopSignals::Request). Implemented in serve.cpp.
int RunServeCommand(const std::string& appFolder, const CliContext& context, std::ostream& err,
                    const ServeHooks& hooks = {});
// `serve --service`: the agent under the Windows service control manager, its
// messages in the run log; elsewhere a usage error (service_host_*.cpp).
int RunServeAsService(const std::string& appFolder, const CliContext& context, std::ostream& err);
// `service install|uninstall|start|stop|status` (service_command.cpp).
int RunServiceCommand(const std::string& appFolder, const CliContext& context,
                      const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunInitCommand(const std::string& appFolder, const CliContext& context, std::ostream& out,
                   std::ostream& err);

// Whether the process's standard error, or its standard input, is a terminal
// (a console on Windows) (platform file).
bool StandardErrorIsTerminal();
bool StandardInputIsTerminal();
// Stops the terminal on standard input from echoing what is typed; answers
// what puts the echo back, or nothing when it cannot be stopped (platform file).
std::function<void()> HideStandardInputEcho();
// A password given as "-", so that it never stands on a command line other
// users can read: one line from standard input. On a terminal the prompt goes
// to standard error and the typing is not echoed, and with `confirm` (a new
// password) it is asked twice. nullopt at the end of the input, or when the
// two entries differ (secret_input.cpp).
std::optional<std::string> ReadSecretLine(bool confirm);

}  // namespace veltora
