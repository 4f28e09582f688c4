// The agent's main window: the window held in memory, with every message the
// window logic shows written to standard error as it is shown (the journal,
// when the service manager runs the agent). Nobody is there to answer a box,
// so a message is a line and the agent goes on.
#pragma once

#include <ostream>
#include <string>

#include "ui/memory_view.h"
#include "ui/messages.h"

namespace veltora {

class AgentView final : public MemoryView {
 public:
  explicit AgentView(std::ostream& err) : err_(err) {}

  void ShowWarning(const std::string& text) override {
    MemoryView::ShowWarning(text);
    Write(text);
  }
  void ShowNotice(const std::string& text) override {
    MemoryView::ShowNotice(text);
    Write(text);
  }
  void ShowError(const std::string& text) override {
    MemoryView::ShowError(text);
    Write(text);
  }
  // The day's alarm reaches the journal as well as the run log; not when the
  // messages are written to the run log themselves (the Windows service).
  void SetBackupAlarm(const std::string& overdue, bool announce) override {
    MemoryView::SetBackupAlarm(overdue, announce);
    if (announce && alarmEcho_) Write(std::string(ui_msg::kBackupAlarmPrefix) + overdue);
  }
  void SetAlarmEcho(bool on) { alarmEcho_ = on; }

 private:
  void Write(const std::string& text) { err_ << text << "\n" << std::flush; }

  std::ostream& err_;
  bool alarmEcho_ = true;
};

}  // namespace veltora
