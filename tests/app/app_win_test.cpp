// The application shell's Windows halves under Wine: the run log in GBK, the
// folder locks, the administrator check and the Run value in the registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/autostart.h"
#include "app/power_control.h"
#include "app/run_log.h"
#include "app/single_instance.h"
#include "app/startup_checks.h"
#include "base/fs_path.h"
#include "base/wide_text.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::FixedClock;
using testing::ReadFile;
using testing::RecordingLog;
using testing::TempDir;
using testing::WriteFile;

TEST(RunLogWinTest, LinesAreGbkWithCrLfAndACharacterGbkLacksBecomesAQuestionMark) {
  TempDir dir;
  const std::string path = dir / "程序运行日志.txt";
  FixedClock clock(LocalTime{2024, 5, 1, 13, 5, 9, 3});
  ASSERT_TRUE(AppendRunLog(path, "账套😀x", false, true, clock));
  ASSERT_TRUE(AppendRunLog(path, "b", false, false, clock));
  EXPECT_EQ(ReadFile(path),
            "\xD4\xDA"
            "2024-05-01 13:05:09 \xD6\xDC\xC8\xFD :\xD5\xCB\xCC\xD7?x\r\nb\r\n");
  // A read-only log still takes the line; startNew empties it first.
  ASSERT_TRUE(SetFileAttributesW(Widen(path).c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(AppendRunLog(path, "new", true, false, clock));
  EXPECT_EQ(ReadFile(path), "new\r\n");
}

TEST(RunLogWinTest, TheFirstLineStampIsReadBackFromGbk) {
  TempDir dir;
  const std::string path = dir / "log.txt";
  FixedClock old(LocalTime{2020, 1, 1, 0, 0, 0, 3});
  ASSERT_TRUE(AppendRunLog(path, "first", false, true, old));
  FixedClock now(LocalTime{2024, 5, 1, 0, 0, 0, 3});
  const auto unknownBirth = [](const std::string&) { return kUnreadableTime; };
  EXPECT_TRUE(RotateRunLog(path, now, unknownBirth));
  EXPECT_FALSE(std::filesystem::exists(PathFromUtf8(path)))
      << "the stamp in GBK tells the log's age";
}

TEST(RunLogWinTest, UptimeAndIdleAreDurationTexts) {
  for (const std::string& text : {UptimeText(), IdleText()}) {
    SCOPED_TRACE(text);
    EXPECT_NE(text.find("时"), std::string::npos);
    EXPECT_NE(text.find("秒"), std::string::npos);
  }
  EXPECT_NE(UptimeText(), "0时0分0秒");
}

TEST(FolderLockWinTest, EachLockHasOneHolderUntilItGoes) {
  TempDir dir;
  const std::string folder = dir.str();
  // The instance lock is the folder's mutex whatever the spelling of its path.
  struct Case {
    std::string_view lock;
    std::string secondPath;
  };
  std::string upper = folder;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const Case cases[] = {{kInstanceLockFileName, upper + "\\"},
                        {kInstanceLockFileName, folder},
                        {kRunLockFileName, folder}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lock) + " " + c.secondPath);
    std::string error;
    auto first = AppFolderLock::TryAcquire(folder, c.lock, error);
    ASSERT_TRUE(first) << error;
    bool held = false;
    EXPECT_FALSE(AppFolderLock::TryAcquire(c.secondPath, c.lock, error, &held));
    EXPECT_TRUE(held);
    EXPECT_EQ(error,
              "another backup or agent is running on the application folder " + c.secondPath);
    first.reset();
    EXPECT_TRUE(AppFolderLock::TryAcquire(c.secondPath, c.lock, error)) << error;
  }
  // The two locks are independent: a backup beside a serving agent.
  std::string error;
  auto instance = AppFolderLock::TryAcquire(folder, kInstanceLockFileName, error);
  auto run = AppFolderLock::TryAcquire(folder, kRunLockFileName, error);
  EXPECT_TRUE(instance && run);
  std::unique_ptr<AppFolderLock> lock;
  std::string detail;
  bool fault = true;
  EXPECT_EQ(ClaimSingleInstance(folder, lock, detail, fault), "您好，程序已经运行，无需重复运行！");
  EXPECT_FALSE(fault);
}

// A second name of another file (a hard link) or a folder where the run log
// or the run lock belongs was planted: the log takes no line there and leaves
// the other file's bytes alone; the lock is refused as not ours.
TEST(PlantedFilesWinTest, TheRunLogAndTheRunLockRefuseWhatIsNotTheirs) {
  TempDir dir;
  const std::string victim = dir / "victim.txt";
  WriteFile(victim, "secret\r\n");
  const std::string log = dir / "程序运行日志.txt";
  ASSERT_TRUE(::CreateHardLinkW(Widen(log).c_str(), Widen(victim).c_str(), nullptr));
  FixedClock clock(LocalTime{2024, 5, 1, 13, 5, 9, 3});
  EXPECT_FALSE(AppendRunLog(log, "line", false, true, clock));
  EXPECT_FALSE(AppendRunLog(log, "line", true, true, clock));
  EXPECT_EQ(ReadFile(victim), "secret\r\n");

  const std::string lock = dir / kRunLockFileName;
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "folder" : "hard link");
    std::filesystem::remove(PathFromUtf8(lock));
    if (folder) {
      ASSERT_TRUE(::CreateDirectoryW(Widen(lock).c_str(), nullptr));
    } else {
      ASSERT_TRUE(::CreateHardLinkW(Widen(lock).c_str(), Widen(victim).c_str(), nullptr));
    }
    std::string error;
    bool held = true;
    bool foreign = false;
    EXPECT_FALSE(AppFolderLock::TryAcquire(dir.str(), kRunLockFileName, error, &held, &foreign));
    EXPECT_TRUE(foreign) << error;
    EXPECT_FALSE(held);
    EXPECT_NE(error.find("the lock file is not this program's: "), std::string::npos) << error;
  }
  EXPECT_EQ(ReadFile(victim), "secret\r\n");
}

TEST(AdministratorWinTest, TheAdministratorsGroupCountsAlsoWhenItIsForDenialOnly) {
  ASSERT_TRUE(IsAdministrator()) << "Wine's user is an administrator";
  EXPECT_EQ(RefuseNonAdministrator(), "");

  // A token that carries the group for denial only, as User Account Control
  // filters it at logon, impersonated by this thread: the Run value's start
  // must not be refused.
  HANDLE process = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                       0, 0, 0, 0, 0, 0, &administrators));
  SID_AND_ATTRIBUTES disable{administrators, 0};
  HANDLE filtered = nullptr;
  const bool made =
      CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr, &filtered);
  FreeSid(administrators);
  CloseHandle(process);
  ASSERT_TRUE(made);
  HANDLE impersonation = nullptr;
  ASSERT_TRUE(DuplicateToken(filtered, SecurityImpersonation, &impersonation));
  CloseHandle(filtered);
  ASSERT_TRUE(SetThreadToken(nullptr, impersonation));
  const bool filteredIsAdministrator = IsAdministrator();
  const std::string refusal = RefuseNonAdministrator();
  RevertToSelf();
  CloseHandle(impersonation);
  EXPECT_TRUE(filteredIsAdministrator);
  EXPECT_EQ(refusal, "");
}

class AutostartWinTest : public ::testing::Test {
 protected:
  void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VeltoraTest"); }

  AutostartPlace place_{"SOFTWARE\\VeltoraTest\\Run", "C:\\Tools\\veltora.exe", "", ""};
  RecordingLog log_;
  std::string error_;
};

TEST_F(AutostartWinTest, TheRunValueIsWrittenReadAndRemoved) {
  // Removing what is not there succeeds, with or without the key.
  EXPECT_TRUE(RemoveAutostart(place_, log_, error_)) << error_;
  EXPECT_FALSE(ReadAutostart(place_).exists);

  ASSERT_TRUE(RegisterAutostart(place_, log_, error_)) << error_;
  EXPECT_EQ(ReadRegistryText(2, place_.configRoot, "Veltora"), "C:\\Tools\\veltora.exe");
  EXPECT_TRUE(ReadAutostart(place_).namesThisExecutable);

  // Letter case does not count; another path is another program's entry.
  AutostartPlace other = place_;
  other.executablePath = "c:\\TOOLS\\VELTORA.EXE";
  EXPECT_TRUE(ReadAutostart(other).namesThisExecutable);
  other.executablePath = "D:\\Moved\\veltora.exe";
  EXPECT_TRUE(ReadAutostart(other).exists);
  EXPECT_FALSE(ReadAutostart(other).namesThisExecutable);

  EXPECT_TRUE(RemoveAutostart(place_, log_, error_)) << error_;
  EXPECT_FALSE(RegistryValueExists(2, place_.configRoot, "Veltora"));
  EXPECT_EQ(log_.lines(),
            (std::vector<std::string>{"取消自动运行成功，下次应用程序将不会自动运行！",
                                      "写入自动运行成功，下次应用程序将会自动运行！",
                                      "取消自动运行成功，下次应用程序将不会自动运行！"}));

  place_.executablePath = "veltora.exe";
  EXPECT_FALSE(RegisterAutostart(place_, log_, error_)) << "a relative path starts nothing";
  EXPECT_EQ(log_.lines().back(), "写入自动运行失败，下次应用程序将不会自动运行！");
}

TEST_F(AutostartWinTest, RegistryOperationsReadEveryKindAndRefuseOtherRoots) {
  const std::string key = "SOFTWARE\\VeltoraTest\\Kinds";
  ASSERT_TRUE(WriteRegistryString(2, key, "text", "账套 a"));
  HKEY raw = nullptr;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VeltoraTest\\Kinds", 0, KEY_SET_VALUE, &raw),
      ERROR_SUCCESS);
  const DWORD number = 1219;
  RegSetValueExW(raw, L"number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  const BYTE bytes[600] = {};
  RegSetValueExW(raw, L"bytes", 0, REG_BINARY, bytes, sizeof(bytes));
  RegCloseKey(raw);
  struct Case {
    int root;
    std::string name;
    std::string text;
    bool exists;
  };
  const Case cases[] = {{2, "text", "账套 a", true}, {2, "number", "1219", true},
                        {2, "bytes", "512", true},   {2, "absent", "", false},
                        {5, "text", "", false},      {-1, "text", "", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " " + std::to_string(c.root));
    EXPECT_EQ(ReadRegistryText(c.root, key, c.name), c.text);
    EXPECT_EQ(RegistryValueExists(c.root, key, c.name), c.exists);
  }
  EXPECT_FALSE(WriteRegistryString(6, key, "text", "x"));
  EXPECT_FALSE(DeleteRegistryValue(6, key, "text"));
  EXPECT_TRUE(DeleteRegistryValue(2, key, "text"));
  EXPECT_FALSE(RegistryValueExists(2, key, "text"));
}

// Index 5 is HKEY_DYN_DATA: where the system has that root, the helpers reach
// it; where it has not, they fail as under any key that cannot be opened.
TEST_F(AutostartWinTest, RootIndexFiveIsTheDynamicDataRoot) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_DYN_DATA, L"VeltoraTest", 0, nullptr, REG_OPTION_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    EXPECT_FALSE(WriteRegistryString(5, "VeltoraTest", "text", "x"));
    EXPECT_EQ(ReadRegistryText(5, "VeltoraTest", "text"), "");
    return;
  }
  const std::wstring text = L"动态";
  RegSetValueExW(raw, L"text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(raw);
  EXPECT_TRUE(RegistryValueExists(5, "VeltoraTest", "text"));
  EXPECT_EQ(ReadRegistryText(5, "VeltoraTest", "text"), "动态");
  EXPECT_FALSE(RegistryValueExists(2, "VeltoraTest", "text")) << "not the machine's root";
  EXPECT_TRUE(DeleteRegistryValue(5, "VeltoraTest", "text"));
  EXPECT_FALSE(RegistryValueExists(5, "VeltoraTest", "text"));
  RegDeleteKeyW(HKEY_DYN_DATA, L"VeltoraTest");
}

// Wine accepts the real calls: the keep-awake request and its release, and a
// wake timer that resumes the system, set and moved.
TEST(PowerControlWinTest, TheRealCallsAreAccepted) {
  const auto power = MakeSystemPowerControl();
  std::string error;
  EXPECT_TRUE(power->KeepAwake(error)) << error;
  power->Release();
  const auto tomorrow = std::chrono::system_clock::now() + std::chrono::hours(24);
  EXPECT_TRUE(power->SetWakeTimer(ToLocalTime(tomorrow), error)) << error;
  EXPECT_TRUE(power->SetWakeTimer(ToLocalTime(tomorrow + std::chrono::hours(1)), error)) << error;
  power->CancelWakeTimer();
}

}  // namespace
}  // namespace veltora
