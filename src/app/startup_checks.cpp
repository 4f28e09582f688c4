#include "app/startup_checks.h"

#include "app/messages.h"

namespace veltora {

std::string RefuseBlankInPath(const std::string& executablePath) {
  if (executablePath.find(' ') == std::string::npos) return {};
  return app_msg::kBlankInPath;
}

std::string RefuseNonAdministrator() {
  if (IsAdministrator()) return {};
  return app_msg::kNotAdministrator;
}

std::string ClaimSingleInstance(const std::string& appFolder, std::unique_ptr<AppFolderLock>& lock,
                                std::string& detail, bool& fault) {
  detail.clear();
  bool heldElsewhere = false;
  lock = AppFolderLock::TryAcquire(appFolder, kInstanceLockFileName, detail, &heldElsewhere);
  fault = !lock && !heldElsewhere;
  if (lock) return {};
  return heldElsewhere ? app_msg::kAlreadyRunning : app_msg::kAppFolderUnusable;
}

}  // namespace veltora
