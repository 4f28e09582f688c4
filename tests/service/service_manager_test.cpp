// The systemctl service manager against the fake systemctl: state texts,
// controls, enumeration, and the search over the enumeration.
#include "service/service_manager.h"

#include <gtest/gtest.h>

#include "support/fake_systemctl.h"

namespace veltora {
namespace {

using testing::FakeSystemctl;

class ServiceManagerTest : public ::testing::Test {
 protected:
  FakeSystemctl systemctl_;
  std::unique_ptr<ServiceManager> manager_ =
      MakeSystemServiceManager({.searchPath = systemctl_.searchPath()});
};

TEST_F(ServiceManagerTest, UnitStatesReadAsStateTexts) {
  struct Case {
    const char* active;
    const char* freezer;
    const char* text;
  };
  const Case cases[] = {
      {"active", "running", "运行中"},       {"reloading", "running", "运行中"},
      {"activating", "running", "正在启动"}, {"deactivating", "running", "正在停止"},
      {"inactive", "running", "停止"},       {"failed", "running", "停止"},
      {"active", "frozen", "暂停"},          {"active", "freezing", "正在暂停"},
      {"active", "thawing", "继续"},         {"maintenance", "running", "未知状态"},
  };
  for (const auto& c : cases) {
    systemctl_.SetUnit("mssql-server", c.active, c.freezer);
    EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER"), c.text) << c.active << "/" << c.freezer;
  }
  // The service name maps to its unit whatever its letter case; the unit is
  // named after "--", so no name is ever read as an option.
  EXPECT_EQ(manager_->GetServiceInfoText("mssqlserver"), "未知状态");
  EXPECT_EQ(systemctl_.Calls().back(),
            "show --property=LoadState,ActiveState,FreezerState -- mssql-server.service");
}

TEST_F(ServiceManagerTest, MissingUnitFailedQueryAndMissingToolReadAsError) {
  systemctl_.SetUnit("cron", "active");
  EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER"), "错误");
  EXPECT_EQ(manager_->GetServiceInfoText(""), "错误");
  EXPECT_EQ(manager_->GetServiceInfoText("cron"), "运行中");

  const auto noTool = MakeSystemServiceManager({.searchPath = "/nonexistent:relative/bin"});
  EXPECT_EQ(noTool->GetServiceInfoText("cron"), "错误");
  EXPECT_FALSE(noTool->ControlServiceByName("cron", ServiceAction::Start));
  EXPECT_FALSE(noTool->EnumerateServices());

  systemctl_.Break();
  EXPECT_EQ(manager_->GetServiceInfoText("cron"), "错误");
  EXPECT_FALSE(manager_->ControlServiceByName("cron", ServiceAction::Start));
  EXPECT_FALSE(manager_->EnumerateServices());
}

TEST_F(ServiceManagerTest, ControlsBecomeSystemctlVerbsWithoutWaiting) {
  systemctl_.SetUnit("mssql-server", "inactive");
  const std::pair<ServiceAction, const char*> cases[] = {
      {ServiceAction::Start, "--no-block start -- mssql-server.service"},
      {ServiceAction::Stop, "--no-block stop -- mssql-server.service"},
      {ServiceAction::Pause, "--no-block freeze -- mssql-server.service"},
      {ServiceAction::Continue, "--no-block thaw -- mssql-server.service"},
  };
  for (const auto& [action, call] : cases) {
    systemctl_.ClearCalls();
    EXPECT_TRUE(manager_->ControlServiceByName("MSSQLSERVER", action)) << call;
    EXPECT_EQ(systemctl_.Calls(), std::vector<std::string>{call});
  }
  // A unit that does not exist is refused; an empty name never reaches systemctl.
  systemctl_.ClearCalls();
  EXPECT_FALSE(manager_->ControlServiceByName("nosuch", ServiceAction::Start));
  EXPECT_FALSE(manager_->ControlServiceByName("", ServiceAction::Start));
  EXPECT_EQ(systemctl_.Controls(), std::vector<std::string>{"--no-block start -- nosuch.service"});
}

TEST_F(ServiceManagerTest, InterrogateAsksWhetherTheUnitRunsAndShutdownIsNeverSent) {
  systemctl_.SetUnit("mssql-server", "active");
  EXPECT_TRUE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Interrogate));
  EXPECT_EQ(systemctl_.Calls().back(), "is-active --quiet -- mssql-server.service");
  systemctl_.SetUnit("mssql-server", "inactive");
  EXPECT_FALSE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Interrogate));
  EXPECT_FALSE(manager_->ControlServiceByName("nosuch", ServiceAction::Interrogate));

  systemctl_.SetUnit("mssql-server", "active");
  systemctl_.ClearCalls();
  EXPECT_FALSE(manager_->ControlServiceByName("MSSQLSERVER", ServiceAction::Shutdown));
  EXPECT_TRUE(systemctl_.Calls().empty());
}

TEST_F(ServiceManagerTest, TypeAndAcceptedControlsReadAsTheirTexts) {
  systemctl_.SetUnit("mssql-server", "active");
  EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER", ServiceInfo::Type), "专用线程");
  struct Case {
    const char* active;
    bool canStop;
    bool canFreeze;
    const char* text;
  };
  const Case cases[] = {
      {"active", true, false, "允许停止"},
      {"active", false, true, "允许暂停或继续"},
      {"active", true, true, "未知状态：3"},
      {"active", false, false, "禁用或手动"},
      // A service that does not run accepts nothing.
      {"inactive", true, true, "禁用或手动"},
      {"activating", true, true, "禁用或手动"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.active) + " " + std::to_string(c.canStop) +
                 std::to_string(c.canFreeze));
    systemctl_.SetUnit("mssql-server", c.active);
    systemctl_.SetUnitControls("mssql-server", c.canStop, c.canFreeze);
    EXPECT_EQ(manager_->GetServiceInfoText("MSSQLSERVER", ServiceInfo::ControlsAccepted), c.text);
  }
  EXPECT_EQ(systemctl_.Calls().back(),
            "show --property=LoadState,ActiveState,CanStop,CanFreeze -- mssql-server.service");
  for (const ServiceInfo info : {ServiceInfo::Type, ServiceInfo::ControlsAccepted}) {
    EXPECT_EQ(manager_->GetServiceInfoText("nosuch", info), "错误");
    EXPECT_EQ(manager_->GetServiceInfoText("", info), "错误");
  }
}

// The service manager's numbers and their texts, as every platform reads
// them, and the rights of the access kinds.
TEST(ServiceManagerTexts, EachNumberReadsAsItsTextAndCombinationsAsUnknown) {
  const std::pair<std::uint32_t, const char*> states[] = {
      {1, "停止"},     {2, "正在启动"}, {3, "正在停止"}, {4, "运行中"},   {5, "继续"},
      {6, "正在暂停"}, {7, "暂停"},     {0, "未知状态"}, {8, "未知状态"},
  };
  for (const auto& [value, text] : states) EXPECT_EQ(ServiceStateText(value), text) << value;
  const std::pair<std::uint32_t, const char*> types[] = {
      {0x1, "核心驱动"},   {0x2, "文件系统驱动"},    {0x10, "专用线程"},     {0x20, "共享线程"},
      {0x100, "交互线程"}, {0x110, "未知类型：272"}, {0x30, "未知类型：48"}, {0, "未知类型：0"},
  };
  for (const auto& [value, text] : types) EXPECT_EQ(ServiceTypeText(value), text) << value;
  const std::pair<std::uint32_t, const char*> controls[] = {
      {0, "禁用或手动"},  {1, "允许停止"},    {2, "允许暂停或继续"}, {4, "系统控制"},
      {5, "未知状态：5"}, {3, "未知状态：3"}, {8, "未知状态：8"},
  };
  for (const auto& [value, text] : controls) EXPECT_EQ(ServiceControlsText(value), text) << value;

  const std::pair<int, std::optional<std::uint32_t>> rights[] = {
      {1, 0xF003F}, {2, 0x1},          {3, 0x2},          {4, 0x4},
      {5, 0x10},    {0, std::nullopt}, {6, std::nullopt}, {-1, std::nullopt},
  };
  for (const auto& [kind, right] : rights)
    EXPECT_EQ(ServiceManagerAccessRight(kind), right) << kind;
}

TEST_F(ServiceManagerTest, EnumerationNamesMappedUnitsAndReadsTheWholeList) {
  systemctl_.SetUnit("cron", "active", "running", "Regular background program processing daemon");
  systemctl_.SetUnit("mssql-server", "inactive", "running", "SQL Server Database Engine");
  systemctl_.SetUnit("getty@", "inactive");  // a template: no service of its own
  // Far more than a pipe holds at once: the list is read to its end.
  std::string listed;
  for (int i = 0; i < 5000; ++i)
    listed += "extra" + std::to_string(i) + ".service loaded active running Extra service " +
              std::to_string(i) + " with a description long enough to fill the pipe\n";
  listed += "gone.service not-found inactive dead gone.service\n";
  systemctl_.AddListedLines(listed);

  const auto services = manager_->EnumerateServices();
  ASSERT_TRUE(services);
  ASSERT_EQ(services->size(), 5002u);
  EXPECT_EQ((*services)[0].name, "cron");
  EXPECT_EQ((*services)[0].displayName, "Regular background program processing daemon");
  EXPECT_EQ((*services)[1].name, "MSSQLSERVER");
  EXPECT_EQ((*services)[1].displayName, "SQL Server Database Engine");
  EXPECT_EQ(services->back().name, "extra4999");
  EXPECT_EQ(services->back().displayName,
            "Extra service 4999 with a description long enough to fill the pipe");
}

TEST_F(ServiceManagerTest, FindServicesMatchesNameOrDisplayNameOnce) {
  systemctl_.SetUnit("mssql-server", "active", "running", "SQL Server Database Engine");
  systemctl_.SetUnit("mssqlserveradhelper", "inactive", "running", "helper");
  systemctl_.SetUnit("reporting", "inactive", "running", "sql server (mssqlserver)");
  systemctl_.SetUnit("sqlolap", "inactive", "running", "MSSQLSERVER analysis");
  systemctl_.SetUnit("cron", "active", "running", "cron daemon");

  EXPECT_EQ(
      FindServices(*manager_, " mssqlserver ", true),
      (std::vector<std::string>{"MSSQLSERVER", "MSSQLSERVERADHELPER", "REPORTING", "SQLOLAP"}));
  EXPECT_EQ(FindServices(*manager_, "MSSQLSERVER", false),
            (std::vector<std::string>{"MSSQLSERVER", "sqlolap"}));
  EXPECT_EQ(CountServices(*manager_, "MSSQLSERVER", true), 4);
  EXPECT_EQ(FindServices(*manager_, "nothing like it", true), std::vector<std::string>{});
  // An empty or blank search text finds nothing rather than everything.
  EXPECT_FALSE(FindServices(*manager_, "", true));
  EXPECT_EQ(CountServices(*manager_, "   ", true), 0);
}

}  // namespace
}  // namespace veltora
