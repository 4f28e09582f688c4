// The agent's systemd unit as the autostart registration: systemctl enable,
// disable and is-enabled, each run once without a shell.
#include <algorithm>
#include <string_view>

#include "app/autostart.h"
#include "app/messages.h"
#include "base/process.h"
#include "base/text.h"

namespace veltora {
namespace {

// The one state in which the unit starts at the next boot. "enabled-runtime"
// ends with this boot; "static", "masked", "disabled" and an empty answer (no
// such unit file) start nothing.
constexpr std::string_view kEnabledState = "enabled";
// systemctl prints a word or a line here; a flood is cut.
constexpr std::size_t kLargestAnswer = 4096;

struct SystemctlAnswer {
  bool found = false;  // a systemctl was on the PATH
  int exitCode = -1;   // -1 when it could not be started, 128 + N when signal N ended it
  std::string output;  // its standard output, trimmed
};

SystemctlAnswer Systemctl(const AutostartPlace& place, const char* verb) {
  SystemctlAnswer answer;
  const std::string systemctl = FindProgramOnPath("systemctl", place.searchPath);
  if (systemctl.empty()) return answer;
  answer.found = true;
  std::string output;
  answer.exitCode =
      RunProgram(systemctl, {verb, place.unitName}, {}, [&output](std::string_view chunk) {
        output.append(chunk.substr(0, kLargestAnswer - std::min(output.size(), kLargestAnswer)));
      });
  answer.output = Trim(output);
  return answer;
}

bool IsEnabled(const SystemctlAnswer& answer) {
  return answer.exitCode == 0 && answer.output == kEnabledState;
}

// The unit's state in words for a reason: what is-enabled printed, or that it
// knows no such unit (not installed, or the manager's answer went to standard
// error).
std::string StateOf(const AutostartPlace& place) {
  const SystemctlAnswer state = Systemctl(place, "is-enabled");
  if (!state.found) return std::string(app_msg::kSystemctlMissing) + place.searchPath;
  if (state.output.empty()) return app_msg::kUnitStateUnknown + place.unitName;
  return app_msg::kUnitState + state.output;
}

// Why `systemctl VERB unit` failed: the tool missing, or its exit status and
// output and then the state the unit is left in.
std::string FailureOf(const AutostartPlace& place, const char* verb,
                      const SystemctlAnswer& answer) {
  if (!answer.found) return std::string(app_msg::kSystemctlMissing) + place.searchPath;
  std::string reason = "systemctl " + std::string(verb) + " " + place.unitName +
                       app_msg::kSystemctlAnswered + std::to_string(answer.exitCode);
  if (!answer.output.empty()) reason += " (" + answer.output + ")";
  return reason + "; " + StateOf(place);
}

}  // namespace

AutostartRegistration ReadAutostart(const AutostartPlace& place) {
  // The unit starts the installed agent; which executable that is, the unit
  // file says, and it is ours.
  const bool enabled = IsEnabled(Systemctl(place, "is-enabled"));
  return {.exists = enabled, .namesThisExecutable = enabled};
}

bool RegisterAutostart(const AutostartPlace& place, LineLog& log, std::string& error) {
  error.clear();
  const SystemctlAnswer enabled = Systemctl(place, "enable");
  bool ok = enabled.exitCode == 0;
  if (!ok) {
    error = FailureOf(place, "enable", enabled);
  } else if (!ReadAutostart(place).namesThisExecutable) {
    ok = false;
    error = app_msg::kAutostartNotInPlace + std::string("; ") + StateOf(place);
  }
  log.Append(ok ? app_msg::kAutostartWritten : app_msg::kAutostartWriteFailed);
  return ok;
}

bool RemoveAutostart(const AutostartPlace& place, LineLog& log, std::string& error) {
  error.clear();
  const SystemctlAnswer disabled = Systemctl(place, "disable");
  // What counts is the state afterwards: disabling a unit that is not
  // installed fails, yet nothing is registered; without systemctl nothing
  // can be.
  const bool ok = !disabled.found || !ReadAutostart(place).exists;
  if (!ok) {
    error = disabled.exitCode != 0
                ? FailureOf(place, "disable", disabled)
                : app_msg::kAutostartStillThere + std::string("; ") + StateOf(place);
  }
  log.Append(ok ? app_msg::kAutostartRemoved : app_msg::kAutostartRemoveFailed);
  return ok;
}

}  // namespace veltora
