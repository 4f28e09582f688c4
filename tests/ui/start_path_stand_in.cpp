// The presenter's start path (StartBackup, RecordScheduledStart) lives with
// the start-up and timer handlers in main_window_presenter.cpp. The settings
// tests link against this minimal version until that file is in the build;
// drop this file from ui_test then.
#include "ui/main_window_presenter.h"

namespace veltora {

StartOutcome MainWindowPresenter::StartBackup() {
  CaptureBackupConfiguration();
  return s_.backupRunner.Start(config_);
}

void MainWindowPresenter::RecordScheduledStart() {
  try {
    s_.openSettings()->UpdateLastBackupDay();
  } catch (...) {
  }
}

}  // namespace veltora
