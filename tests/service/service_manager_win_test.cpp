// The service manager against Wine's real service control manager and a small
// test service installed as MSSQLSERVER in the test prefix, and the SQL Server
// start check and guard on top of it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "base/wide_text.h"
#include "service/service_manager.h"
#include "service/sql_server_guard.h"
#include "support/fakes.h"

namespace veltora {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kServiceName[] = L"MSSQLSERVER";

// The names of one kind of service in one call with a buffer far beyond what
// they need; `firstBufferHeldAll` tells whether the adapter's first buffer
// (1024 bytes) would have held them.
std::vector<std::string> EnumerateInOneCall(DWORD kinds, bool& firstBufferHeldAll) {
  std::vector<std::string> names;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  if (manager == nullptr) return names;
  std::vector<BYTE> buffer(1 << 20);
  DWORD needed = 0, returned = 0, resume = 0;
  firstBufferHeldAll =
      EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, kinds, SERVICE_STATE_ALL, buffer.data(),
                            1024, &needed, &returned, &resume, nullptr) != FALSE;
  resume = 0;
  if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, kinds, SERVICE_STATE_ALL, buffer.data(),
                            static_cast<DWORD>(buffer.size()), &needed, &returned, &resume,
                            nullptr)) {
    const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) names.push_back(Narrow(entries[i].lpServiceName));
  }
  CloseServiceHandle(manager);
  return names;
}

// The list the adapter reads in rounds is the list one large call reads, and
// it holds the services alone, no driver.
void ExpectEnumerationGoesOnWhileTheManagerHasMoreData(ServiceManager& manager_) {
  bool heldAll = true;
  const std::vector<std::string> win32 = EnumerateInOneCall(SERVICE_WIN32, heldAll);
  ASSERT_FALSE(heldAll) << "more than the manager's first buffer holds";
  bool unused = true;
  const std::vector<std::string> drivers = EnumerateInOneCall(SERVICE_DRIVER, unused);
  ASSERT_FALSE(drivers.empty()) << "the prefix has drivers to leave out";

  const auto services = manager_.EnumerateServices();
  ASSERT_TRUE(services);
  std::vector<std::string> names;
  for (const ServiceEntry& e : *services) names.push_back(e.name);
  EXPECT_EQ(names, win32);
  for (const std::string& driver : drivers)
    EXPECT_EQ(std::count(names.begin(), names.end(), driver), 0) << driver;
  EXPECT_TRUE(std::any_of(services->begin(), services->end(), [](const ServiceEntry& e) {
    return e.name == "MSSQLSERVER" && e.displayName == "SQL Server (test)";
  }));
  EXPECT_EQ(CountServices(manager_, "mssqlserver", true), 1);
}

// Installs the test service for the test and removes it again.
class ServiceManagerWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    Remove(manager);
    const std::wstring program = L"\"" + Widen(VELTORA_TEST_SERVICE) + L"\"";
    SC_HANDLE service =
        CreateServiceW(manager, kServiceName, L"SQL Server (test)", SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                       program.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
  }
  void TearDown() override {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return;
    Remove(manager);
    CloseServiceHandle(manager);
  }

  static void Remove(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) return;
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 200 && QueryServiceStatus(service, &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i)
      std::this_thread::sleep_for(50ms);
    DeleteService(service);
    CloseServiceHandle(service);
  }

  // Waits for the state text (the manager never waits itself).
  std::string WaitFor(const std::string& state) {
    std::string now;
    for (int i = 0; i < 400; ++i) {
      now = manager_->GetServiceInfoText("MSSQLSERVER");
      if (now == state) break;
      std::this_thread::sleep_for(25ms);
    }
    return now;
  }

  std::unique_ptr<ServiceManager> manager_ = MakeSystemServiceManager({});
};

TEST_F(ServiceManagerWinTest, TheTestServiceIsListedStartedPausedContinuedAndStopped) {
  ExpectEnumerationGoesOnWhileTheManagerHasMoreData(*manager_);
  EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER"), "停止");
  EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER", ServiceInfo::Type), "专用线程");
  EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER", ServiceInfo::ControlsAccepted),
            "禁用或手动");
  EXPECT_FALSE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Interrogate))
      << "a stopped service cannot answer";
  ASSERT_TRUE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Start));
  EXPECT_EQ(WaitFor("运行中"), "运行中");
  // It accepts stop, pause and continue: a combination, read as a number.
  EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER", ServiceInfo::ControlsAccepted),
            "未知状态：3");
  EXPECT_TRUE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Interrogate));
  EXPECT_FALSE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Shutdown))
      << "the system alone sends the shutdown notice";
  EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER"), "运行中");
  EXPECT_FALSE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Start))
      << "a running service is not started again";
  ASSERT_TRUE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Pause));
  EXPECT_EQ(WaitFor("暂停"), "暂停");
  ASSERT_TRUE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Continue));
  EXPECT_EQ(WaitFor("运行中"), "运行中");
  ASSERT_TRUE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Stop));
  EXPECT_EQ(WaitFor("停止"), "停止");

  // Before a backup: a stopped SQL Server is started, unless the guard
  // looks after it.
  std::atomic<bool> guardRunning{true};
  testing::RecordingLog ensureLog;
  EnsureSqlServerRunning(*manager_, guardRunning, ensureLog);
  EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER"), "停止");
  guardRunning = false;
  EnsureSqlServerRunning(*manager_, guardRunning, ensureLog);
  EXPECT_EQ(WaitFor("运行中"), "运行中");

  // The guard continues a paused SQL Server.
  ASSERT_TRUE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Pause));
  ASSERT_EQ(WaitFor("暂停"), "暂停");
  const std::atomic<bool> on{true};
  testing::RecordingLog log;
  {
    SqlServerGuard guard(*manager_, {on, on, guardRunning}, log, 50ms);
    ASSERT_TRUE(guard.Start());
    EXPECT_EQ(WaitFor("运行中"), "运行中");
  }
  EXPECT_FALSE(guardRunning);
  EXPECT_TRUE(log.lines().empty());
}

// The test service is installed by one test alone: the tests run in parallel
// against one service manager.
TEST(ServiceManagerWinMissingTest, AMissingServiceIsAnErrorAndCannotBeControlled) {
  const auto manager = MakeSystemServiceManager({});
  EXPECT_EQ(manager->GetServiceInfoText("VeltoraNoSuchService"), "错误");
  EXPECT_EQ(manager->GetServiceInfoText(""), "错误");
  EXPECT_EQ(manager->GetServiceInfoText("VeltoraNoSuchService", ServiceInfo::Type), "错误");
  EXPECT_EQ(manager->GetServiceInfoText("VeltoraNoSuchService", ServiceInfo::ControlsAccepted),
            "错误");
  for (const ServiceAction action :
       {ServiceAction::Start, ServiceAction::Stop, ServiceAction::Pause, ServiceAction::Continue,
        ServiceAction::Interrogate, ServiceAction::Shutdown})
    EXPECT_FALSE(manager->ControlServiceByName("VeltoraNoSuchService", action));
}

}  // namespace
}  // namespace veltora
