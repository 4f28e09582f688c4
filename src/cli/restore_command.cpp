// `restore` and `verify`: the restore logic of the window, on the command line.
#include <memory>
#include <mutex>
#include <ostream>

#include "app/single_instance.h"
#include "base/date_time.h"
#include "base/line_log.h"
#include "cli/cli.h"
#include "cli/messages.h"
#include "cli/progress_display.h"
#include "machine/backup_composition.h"
#include "ui/messages.h"
#include "ui/restore.h"
#include "ui/weekly_test_restore.h"

namespace veltora {
namespace {

// The lines of a restore to standard output; the progress line makes way.
class OutputLog final : public LineLog {
 public:
  OutputLog(std::ostream& out, ProgressDisplay& progress, std::mutex& mutex)
      : out_(out), progress_(progress), mutex_(mutex) {}
  void Append(std::string_view line) override {
    std::lock_guard lock(mutex_);
    progress_.ClearLine();
    out_ << line << "\n" << std::flush;
  }

 private:
  std::ostream& out_;
  ProgressDisplay& progress_;
  std::mutex& mutex_;
};

const char* WhereText(const RestorableBackup& b) {
  if (!b.localPath.empty() && !b.sharePath.empty()) return cli_msg::kWhereBoth;
  return b.localPath.empty() ? cli_msg::kWhereShare : cli_msg::kWhereLocal;
}

bool IsStamp(const std::string& text) {
  return text.size() == kBackupStampLength &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// The command's services and what they print through.
struct Session {
  Session(const std::string& appFolder, const CliContext& context, std::ostream& out,
          std::ostream& err)
      : progress(err, context.errorStreamIsTerminal),
        log(out, progress, mutex),
        sqlServer(MakeSqlServerFactory(context.sqlStandinFolder, context.sqlServerHost,
                                       context.sqlServerPort)),
        services(ComposeRestore(appFolder, context, *sqlServer, [this](const ProgressReport& r) {
          std::lock_guard lock(mutex);
          progress.Show(r);
        })) {}
  std::mutex mutex;
  ProgressDisplay progress;
  OutputLog log;
  std::unique_ptr<SqlServerFactory> sqlServer;
  RestoreServices services;
};

// A restore or a check reads the archives that a backup run writes and
// prunes: never both at once.
std::unique_ptr<AppFolderLock> TakeRunLock(const std::string& appFolder, std::ostream& err) {
  std::string error;
  auto lock = AppFolderLock::TryAcquire(appFolder, kRunLockFileName, error);
  if (!lock) err << "veltora-cli: " << cli_msg::kRestoreWhileBackup << error << "\n";
  return lock;
}

int ListCommand(const std::string& appFolder, const CliContext& context, const std::string& name,
                std::ostream& out, std::ostream& err) {
  Session session(appFolder, context, out, err);
  RestoreCatalogue catalogue;
  try {
    catalogue = ListRestorableBackups(session.services, name, session.log);
  } catch (const std::exception& e) {
    err << "veltora-cli restore: " << e.what() << "\n";
    return kExitBackupIncomplete;
  }
  if (!catalogue.shareProblem.empty()) err << catalogue.shareProblem << "\n";
  out << cli_msg::kRestoreListHeader;
  for (const auto& b : catalogue.backups) {
    out << b.accountSet << " | " << b.stamp << " | " << WhereText(b) << " | " << b.bytes << " | "
        << (b.digests ? cli_msg::kDigestKnown : cli_msg::kDigestUnknown) << " | ";
    if (b.rowId != 0)
      out << b.rowId;
    else
      out << "-";
    out << "\n";
  }
  return kExitOk;
}

}  // namespace

int RunRestoreCommand(const std::string& appFolder, const CliContext& context,
                      const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && args[0] == "--list") {
    if (args.size() > 2) return UsageError(err, cli_msg::kRestoreOptions);
    return ListCommand(appFolder, context, args.size() == 2 ? args[1] : "", out, err);
  }
  if (args.empty() || args[0].starts_with("--")) return UsageError(err, cli_msg::kRestoreOptions);
  RestoreRequest request;
  request.accountSet = args[0];
  bool passwordFromInput = false;
  for (std::size_t k = 1; k < args.size(); ++k) {
    const std::string& a = args[k];
    const bool hasValue = k + 1 < args.size();
    if (a == "--stamp" && hasValue && request.stamp.empty()) {
      request.stamp = args[++k];
      if (!IsStamp(request.stamp)) return UsageError(err, cli_msg::kRestoreStampForm);
    } else if (a == "--to" && hasValue && request.targetFolder.empty()) {
      request.targetFolder = args[++k];
    } else if (a == "--as-database" && hasValue && request.asDatabase.empty()) {
      request.asDatabase = args[++k];
    } else if (a == "--replace" && !request.replace) {
      request.replace = true;
    } else if (a == "--password-stdin" && !passwordFromInput) {
      passwordFromInput = true;
    } else {
      return UsageError(err, cli_msg::kRestoreOptions);
    }
  }
  if (!request.targetFolder.empty() && !request.asDatabase.empty())
    return UsageError(err, cli_msg::kRestoreOptions);
  if (passwordFromInput) {
    auto password = context.readSecret ? context.readSecret(false) : std::nullopt;
    if (!password) return UsageError(err, cli_msg::kPasswordNotRead);
    request.password = *password;
  }

  auto lock = TakeRunLock(appFolder, err);
  if (!lock) return kExitBackupIncomplete;
  Session session(appFolder, context, out, err);
  // Over an account set's own database: a backup of it first, by the job
  // (which takes the run lock itself).
  session.services.backUpFirst = [&](const std::string&, std::string& reason) {
    lock.reset();
    const int code = RunBackupCommand(appFolder, context, context.sqlStandinFolder, out, err);
    lock = TakeRunLock(appFolder, err);
    if (code != kExitOk) reason = cli_msg::kBackupFirstIncomplete;
    return code == kExitOk && lock != nullptr;
  };
  const RestoreResult result = RestoreBackup(request, session.services, session.log);
  session.progress.ClearLine();
  if (!result.ok) {
    err << "veltora-cli restore: " << result.message << "\n";
    return kExitBackupIncomplete;
  }
  out << result.message << "\n";
  if (!result.keptAside.empty()) out << ui_msg::kRestoreKeptAside << result.keptAside << "\n";
  return kExitOk;
}

int RunVerifyCommand(const std::string& appFolder, const CliContext& context,
                     const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() > 1 || (!args.empty() && args[0].starts_with("--")))
    return UsageError(err, cli_msg::kVerifyOptions);
  auto lock = TakeRunLock(appFolder, err);
  if (!lock) return kExitBackupIncomplete;
  Session session(appFolder, context, out, err);
  std::vector<VerifyResult> results;
  try {
    results = VerifyBackups(session.services, args.empty() ? "" : args[0], session.log);
  } catch (const std::exception& e) {
    err << "veltora-cli verify: " << e.what() << "\n";
    return kExitBackupIncomplete;
  }
  session.progress.ClearLine();
  // Recorded as the agent's weekly test is: `status` and the alarm show the
  // last test whoever made it, and a passed one counts for the week.
  try {
    RecordVerifyResults(session.services, results);
  } catch (const std::exception& e) {
    err << "veltora-cli verify: " << ui_msg::kTestRestoreNotRecorded << e.what() << "\n";
  }
  bool allPassed = !results.empty();
  for (const auto& r : results) {
    allPassed = allPassed && r.ok;
    out << r.accountSet << " | "
        << (r.side == ArchiveSide::kLocal ? ui_msg::kRestoreSideLocal : ui_msg::kRestoreSideShare)
        << " | " << (r.stamp.empty() ? "-" : r.stamp) << " | "
        << (r.ok ? cli_msg::kVerifyOk : cli_msg::kVerifyFailed) << " | " << r.message << "\n";
  }
  if (results.empty()) err << cli_msg::kNothingToVerify << "\n";
  return allPassed ? kExitOk : kExitBackupIncomplete;
}

}  // namespace veltora
