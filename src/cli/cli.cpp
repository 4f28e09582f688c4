#include "cli/cli.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "app/backup_configuration.h"
#include "app/process_state.h"
#include "app/run_log.h"
#include "app/single_instance.h"
#include "base/fs_path.h"
#include "base/path.h"
#include "base/text.h"
#include "cli/headless_window.h"
#include "cli/messages.h"
#include "cli/progress_display.h"
#include "engine/archiver.h"
#include "engine/backup_job.h"
#include "files/folder_listing.h"
#include "files/run_file_systems.h"
#include "machine/backup_composition.h"
#include "service/service_manager.h"
#include "service/sql_server_guard.h"
#include "settings/messages.h"
#include "settings/settings_database.h"
#include "settings/settings_repair.h"
#include "settings/sqlite_backup_records.h"
#include "sqlserver/odbc_sql_server.h"
#include "sqlserver/standin_sql_server.h"

namespace veltora {
namespace {

// The settings database could not be used: say what is wrong with it and what
// to do, after prefix. A configuration error.
int ReportSettingsProblem(std::string_view prefix, const std::string& appFolder,
                          const std::exception& error, std::ostream& err) {
  err << prefix << DescribeSettingsProblem(DiagnoseSettingsDatabase(appFolder), error.what())
      << "\n";
  return kExitUsage;
}

}  // namespace

int UsageError(std::ostream& err, const std::string& problem) {
  err << "veltora-cli: " << problem << "\n" << cli_msg::kUsage;
  return kExitUsage;
}

int RunInitCommand(const std::string& appFolder, const CliContext& context, std::ostream& out,
                   std::ostream& err) {
  const std::string prepared = JoinPath(context.executableFolder, kSettingsDatabaseFileName);
  try {
    std::filesystem::create_directories(PathFromUtf8(appFolder));
    InstallSettingsDatabase(prepared, appFolder);
  } catch (const std::exception& e) {
    err << "veltora-cli init: " << e.what() << "\n";
    return kExitUsage;
  }
  out << cli_msg::kDatabaseWritten << SettingsDatabasePath(appFolder) << "\n";
  return kExitOk;
}

int RunBackupCommand(const std::string& appFolder, const CliContext& contextIn,
                     const std::string& sqlStandinFolder, std::ostream& out, std::ostream& err) {
  CliContext context = contextIn;
  context.sqlStandinFolder = sqlStandinFolder;
  bool configured = false;
  try {
    configured = SettingsDatabase(appFolder).HasAccountList();
  } catch (const std::exception& e) {
    return ReportSettingsProblem("veltora-cli backup: ", appFolder, e, err);
  }

  // The run-log lines and the progress share the terminal: the status line
  // makes way for each run-log line. Both outlive the window that calls them.
  std::mutex outMutex;
  ProgressDisplay progress(err, context.errorStreamIsTerminal);
  std::optional<BackupRunSummary> summary;
  BackupConfig ranWith;
  HeadlessWindow window(
      appFolder, context, err,
      {.runLogListener =
           [&](std::string_view line) {
             std::lock_guard lock(outMutex);
             progress.ClearLine();
             out << line << "\n" << std::flush;
           },
       .progress =
           [&](const ProgressReport& report) {
             std::lock_guard lock(outMutex);
             progress.Show(report);
           },
       .runEnded =
           [&](const BackupConfig& config, const std::optional<BackupRunSummary>& ended) {
             ranWith = config;
             summary = ended;
           }});
  // Loading only reads; what it would show in a box (an account folder that
  // is gone) is on the error stream.
  if (!window.presenter().LoadSettingsClicked()) return kExitUsage;
  window.state().configured = configured;

  // "立即备份": its checks and messages, then the run on the runner's thread.
  // A run held by another process (the agent's, another backup) refuses here
  // as a running one does in the window.
  const StartOutcome outcome = window.presenter().BackUpNowClicked();
  if (outcome != StartOutcome::kStarted) return configured ? kExitBackupIncomplete : kExitUsage;
  window.runner().Wait();
  return summary && summary->Complete(ranWith) ? kExitOk : kExitBackupIncomplete;
}

int RunLogCommand(const std::string& appFolder, int limit, std::ostream& out, std::ostream& err,
                  bool showPasswords) {
  std::vector<BaklogRow> rows;
  try {
    SettingsDatabase db(appFolder);
    rows = db.ListBackupLog(limit);
  } catch (const std::exception& e) {
    return ReportSettingsProblem(cli_msg::kLogQueryFailed, appFolder, e, err);
  }
  out << cli_msg::kLogHeader;
  for (const auto& r : rows) {
    const std::string password =
        showPasswords || r.rarpwd.empty() ? r.rarpwd : std::string(cli_msg::kPasswordPlaceholder);
    out << r.accountname << " | " << r.localbakfile << " | " << r.baktime << " | " << r.bz << " | "
        << password << "\n";
  }
  return kExitOk;
}

int RunRestoreSettingsCommand(const std::string& appFolder, std::ostream& out, std::ostream& err) {
  // Never under a serving agent or a running backup, which have the database
  // open: both locks, the agent's first.
  std::string lockError;
  const auto instanceLock = AppFolderLock::TryAcquire(appFolder, kInstanceLockFileName, lockError);
  const auto runLock =
      instanceLock ? AppFolderLock::TryAcquire(appFolder, kRunLockFileName, lockError) : nullptr;
  if (!runLock) {
    err << "veltora-cli restore-settings: " << lockError << "\n";
    return kExitUsage;
  }
  RestoreOutcome outcome;
  try {
    outcome = RestoreSpareCopy(appFolder, SystemClock());
  } catch (const std::exception& e) {
    err << "veltora-cli restore-settings: " << e.what() << "\n";
    return kExitUsage;
  }
  out << settings_messages::kRestored << outcome.restoredPath << "\n";
  if (!outcome.keptAsidePath.empty())
    out << settings_messages::kKeptAside << outcome.keptAsidePath << "\n";
  return kExitOk;
}

int RunCli(const std::vector<std::string>& args, const CliContext& context, std::ostream& out,
           std::ostream& err) {
  std::string appFolder = ApplicationFolder(context);
  std::size_t i = 0;
  if (i < args.size() && args[i] == "--app-dir") {
    if (i + 1 >= args.size()) return UsageError(err, cli_msg::kAppDirNeedsFolder);
    appFolder = args[i + 1];
    i += 2;
  }
  if (appFolder.empty()) appFolder = context.executableFolder;  // an empty --app-dir
  if (i >= args.size()) return UsageError(err, cli_msg::kNoCommand);
  const std::string command = args[i++];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());

  if (command == "init" && rest.empty()) return RunInitCommand(appFolder, context, out, err);
  if (command == "backup" && rest.empty())
    return RunBackupCommand(appFolder, context, context.sqlStandinFolder, out, err);
  if (command == "log") {
    int limit = -1;
    bool showPasswords = false;
    bool limitGiven = false;
    for (std::size_t k = 0; k < rest.size(); ++k) {
      if (rest[k] == "--show-passwords" && !showPasswords) {
        showPasswords = true;
      } else if (rest[k] == "--limit" && !limitGiven && k + 1 < rest.size()) {
        limitGiven = true;
        const std::string& text = rest[++k];
        try {
          std::size_t used = 0;
          limit = std::stoi(text, &used);
          if (used != text.size() || limit < 0) throw std::invalid_argument("limit");
        } catch (const std::exception&) {
          return UsageError(err, cli_msg::kLimitNeedsNumber);
        }
      } else {
        return UsageError(err, cli_msg::kLogOptions);
      }
    }
    return RunLogCommand(appFolder, limit, out, err, showPasswords);
  }
  if (command == "status" && rest.empty())
    return RunStatusCommand(appFolder, context, false, out, err);
  if (command == "status" && rest.size() == 1 && rest[0] == "--json")
    return RunStatusCommand(appFolder, context, true, out, err);
  if (command == "settings") return RunSettingsCommand(appFolder, context, rest, out, err);
  if (command == "restore") return RunRestoreCommand(appFolder, context, rest, out, err);
  if (command == "verify") return RunVerifyCommand(appFolder, context, rest, out, err);
  if (command == "restore-settings" && rest.empty())
    return RunRestoreSettingsCommand(appFolder, out, err);
  if (command == "serve" && rest.empty()) {
    try {
      return RunServeCommand(appFolder, context, err);
    } catch (const std::exception& e) {
      err << "veltora-cli serve: " << e.what() << "\n";
      return kExitFault;
    }
  }
  if (command == "serve" && rest.size() == 1 && rest[0] == "--service")
    return RunServeAsService(appFolder, context, err);
  if (command == "service") return RunServiceCommand(appFolder, context, rest, out, err);
  if (command == "demo" && rest.size() == 1) return RunDemo(rest[0], context, out, err);
  if (command == "help" || command == "--help" || command == "-h") {
    out << cli_msg::kUsage;
    return kExitOk;
  }
  return UsageError(err, cli_msg::kUnknownCommand + command);
}

}  // namespace veltora
