// The composition's part in the tray program beside the agent service: with
// the folder's instance lock held elsewhere, a window becomes the service's
// window only while that service runs, and only the tray program does.
#include "machine/machine_services.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/single_instance.h"
#include "settings/settings_database.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::TempDir;

// Answers the agent service's state as told; controls nothing.
class FakeServiceManager final : public ServiceManager {
 public:
  std::string GetServiceInfoText(const std::string& serviceName, ServiceInfo) override {
    asked.push_back(serviceName);
    return state;
  }
  bool ControlServiceByName(const std::string&, ServiceAction, std::string*) override {
    return false;
  }
  std::optional<std::vector<ServiceEntry>> EnumerateServices() override { return std::nullopt; }
  std::string state = "运行中";
  std::vector<std::string> asked;
};

TEST(ServiceWindowTest, AHeldFolderIsTheRunningServicesOnlyForTheTrayProgram) {
  struct Case {
    const char* name;
    bool lockHeldElsewhere;
    const char* serviceState;
    bool trayProgram;
    const char* refusal;
    bool serviceWindow;
  };
  const Case cases[] = {
      {"service running, lock held", true, "运行中", true, "", true},
      {"service stopped, lock held", true, "停止", true, "您好，程序已经运行，无需重复运行！",
       false},
      {"no service, lock held", true, "错误", true, "您好，程序已经运行，无需重复运行！", false},
      {"a second headless agent", true, "运行中", false, "您好，程序已经运行，无需重复运行！",
       false},
      {"lock free: the window serves the folder itself", false, "运行中", true, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string appFolder = dir / "app";
    std::filesystem::create_directories(appFolder);
    std::string error;
    std::unique_ptr<AppFolderLock> service;
    if (c.lockHeldElsewhere) {
      service = AppFolderLock::TryAcquire(appFolder, kInstanceLockFileName, error);
      ASSERT_TRUE(service) << error;
    }
    auto manager = std::make_shared<FakeServiceManager>();
    manager->state = c.serviceState;
    MachineServicesOptions options;
    options.mayServeAsServiceWindow = c.trayProgram;
    options.serviceManager = manager;
    MachineContext context;
    context.executableFolder = dir.str();
    MachineServices machine(appFolder, context, std::move(options));

    EXPECT_EQ(machine.services().claimSingleInstance(), c.refusal);
    EXPECT_EQ(machine.services().servesAsServiceWindow(), c.serviceWindow);
    EXPECT_EQ(machine.refusal(), c.refusal);
    if (c.serviceWindow) {
      EXPECT_EQ(manager->asked, std::vector<std::string>{"VeltoraBackup"});
      EXPECT_EQ(machine.services().agentServiceState(), "运行中");
      // Once the service lets the folder go, the window claims it and keeps it.
      EXPECT_FALSE(machine.services().takeOverFromService());
      service.reset();
      EXPECT_TRUE(machine.services().takeOverFromService());
      EXPECT_FALSE(AppFolderLock::TryAcquire(appFolder, kInstanceLockFileName, error));
    }
  }
}

}  // namespace
}  // namespace veltora
