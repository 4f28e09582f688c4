// The main window of the command line's front ends: the window logic the tray
// application runs (MainWindowPresenter), over a window held in memory whose
// messages go to standard error, with this machine's real services. The agent
// ticks it once a second; `settings` and `backup` press its buttons once.
#pragma once

#include <ostream>
#include <string>

#include "cli/agent_view.h"
#include "machine/machine_services.h"

namespace veltora {

using HeadlessWindowOptions = MachineServicesOptions;

class HeadlessWindow final : public MachineServices {
 public:
  HeadlessWindow(const std::string& appFolder, const CliContext& context, std::ostream& err,
                 HeadlessWindowOptions options = {})
      : MachineServices(appFolder, context, std::move(options)),
        view_(err),
        presenter_(view_, services()) {}

  MainWindowPresenter& presenter() { return presenter_; }
  AgentView& view() { return view_; }

 private:
  AgentView view_;
  MainWindowPresenter presenter_;
};

}  // namespace veltora
