#include "app/startup_checks.h"

#include <chrono>
#include <thread>

#include "app/messages.h"

namespace veltora {
namespace {

constexpr int kClaimAttempts = 10;
constexpr std::chrono::milliseconds kClaimRetryWait{100};

}  // namespace

std::string RefuseBlankInPath(const std::string& executablePath) {
  if (executablePath.find(' ') == std::string::npos) return {};
  return app_msg::kBlankInPath;
}

std::string RefuseNonAdministrator() {
  if (IsAdministrator()) return {};
  return app_msg::kNotAdministrator;
}

std::string ClaimSingleInstance(const std::string& appFolder, std::unique_ptr<AppFolderLock>& lock,
                                std::string& detail, bool& fault, bool* heldElsewhereOut) {
  bool heldElsewhere = false;
  bool foreign = false;
  // `veltora-cli status` takes the lock for an instant to see whether an
  // agent holds it: a start in that instant must not be refused for it, so a
  // held lock is asked again for a second before it counts as another agent.
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kClaimRetryWait);
    detail.clear();
    lock = AppFolderLock::TryAcquire(appFolder, kInstanceLockFileName, detail, &heldElsewhere,
                                     &foreign);
    if (lock || !heldElsewhere) break;
  }
  fault = !lock && !heldElsewhere;
  if (heldElsewhereOut != nullptr) *heldElsewhereOut = !lock && heldElsewhere && !foreign;
  if (lock) return {};
  if (foreign) return ForeignLockText(kInstanceLockFileName) + app_msg::kForeignLockNoStart;
  return heldElsewhere ? app_msg::kAlreadyRunning : app_msg::kAppFolderUnusable;
}

}  // namespace veltora
