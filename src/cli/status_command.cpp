// `veltora-cli status [--json]`: whether the ticked account sets have recent
// complete backups that their last test restore could bring back, for a
// person or a monitoring system. The exit code is the verdict: 0 all current,
// 1 some late (or failed their last test), 2 some never completed or the
// settings cannot be read.
#include <cstdio>
#include <ostream>
#include <string>

#include "app/single_instance.h"
#include "base/date_time.h"
#include "cli/cli.h"
#include "cli/headless_window.h"
#include "cli/messages.h"
#include "settings/settings_database.h"
#include "settings/settings_repair.h"
#include "ui/backup_health.h"

namespace veltora {
namespace {

// What status reports: the verdict over the table, with what only the
// command line adds.
struct StatusReport {
  BackupHealth health;
  std::string nextBackup;  // "yyyy-mm-dd hh:mm:ss"; empty when none is due
  bool agentServing = false;
};

// Nothing ticked protects nothing: as bad as a set never backed up.
BackupVerdict OverallVerdict(const BackupHealth& health) {
  return health.sets.empty() ? BackupVerdict::kNever : health.Overall();
}

const char* VerdictWord(BackupVerdict verdict) {
  switch (verdict) {
    case BackupVerdict::kCurrent:
      return "current";
    case BackupVerdict::kLate:
      return "late";
    case BackupVerdict::kNever:
      return "never";
  }
  return "never";
}

const char* VerdictText(BackupVerdict verdict) {
  switch (verdict) {
    case BackupVerdict::kCurrent:
      return cli_msg::kStatusCurrent;
    case BackupVerdict::kLate:
      return cli_msg::kStatusLate;
    case BackupVerdict::kNever:
      return cli_msg::kStatusNever;
  }
  return cli_msg::kStatusNever;
}

int ExitCodeOf(BackupVerdict verdict) {
  switch (verdict) {
    case BackupVerdict::kCurrent:
      return kExitOk;
    case BackupVerdict::kLate:
      return kExitStatusLate;
    case BackupVerdict::kNever:
      return kExitStatusNever;
  }
  return kExitStatusNever;
}

// A JSON string: quotes, backslashes and control characters escaped; every
// other byte (UTF-8 included) as it is.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonOptional(const std::string& text) {
  return text.empty() ? std::string("null") : JsonString(text);
}

std::string TimeText(DateTime value) { return FormatDateTime(FromDateTime(value)); }

void PrintJson(const std::string& appFolder, const StatusReport& report, std::ostream& out) {
  const BackupHealth& h = report.health;
  out << "{\"appFolder\":" << JsonString(appFolder)
      << ",\"agentServing\":" << (report.agentServing ? "true" : "false")
      << ",\"intervalDays\":" << h.intervalDays
      << ",\"shareBackup\":" << (h.shareOn ? "true" : "false")
      << ",\"nextBackup\":" << JsonOptional(report.nextBackup)
      << ",\"verdict\":" << JsonString(VerdictWord(OverallVerdict(h))) << ",\"accountSets\":[";
  bool first = true;
  for (const auto& set : h.sets) {
    if (!first) out << ",";
    first = false;
    out << "{\"name\":" << JsonString(set.name) << ",\"lastComplete\":"
        << (set.lastComplete ? JsonString(TimeText(*set.lastComplete)) : "null")
        << ",\"localFile\":" << JsonOptional(set.localFile)
        << ",\"shareFile\":" << JsonOptional(set.shareFile) << ",\"ageDays\":";
    if (set.lastComplete) {
      char age[32];
      std::snprintf(age, sizeof age, "%.2f", set.ageDays);
      out << age;
    } else {
      out << "null";
    }
    out << ",\"lastVerification\":";
    if (const auto& v = set.lastVerification)
      out << "{\"time\":" << JsonString(v->timeText)
          << ",\"passed\":" << (v->passed ? "true" : "false")
          << ",\"reason\":" << JsonOptional(v->reason) << "}";
    else
      out << "null";
    out << ",\"nextBackup\":" << JsonOptional(report.nextBackup)
        << ",\"agentServing\":" << (report.agentServing ? "true" : "false")
        << ",\"verdict\":" << JsonString(VerdictWord(set.verdict)) << "}";
  }
  out << "]}\n";
}

void PrintText(const StatusReport& report, std::ostream& out) {
  const BackupHealth& h = report.health;
  out << cli_msg::kStatusAgent
      << (report.agentServing ? cli_msg::kStatusServing : cli_msg::kStatusNotServing) << "\n";
  out << cli_msg::kStatusNextBackup
      << (report.nextBackup.empty() ? cli_msg::kStatusNone : report.nextBackup) << "\n";
  if (h.sets.empty()) out << cli_msg::kStatusNothingTicked << "\n";
  for (const auto& set : h.sets) {
    out << cli_msg::kStatusAccountSet << set.name << "\n";
    if (set.lastComplete) {
      out << cli_msg::kStatusLastComplete << TimeText(*set.lastComplete) << " ("
          << AgeText(set.ageDays) << cli_msg::kStatusAgo << ")\n";
      out << cli_msg::kStatusLocalFile << set.localFile << "\n";
      out << cli_msg::kStatusShareFile << (h.shareOn ? set.shareFile : cli_msg::kStatusShareOff)
          << "\n";
    } else {
      out << cli_msg::kStatusLastComplete << cli_msg::kStatusNone << "\n";
    }
    out << cli_msg::kStatusLastVerification;
    if (const auto& v = set.lastVerification)
      out << v->timeText << " "
          << (v->passed ? cli_msg::kStatusVerificationPassed
                        : cli_msg::kStatusVerificationFailed + v->reason);
    else
      out << cli_msg::kStatusNone;
    out << "\n" << cli_msg::kStatusVerdict << VerdictText(set.verdict);
    // Late for a test that failed, not for the age of the backup: say so.
    if (set.VerificationFailed()) out << cli_msg::kStatusLateForVerification;
    out << "\n";
  }
}

}  // namespace

int RunStatusCommand(const std::string& appFolder, const CliContext& context, bool json,
                     std::ostream& out, std::ostream& err) {
  // An agent holds the instance lock for its life: a lock that cannot be
  // taken because another process holds it is a serving agent.
  StatusReport report;
  {
    std::string lockError;
    bool held = false;
    const auto lock = AppFolderLock::TryAcquire(appFolder, kInstanceLockFileName, lockError, &held);
    report.agentServing = !lock && held;
  }

  auto unreadable = [&](const std::string& why) {
    if (json)
      out << "{\"appFolder\":" << JsonString(appFolder)
          << ",\"agentServing\":" << (report.agentServing ? "true" : "false")
          << ",\"verdict\":\"unreadable\",\"error\":" << JsonString(why) << "}\n";
    err << "veltora-cli status: " << why << "\n";
    return kExitStatusNever;
  };

  try {
    SettingsDatabase db(appFolder);
    // The next backup as the agent's window computes it from the stored
    // settings; its messages (an account folder that is gone) go to the error
    // stream.
    HeadlessWindow window(appFolder, context, err);
    if (!window.presenter().LoadSettingsClicked()) return unreadable(cli_msg::kStatusLoadFailed);
    const DateTime now = ToDateTime(window.services().clock.LocalNow());
    report.health = AssessBackups(db, now);
    if (db.HasAccountList())
      report.nextBackup = TimeText(window.presenter().schedule().NextBackupTime());
  } catch (const std::exception& e) {
    return unreadable(DescribeSettingsProblem(DiagnoseSettingsDatabase(appFolder), e.what()));
  }

  if (json)
    PrintJson(appFolder, report, out);
  else
    PrintText(report, out);
  return ExitCodeOf(OverallVerdict(report.health));
}

}  // namespace veltora
