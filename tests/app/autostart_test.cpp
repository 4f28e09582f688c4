#include "app/autostart.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

constexpr char kExecutable[] = "/opt/veltora/veltora-cli";

// A configuration root with a desktop: its autostart folder exists.
class DesktopAutostartTest : public ::testing::Test {
 protected:
  DesktopAutostartTest() {
    fs::create_directory(folder_);
    place_.configRoot = root_.str();
    place_.executablePath = kExecutable;
  }
  std::string Entry() const { return (folder_ / "veltora.desktop").string(); }

  TempDir root_;
  fs::path folder_ = root_.path() / "autostart";
  AutostartPlace place_;
  RecordingLog log_;
  std::string error_;
};

TEST(DesktopEntryTextTest, ExecLineFollowsTheQuotingRules) {
  // Inside the quotes '"', '`', '$' and '\' take a backslash and '%' is
  // doubled; then every backslash is doubled again for the string value.
  const auto exec = DesktopExecValue(R"(/opt/a b/"q"/$x/`y`/100%/back\slash/it's)", {"serve"});
  ASSERT_TRUE(exec);
  EXPECT_EQ(*exec, R"("/opt/a b/\\"q\\"/\\$x/\\`y\\`/100%%/back\\\\slash/it's" "serve")");

  EXPECT_FALSE(DesktopExecValue("/opt/new\nline/veltora-cli", {}));
  EXPECT_FALSE(DesktopExecValue("/opt/veltora/veltora-cli", {"a\tb"}));
}

TEST(DesktopEntryTextTest, ExecWordsOfHandWrittenEntries) {
  struct Case {
    const char* name;
    std::string text;
    std::optional<std::vector<std::string>> words;
  } cases[] = {
      {"unquoted", "[Desktop Entry]\nExec=/opt/veltora/veltora-cli serve\n",
       std::vector<std::string>{kExecutable, "serve"}},
      {"blanks round the key and CR LF", "[Desktop Entry]\r\nExec = \"/opt/a b/v\"  serve\r\n",
       std::vector<std::string>{"/opt/a b/v", "serve"}},
      {"string escapes and field codes",
       "[Desktop Entry]\nExec=\"/opt/a\\sb/100%%/v\" \"\\\\$HOME\" %f\n",
       std::vector<std::string>{"/opt/a b/100%/v", "$HOME", "%f"}},
      {"first group is not the main one",
       "[Desktop Action x]\nExec=/bin/other\n[Desktop Entry]\n# "
       "Exec=/bin/comment\nExec=/bin/mine\n",
       std::vector<std::string>{"/bin/mine"}},
      {"localised key only", "[Desktop Entry]\nExec[zh_CN]=/bin/other\n", std::nullopt},
      {"no main group", "[Desktop Action x]\nExec=/bin/other\n", std::nullopt},
      {"unclosed quote", "[Desktop Entry]\nExec=\"/opt/a b/v serve\n", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DesktopExecWords(c.text), c.words);
  }
}

TEST_F(DesktopAutostartTest, RegisterReadRemoveWithAwkwardPaths) {
  const char* paths[] = {
      kExecutable,
      "/opt/my backups/veltora-cli",
      R"(/opt/"quoted" and 'single'/veltora-cli)",
      R"(/opt/100% sure/$HOME/`id`/back\slash/veltora-cli)",
      "/opt/会计 账套/veltora-cli",
  };
  const mode_t oldMask = ::umask(077);
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    log_.Clear();
    place_.executablePath = path;
    ASSERT_TRUE(RegisterAutostart(place_, log_, error_)) << error_;
    EXPECT_EQ(log_.lines(), std::vector<std::string>{kWritten});

    struct stat st {};
    ASSERT_EQ(::lstat(Entry().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(testing::FilesIn(folder_.string()), std::vector<std::string>{"veltora.desktop"});
    EXPECT_EQ(DesktopExecWords(ReadFile(Entry())), (std::vector<std::string>{path, "serve"}));

    const AutostartRegistration mine = ReadAutostart(place_);
    EXPECT_TRUE(mine.exists);
    EXPECT_TRUE(mine.namesThisExecutable);
    AutostartPlace moved = place_;
    moved.executablePath = std::string(path) + "2";
    const AutostartRegistration other = ReadAutostart(moved);
    EXPECT_TRUE(other.exists);
    EXPECT_FALSE(other.namesThisExecutable);

    ASSERT_TRUE(RemoveAutostart(place_, log_, error_)) << error_;
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{kWritten, kRemoved}));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry())));
    EXPECT_FALSE(ReadAutostart(place_).exists);
  }
  ::umask(oldMask);
}

TEST_F(DesktopAutostartTest, RegisterReplacesAnotherPathAndNeverWritesThroughALink) {
  const std::string elsewhere = root_ / "someone-elses.desktop";
  WriteFile(elsewhere, "[Desktop Entry]\nExec=/bin/other\n");
  fs::create_symlink(elsewhere, Entry());
  EXPECT_TRUE(ReadAutostart(place_).exists);
  EXPECT_FALSE(ReadAutostart(place_).namesThisExecutable);

  ASSERT_TRUE(RegisterAutostart(place_, log_, error_)) << error_;
  EXPECT_FALSE(fs::is_symlink(Entry()));
  EXPECT_TRUE(ReadAutostart(place_).namesThisExecutable);
  EXPECT_EQ(ReadFile(elsewhere), "[Desktop Entry]\nExec=/bin/other\n");
}

TEST_F(DesktopAutostartTest, UnreadableOrForeignEntriesNameNoExecutable) {
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"another program", "[Desktop Entry]\nExec=/bin/other serve\n"},
      {"this program as a prefix", "[Desktop Entry]\nExec=/opt/veltora/veltora-cli2 serve\n"},
      {"no Exec", "[Desktop Entry]\nName=Veltora\n"},
      {"broken quoting", "[Desktop Entry]\nExec=\"/opt/veltora/veltora-cli serve\n"},
      {"empty file", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Entry(), c.text);
    const AutostartRegistration r = ReadAutostart(place_);
    EXPECT_TRUE(r.exists);
    EXPECT_FALSE(r.namesThisExecutable);
  }
}

TEST_F(DesktopAutostartTest, RemovingAnAbsentEntrySucceeds) {
  ASSERT_TRUE(RemoveAutostart(place_, log_, error_)) << error_;
  EXPECT_EQ(log_.lines(), std::vector<std::string>{kRemoved});
}

TEST_F(DesktopAutostartTest, EntryThatCannotBeRemovedFails) {
  // A folder under the entry's name: unlink refuses it, and it is still there.
  fs::create_directory(Entry());
  WriteFile((fs::path(Entry()) / "keep").string(), "x");
  EXPECT_FALSE(RemoveAutostart(place_, log_, error_));
  EXPECT_FALSE(error_.empty());
  EXPECT_EQ(log_.lines(), std::vector<std::string>{kRemoveFailed});
  EXPECT_TRUE(fs::is_directory(Entry()));
}

TEST_F(DesktopAutostartTest, RelativeOrControlCharacterPathsAreNotRegistered) {
  for (const char* path : {"veltora-cli", "", "/opt/new\nline/veltora-cli"}) {
    SCOPED_TRACE(path);
    log_.Clear();
    place_.executablePath = path;
    EXPECT_FALSE(RegisterAutostart(place_, log_, error_));
    EXPECT_EQ(log_.lines(), std::vector<std::string>{kWriteFailed});
    EXPECT_TRUE(testing::FilesIn(folder_.string()).empty());
  }
}

// A write that stops part-way leaves either the previous entry or none under the
// final name, and no temporary file: the child process may write only 16 bytes
// to any file, as a full disk would allow.
TEST_F(DesktopAutostartTest, WriteThatFailsPartWayLeavesThePreviousState) {
  for (const bool previous : {false, true}) {
    SCOPED_TRACE(previous ? "previous entry" : "no entry before");
    std::string before;
    if (previous) {
      place_.executablePath = "/opt/old/veltora-cli";
      ASSERT_TRUE(RegisterAutostart(place_, log_, error_)) << error_;
      before = ReadFile(Entry());
    }
    place_.executablePath = kExecutable;

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{16, 16};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
      RecordingLog childLog;
      std::string childError;
      const bool ok = RegisterAutostart(place_, childLog, childError);
      ::_exit(!ok && childLog.lines() == std::vector<std::string>{kWriteFailed} ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as a success";

    if (previous) {
      EXPECT_EQ(testing::FilesIn(folder_.string()), std::vector<std::string>{"veltora.desktop"});
      EXPECT_EQ(ReadFile(Entry()), before);
    } else {
      EXPECT_TRUE(testing::FilesIn(folder_.string()).empty());
    }
  }
}

// Without an autostart folder the agent's unit is enabled through the
// systemctl on the PATH given; this one records its calls and keeps the
// unit's state in a file.
class UnitAutostartTest : public ::testing::Test {
 protected:
  UnitAutostartTest() {
    fs::create_directory(bin_);
    const std::string script =
        "#!/bin/sh\n"
        "echo \"$*\" >> " +
        testing::ShellQuoted(Calls()) +
        "\n"
        "cd " +
        testing::ShellQuoted(dir_.str()) +
        " || exit 9\n"
        "case \"$1\" in\n"
        "  enable) [ -e fail-enable ] && exit 1; : > enabled ;;\n"
        "  disable) [ -e keep-enabled ] || rm -f enabled ;;\n"
        "  is-enabled) [ -e enabled ] ;;\n"
        "  *) exit 2 ;;\n"
        "esac\n";
    WriteFile((bin_ / "systemctl").string(), script);
    fs::permissions(bin_ / "systemctl", fs::perms::owner_all);
    place_.configRoot = (dir_.path() / "etc-xdg").string();  // no autostart folder
    place_.executablePath = kExecutable;
    place_.searchPath = "/nonexistent:" + bin_.string();
  }
  std::string Calls() const { return dir_ / "calls"; }
  std::vector<std::string> CallLines() const {
    std::vector<std::string> lines;
    std::string all = ReadFile(Calls());
    for (std::size_t end; (end = all.find('\n')) != std::string::npos; all.erase(0, end + 1))
      lines.push_back(all.substr(0, end));
    return lines;
  }
  void Touch(const char* name) const { WriteFile(dir_ / name, ""); }

  TempDir dir_;
  fs::path bin_ = dir_.path() / "bin";
  AutostartPlace place_;
  RecordingLog log_;
  std::string error_;
};

TEST_F(UnitAutostartTest, EnableReadDisable) {
  EXPECT_FALSE(ReadAutostart(place_).exists);
  ASSERT_TRUE(RegisterAutostart(place_, log_, error_)) << error_;
  const AutostartRegistration r = ReadAutostart(place_);
  EXPECT_TRUE(r.exists);
  EXPECT_TRUE(r.namesThisExecutable);
  ASSERT_TRUE(RemoveAutostart(place_, log_, error_)) << error_;
  EXPECT_FALSE(ReadAutostart(place_).exists);

  EXPECT_EQ(log_.lines(), (std::vector<std::string>{kWritten, kRemoved}));
  EXPECT_EQ(CallLines(),
            (std::vector<std::string>{"is-enabled veltora.service", "enable veltora.service",
                                      "is-enabled veltora.service", "is-enabled veltora.service",
                                      "disable veltora.service", "is-enabled veltora.service",
                                      "is-enabled veltora.service"}));
  // Nothing was written for a desktop that is not there.
  EXPECT_FALSE(fs::exists(place_.configRoot));
}

TEST_F(UnitAutostartTest, FailuresAreReportedAndLogged) {
  struct Case {
    const char* name;
    const char* marker;  // file that makes the fake misbehave, or null
    bool noSystemctl;
    bool registering;
    const char* line;
  } cases[] = {
      {"enable refused", "fail-enable", false, true, kWriteFailed},
      {"disable answers 0 but the unit stays enabled", "keep-enabled", false, false, kRemoveFailed},
      {"no systemctl to enable with", nullptr, true, true, kWriteFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log_.Clear();
    std::error_code ec;
    fs::remove(dir_ / "enabled", ec);
    if (!c.registering) Touch("enabled");
    if (c.marker != nullptr) Touch(c.marker);
    AutostartPlace place = place_;
    if (c.noSystemctl) place.searchPath = "/nonexistent";

    const bool ok = c.registering ? RegisterAutostart(place, log_, error_)
                                  : RemoveAutostart(place, log_, error_);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error_.empty());
    EXPECT_EQ(log_.lines(), std::vector<std::string>{c.line});
    if (c.marker != nullptr) fs::remove(dir_ / c.marker);
  }
}

}  // namespace
}  // namespace veltora
