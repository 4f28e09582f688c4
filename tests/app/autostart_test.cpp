#include "app/autostart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RecordingLog;
using testing::TempDir;
using testing::WriteFile;

constexpr char kWritten[] = "写入自动运行成功，下次应用程序将会自动运行！";
constexpr char kWriteFailed[] = "写入自动运行失败，下次应用程序将不会自动运行！";
constexpr char kRemoved[] = "取消自动运行成功，下次应用程序将不会自动运行！";
constexpr char kRemoveFailed[] = "取消自动运行失败，下次应用程序仍然会自动运行！";

// The agent's unit is enabled through the systemctl on the PATH given. This
// one records its calls and answers as systemctl does: is-enabled prints the
// unit file's state on standard output (nothing for a unit that is not
// installed) and exits 0 only for the states that start something; its other
// complaints go to standard error. Files in its folder set the scene:
//   state          the unit file's state (absent: not installed)
//   refuse-enable  enable fails, printing nothing on standard output
//   keep-state     enable and disable answer 0 but change nothing
class UnitAutostartTest : public ::testing::Test {
 protected:
  UnitAutostartTest() {
    fs::create_directory(bin_);
    // The fake works in its own folder: the calls file and the scene files.
    const std::string script =
        "#!/bin/sh\n"
        "cd " +
        testing::ShellQuoted(dir_.str()) +
        " || exit 9\n"
        "echo \"$*\" >> calls\n"
        "case \"$1\" in\n"
        "  enable)\n"
        "    [ -e refuse-enable ] && { echo 'Failed to enable unit' >&2; exit 1; }\n"
        "    [ -e state ] || { echo 'Unit file does not exist' >&2; exit 1; }\n"
        "    [ -e keep-state ] || echo enabled > state ;;\n"
        "  disable)\n"
        "    [ -e state ] || { echo 'Unit file does not exist' >&2; exit 1; }\n"
        "    [ -e keep-state ] || echo disabled > state ;;\n"
        "  is-enabled)\n"
        "    [ -e state ] || { echo 'No such file or directory' >&2; exit 1; }\n"
        "    s=$(cat state); echo \"$s\"\n"
        "    case \"$s\" in enabled|enabled-runtime|static|alias) exit 0 ;; *) exit 1 ;; esac ;;\n"
        "  *) exit 2 ;;\n"
        "esac\n";
    WriteFile((bin_ / "systemctl").string(), script);
    fs::permissions(bin_ / "systemctl", fs::perms::owner_all);
    place_.executablePath = "/usr/bin/veltora-cli";
    place_.searchPath = "/nonexistent:" + bin_.string();
  }
  std::vector<std::string> CallLines() const {
    std::vector<std::string> lines;
    std::string all = ReadFile(dir_ / "calls");
    for (std::size_t end; (end = all.find('\n')) != std::string::npos; all.erase(0, end + 1))
      lines.push_back(all.substr(0, end));
    return lines;
  }
  void Set(const char* name, const std::string& text = "") const { WriteFile(dir_ / name, text); }
  void Unset(const char* name) const { fs::remove(dir_ / name); }

  TempDir dir_;
  fs::path bin_ = dir_.path() / "bin";
  AutostartPlace place_;
  RecordingLog log_;
  std::string error_;
};

TEST_F(UnitAutostartTest, EnableReadDisable) {
  Set("state", "disabled\n");
  EXPECT_FALSE(ReadAutostart(place_).exists);
  ASSERT_TRUE(RegisterAutostart(place_, log_, error_)) << error_;
  const AutostartRegistration r = ReadAutostart(place_);
  EXPECT_TRUE(r.exists);
  EXPECT_TRUE(r.namesThisExecutable);
  ASSERT_TRUE(RemoveAutostart(place_, log_, error_)) << error_;
  EXPECT_FALSE(ReadAutostart(place_).exists);

  EXPECT_EQ(log_.lines(), (std::vector<std::string>{kWritten, kRemoved}));
  // One word each, the unit's name a single argument: no shell in between.
  EXPECT_EQ(CallLines(),
            (std::vector<std::string>{"is-enabled veltora.service", "enable veltora.service",
                                      "is-enabled veltora.service", "is-enabled veltora.service",
                                      "disable veltora.service", "is-enabled veltora.service",
                                      "is-enabled veltora.service"}));
}

// Only a unit that starts at the next boot is registered; is-enabled's exit
// status alone would also count a static or runtime-only unit.
TEST_F(UnitAutostartTest, OnlyAnEnabledUnitCounts) {
  struct Case {
    const char* state;  // null: no unit file installed
    bool registered;
  } cases[] = {{"enabled", true},   {"enabled-runtime", false}, {"static", false},
               {"disabled", false}, {"masked", false},          {"alias", false},
               {nullptr, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state != nullptr ? c.state : "not installed");
    if (c.state != nullptr) {
      Set("state", std::string(c.state) + "\n");
    } else {
      Unset("state");
    }
    const AutostartRegistration r = ReadAutostart(place_);
    EXPECT_EQ(r.exists, c.registered);
    EXPECT_EQ(r.namesThisExecutable, c.registered);
  }
  AutostartPlace noTool = place_;
  noTool.searchPath = "/nonexistent";
  Set("state", "enabled\n");
  EXPECT_FALSE(ReadAutostart(noTool).exists);
}

// Every failure is logged with the window's line and comes back with a reason
// that says what systemctl answered and the state the unit is in.
TEST_F(UnitAutostartTest, FailuresSayWhy) {
  struct Case {
    const char* name;
    const char* state;   // the unit file's state before, null: not installed
    const char* marker;  // a scene file, or null
    bool noSystemctl;
    bool registering;
    std::vector<std::string> reasonParts;
    const char* line;
  } cases[] = {
      {"enable refused",
       "disabled",
       "refuse-enable",
       false,
       true,
       {"systemctl enable veltora.service", "answered 1", "the unit is disabled"},
       kWriteFailed},
      {"unit not installed",
       nullptr,
       nullptr,
       false,
       true,
       {"answered 1", "is it installed?", "veltora.service"},
       kWriteFailed},
      {"masked unit",
       "masked",
       "keep-state",
       false,
       true,
       {"does not name this executable", "the unit is masked"},
       kWriteFailed},
      {"no systemctl to enable with",
       "disabled",
       nullptr,
       true,
       true,
       {"no systemctl on the PATH", "/nonexistent"},
       kWriteFailed},
      {"disable answers 0 but the unit stays enabled",
       "enabled",
       "keep-state",
       false,
       false,
       {"still there", "the unit is enabled"},
       kRemoveFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log_.Clear();
    if (c.state != nullptr) {
      Set("state", std::string(c.state) + "\n");
    } else {
      Unset("state");
    }
    if (c.marker != nullptr) Set(c.marker);
    AutostartPlace place = place_;
    if (c.noSystemctl) place.searchPath = "/nonexistent";

    const bool ok = c.registering ? RegisterAutostart(place, log_, error_)
                                  : RemoveAutostart(place, log_, error_);
    EXPECT_FALSE(ok);
    for (const auto& part : c.reasonParts)
      EXPECT_NE(error_.find(part), std::string::npos) << error_;
    EXPECT_EQ(log_.lines(), std::vector<std::string>{c.line});
    if (c.marker != nullptr) Unset(c.marker);
  }
}

// Nothing registered afterwards is what removing promises: a unit that is not
// installed (systemctl disable fails) and a machine without systemctl both
// have none.
TEST_F(UnitAutostartTest, RemovingWhatIsNotThereSucceeds) {
  Unset("state");
  EXPECT_TRUE(RemoveAutostart(place_, log_, error_)) << error_;
  AutostartPlace noTool = place_;
  noTool.searchPath = "/nonexistent";
  EXPECT_TRUE(RemoveAutostart(noTool, log_, error_)) << error_;
  EXPECT_EQ(log_.lines(), (std::vector<std::string>{kRemoved, kRemoved}));
}

}  // namespace
}  // namespace veltora
