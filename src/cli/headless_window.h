// The main window of the command line's front ends: the window logic the tray
// application runs (MainWindowPresenter), over a window held in memory whose
// messages go to standard error, with this machine's real services. The agent
// ticks it once a second; `settings` and `backup` press its buttons once.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "app/backup_launcher.h"
#include "app/process_state.h"
#include "app/run_log.h"
#include "app/single_instance.h"
#include "cli/agent_view.h"
#include "cli/cli.h"
#include "engine/progress.h"
#include "files/run_file_systems.h"
#include "service/service_manager.h"
#include "service/sql_server_guard.h"
#include "sqlserver/sql_server_connection.h"
#include "ui/main_window_presenter.h"

namespace veltora {

struct HeadlessWindowOptions {
  // Hears every run-log line as it is written (the command line echoes them).
  RunLog::Listener runLogListener;
  // Hears the progress of the runs this window starts.
  ProgressListener progress;
  // Hears the end of each run this window starts.
  ThreadBackupRunner::RunEnded runEnded;
};

class HeadlessWindow {
 public:
  HeadlessWindow(const std::string& appFolder, const CliContext& context, std::ostream& err,
                 HeadlessWindowOptions options = {});
  ~HeadlessWindow();
  HeadlessWindow(const HeadlessWindow&) = delete;
  HeadlessWindow& operator=(const HeadlessWindow&) = delete;

  MainWindowPresenter& presenter() { return *presenter_; }
  AgentView& view() { return view_; }
  ProcessState& state() { return state_; }
  RunLog& runLog() { return runLog_; }
  ThreadBackupRunner& runner() { return runner_; }
  SqlServerGuard& guard() { return guard_; }
  const MainWindowServices& services() const { return *services_; }
  // The first start-up refusal FormCreate met (blank path, another instance,
  // no administrator); empty when none. What the instance lock said, for
  // the log of a refused start.
  const std::string& refusal() const { return refusal_; }
  const std::string& lockDetail() const { return lockDetail_; }

 private:
  LocalAndSmbFileSystems& FileSystems();

  const std::string appFolder_;
  const CliContext& context_;
  const std::string executablePath_;
  std::shared_ptr<SystemClock> clock_;
  ProcessState state_;
  RunLog runLog_;
  std::unique_ptr<SqlServerFactory> sqlServer_;
  std::unique_ptr<ServiceManager> serviceManager_;
  SqlServerGuard guard_;
  ThreadBackupRunner runner_;
  // Held from the single-instance check for the window's whole life.
  std::unique_ptr<AppFolderLock> instanceLock_;
  // The window thread's own file systems for the folder checks, made on first
  // use so that a refused start touches nothing.
  std::unique_ptr<LocalAndSmbFileSystems> files_;
  std::string refusal_;
  std::string lockDetail_;
  AgentView view_;
  std::unique_ptr<MainWindowServices> services_;
  std::unique_ptr<MainWindowPresenter> presenter_;
};

}  // namespace veltora
