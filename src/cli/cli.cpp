#include "cli/cli.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

#include "app/backup_configuration.h"
#include "app/process_state.h"
#include "app/run_log.h"
#include "base/path.h"
#include "engine/backup_job.h"
#include "sqlserver/odbc_sql_server.h"
#include "sqlserver/standin_sql_server.h"
#include "files/folder_listing.h"
#include "files/local_file_system.h"
#include "files/smb_file_system.h"
#include "settings/settings_database.h"
#include "settings/sqlite_backup_records.h"

namespace veltora {
namespace {

constexpr char kUsage[] =
    "usage: veltora-cli [--app-dir DIR] <command>\n"
    "  init             write the prepared empty settings database into the application folder\n"
    "  backup           run one backup job now from the stored settings\n"
    "  log [--limit N]  show the backup table, newest first\n"
    "  demo DIR         back up generated sample account sets of both kinds in DIR\n"
    "The application folder is the executable's folder unless --app-dir or VELTORA_APP_DIR\n"
    "names another. VELTORA_SQLSERVER_STANDIN=DIR selects the embedded SQL Server stand-in.\n";

// VELTORA_SMB_PORT when it holds a port number (1..65535), else 445.
std::uint16_t SmbPortFromEnvironment() {
  const char* text = std::getenv("VELTORA_SMB_PORT");
  if (text == nullptr || *text == '\0') return kDefaultSmbPort;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > 65535) return kDefaultSmbPort;
  return static_cast<std::uint16_t>(value);
}

int Usage(std::ostream& err, const std::string& problem) {
  err << "veltora-cli: " << problem << "\n" << kUsage;
  return kExitUsage;
}

// The run-log listener prints each line; the progress of long copies is shown
// on the error stream in steps of 10 %, so piped output stays readable.
class ProgressPrinter {
 public:
  explicit ProgressPrinter(std::ostream& err) : err_(err) {}
  void operator()(std::uint64_t done, std::uint64_t total) {
    if (total < kShownFrom) return;  // small copies finish before anyone waits
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (percent < next_ && done != total) return;
    if (percent == 100 && last_ == 100) return;
    err_ << "  复制进度 " << percent << "% (" << done / (1024 * 1024) << " / "
         << total / (1024 * 1024) << " MiB)\n";
    last_ = percent;
    next_ = percent - percent % 10 + 10;
    if (done == total) next_ = 0;
  }

 private:
  static constexpr std::uint64_t kShownFrom = 32ull * 1024 * 1024;
  std::ostream& err_;
  int next_ = 0;
  int last_ = -1;
};

std::unique_ptr<SqlServerFactory> MakeSqlServerFactory(const std::string& standinFolder) {
  if (!standinFolder.empty()) return std::make_unique<StandinSqlServerFactory>(standinFolder);
  return std::make_unique<OdbcSqlServerFactory>();
}

}  // namespace

int RunInitCommand(const std::string& appFolder, const CliContext& context, std::ostream& out,
                   std::ostream& err) {
  const std::string prepared = JoinPath(context.executableFolder, kSettingsDatabaseFileName);
  try {
    std::filesystem::create_directories(appFolder);
    InstallSettingsDatabase(prepared, appFolder);
  } catch (const std::exception& e) {
    err << "veltora-cli init: " << e.what() << "\n";
    return kExitUsage;
  }
  out << "已写入设置数据库 " << SettingsDatabasePath(appFolder) << "\n";
  return kExitOk;
}

int RunBackupCommand(const std::string& appFolder, const CliContext& context,
                     const std::string& sqlStandinFolder, std::ostream& out, std::ostream& err) {
  auto clock = std::make_shared<SystemClock>();
  const auto sqlServer = MakeSqlServerFactory(sqlStandinFolder);

  LoadedConfiguration loaded;
  try {
    SettingsDatabase db(appFolder, clock);
    loaded = LoadBackupConfiguration(db, *sqlServer);
  } catch (const std::exception& e) {
    err << "veltora-cli backup: cannot read the settings in " << appFolder << ": " << e.what()
        << "\n(run 'veltora-cli init' to write a new settings database)\n";
    return kExitUsage;
  }
  for (const auto& notice : loaded.notices) err << notice << "\n";

  ProcessState state(appFolder);
  state.configured = true;  // a backup on demand, as the button starts one
  RunLog runLog(state.runLogPath, *clock);
  std::mutex outMutex;
  runLog.SetListener([&](std::string_view line) {
    std::lock_guard lock(outMutex);
    out << line << "\n" << std::flush;
  });
  SqliteBackupRecordsFactory records(appFolder, clock);
  ProgressPrinter progress(err);
  const CopyMarker marker = CopyMarker::For(MachineName(), state.appFolder);
  LocalFileSystem localFiles(marker);
  SmbFileSystem shareFiles(SmbPortFromEnvironment(), kDefaultSmbTimeout, marker);
  FileSystemRouter files(localFiles, &shareFiles);
  BackupServices services{
      .log = runLog,
      .clock = *clock,
      .sqlServer = *sqlServer,
      .records = records,
      .runLogPath = state.runLogPath,
      .rotateRunLog = [&] { runLog.Rotate(); },
      .uptimeText = UptimeText,
      .idleText = IdleText,
      .ensureSqlServerRunning = {},
      .copyProgress = [&](std::uint64_t done, std::uint64_t total) { progress(done, total); },
      .files = files,
      .share = shareFiles,
      .executableFolder = context.executableFolder};

  const auto summary =
      BackupThreadProc(loaded.config, {state.configured, state.backupRunning}, services);
  if (!summary) {
    err << "veltora-cli backup: another backup is running\n";
    return kExitBackupIncomplete;
  }
  const bool complete =
      summary->jobCompleted && summary->attempted > 0 && summary->Succeeded() == summary->attempted;
  return complete ? kExitOk : kExitBackupIncomplete;
}

int RunLogCommand(const std::string& appFolder, int limit, std::ostream& out, std::ostream& err) {
  std::vector<BaklogRow> rows;
  try {
    SettingsDatabase db(appFolder);
    rows = db.ListBackupLog(limit);
  } catch (const std::exception& e) {
    err << "veltora-cli log: 查询备份日志出错: " << e.what() << "\n";
    return kExitUsage;
  }
  out << "账套名 | 备份文件 | 备份时间 | 备注 | 压缩密码\n";
  for (const auto& r : rows)
    out << r.accountname << " | " << r.localbakfile << " | " << r.baktime << " | " << r.bz << " | "
        << r.rarpwd << "\n";
  return kExitOk;
}

int RunCli(const std::vector<std::string>& args, const CliContext& context, std::ostream& out,
           std::ostream& err) {
  std::string appFolder = context.appDirFromEnvironment;
  std::size_t i = 0;
  if (i < args.size() && args[i] == "--app-dir") {
    if (i + 1 >= args.size()) return Usage(err, "--app-dir needs a folder");
    appFolder = args[i + 1];
    i += 2;
  }
  if (appFolder.empty()) appFolder = context.executableFolder;
  if (i >= args.size()) return Usage(err, "no command given");
  const std::string command = args[i++];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());

  if (command == "init" && rest.empty()) return RunInitCommand(appFolder, context, out, err);
  if (command == "backup" && rest.empty())
    return RunBackupCommand(appFolder, context, context.sqlStandinFolder, out, err);
  if (command == "log") {
    int limit = -1;
    if (rest.size() == 2 && rest[0] == "--limit") {
      try {
        std::size_t used = 0;
        limit = std::stoi(rest[1], &used);
        if (used != rest[1].size() || limit < 0) throw std::invalid_argument("limit");
      } catch (const std::exception&) {
        return Usage(err, "--limit takes a whole number of rows");
      }
    } else if (!rest.empty()) {
      return Usage(err, "log takes only --limit N");
    }
    return RunLogCommand(appFolder, limit, out, err);
  }
  if (command == "demo" && rest.size() == 1) return RunDemo(rest[0], context, out, err);
  if (command == "help" || command == "--help" || command == "-h") {
    out << kUsage;
    return kExitOk;
  }
  return Usage(err, "unknown command or wrong arguments: " + command);
}

}  // namespace veltora
