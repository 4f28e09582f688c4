// The compression stage on Windows: the command file run by the real cmd.exe,
// the real 7zr.exe, names and passwords that cmd.exe treats specially.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>

#include "base/fs_path.h"
#include "base/process.h"
#include "base/wide_text.h"
#include "engine/archiver.h"
#include "engine/archiver_internal.h"
#include "engine/compression_stage.h"
#include "files/local_file_system.h"
#include "files/temp_names.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::FilesIn;
using testing::ReadFile;
using testing::RecordingLog;
using testing::TempDir;
using testing::WriteFile;

const std::string kBin = VELTORA_BIN_DIR;
const CopyMarker kMarker = CopyMarker::For("test", "stage");

Archiver SevenZip() { return {ArchiverKind::kSevenZip, kBin + "\\7zr.exe", ".7z"}; }

// What 7zr.exe extracts from the archive with this password (its standard
// input, as the stage gives it), or nullopt when it fails.
std::optional<std::string> Extract(const std::string& archive, const std::string& password) {
  std::string out;
  const int rc = RunProgram(SevenZip().path, {"e", "-so", "-sccUTF-8", "-spd", "--", archive},
                            password + "\n", [&](std::string_view chunk) { out += chunk; });
  if (rc != 0) return std::nullopt;
  return out;
}

TEST(CompressionWinTest, NamesAndPasswordsReachTheArchiverWholeThroughCmd) {
  // Every character cmd.exe reads specially, in the folder, the name and the
  // password; names beyond the ANSI code page.
  struct Case {
    std::string folder;
    std::string name;
    std::string password;
  };
  const Case cases[] = {
      {"a b", "ACME 1", "p&w|x"},
      {"100%", "%PATH%", "%PATH%!x!"},
      {"!x! y", "!OS!", "<in>out^"},
      {"c^d&e", "a^b&c(d)", "q'uo\"te()\\"},
      {"(p) [q]", "x'y;z,=", "&|<>^%!;$`'\"()"},
      {"账套", "中文账套", "中文密码"},
      {"émoji 😀", "名前😀", "密码😀"},
      {"plain", "ACME", ""},
  };
  TempDir dir;
  LocalFileSystem local;
  FileSystemRouter router{local, nullptr};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder + " / " + c.name + " / " + c.password);
    const std::string folder = dir / c.folder;
    std::filesystem::create_directories(PathFromUtf8(folder));
    const std::string content = "ledger " + c.name + std::string(40, 'x');
    WriteFile(folder + "\\" + c.name + "20240501013000.bak", content);
    WriteFile(folder + "\\" + c.name + "20240502013000.bak", content + "2");

    RecordingLog log;
    const auto outcome =
        RunCompressionStage({3, folder + "\\", c.password, SevenZip(), kMarker, {}}, router, log);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->archived, (std::set<std::string>{c.name + "20240501013000.bak",
                                                        c.name + "20240502013000.bak"}));
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"生成RAR压缩批处理成功！", "执行RAR压缩批处理成功！"}));
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{c.name + "20240501013000.7z",
                                                         c.name + "20240502013000.7z"}))
        << "the sources, the command file and the temporary archives go";

    const std::string archive = folder + "\\" + c.name + "20240502013000.7z";
    EXPECT_EQ(Extract(archive, c.password), content + "2");
    if (!c.password.empty()) {
      EXPECT_EQ(Extract(archive, "wrong"), std::nullopt);
      EXPECT_NE(TestArchive(SevenZip(), archive, ""), 0);
    }
    EXPECT_EQ(TestArchive(SevenZip(), archive, c.password), 0);
  }
}

TEST(CompressionWinTest, CommandFileHoldsNeitherNamesNorThePassword) {
  TempDir dir;
  const std::string batch = dir / "rarys.bat";
  const std::vector<ArchiveTask> tasks = {
      {dir / "中文 & 100%.bak", dir / TemporaryCopyName(kMarker, "x.7z"), dir / "中文 & 100%.7z"}};
  HeldCommandFile held;
  ASSERT_TRUE(WriteArchiveBatch(SevenZip(), 3, batch, tasks, true, held));
  const std::string text = ReadFile(batch);
  for (unsigned char c : text) ASSERT_LT(c, 0x80) << "plain ASCII, whatever the code page";
  EXPECT_EQ(text.find("100%"), std::string::npos);
  EXPECT_NE(text.find("\r\n"), std::string::npos);
  VELTORA_EXPECT_OWNER_ONLY(batch);
  // Held: whoever may add and remove files in the folder still cannot take
  // the file away or put another in its place while it is held.
  EXPECT_FALSE(::MoveFileW(Widen(batch).c_str(), Widen(dir / "moved.bat").c_str()));
  EXPECT_FALSE(::DeleteFileW(Widen(batch).c_str()));
  EXPECT_EQ(ReadFile(batch), text);

  // What cmd.exe would not take whole is refused: a backup outside the
  // command file's folder, a temporary name that is not plain, an archiver
  // path holding a double quote or a line break (no Windows name holds one).
  const std::string temporary = dir / TemporaryCopyName(kMarker, "x.7z");
  struct Bad {
    Archiver archiver;
    ArchiveTask task;
  };
  const Bad bad[] = {
      {SevenZip(), {dir / "sub\\a.bak", temporary, dir / "a.7z"}},
      {SevenZip(), {dir / "a.bak", dir / "t 1.7z", dir / "a.7z"}},
      {SevenZip(), {dir / "a.bak", dir / "t%1.7z", dir / "a.7z"}},
      {{ArchiverKind::kSevenZip, "C:\\a\"b\\7zr.exe", ".7z"},
       {dir / "a.bak", temporary, dir / "a.7z"}},
      {{ArchiverKind::kSevenZip, "C:\\a\nb\\7zr.exe", ".7z"},
       {dir / "a.bak", temporary, dir / "a.7z"}},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.archiver.path + " " + b.task.source + " " + b.task.temporary);
    HeldCommandFile refused;
    EXPECT_FALSE(WriteArchiveBatch(b.archiver, 3, dir / "refused.bat", {b.task}, false, refused));
  }
}

TEST(CompressionWinTest, ArchiverFailureRemovesItsTemporaryArchiveAndTheFileReportsIt) {
  TempDir dir;
  const std::string batch = dir / "rarys.bat";
  WriteFile(dir / "ok.bak", "data");
  const std::string t1 = TemporaryCopyName(kMarker, "m.7z");
  const std::string t2 = TemporaryCopyName(kMarker, "ok.7z");
  const std::vector<ArchiveTask> tasks = {{dir / "missing.bak", dir / t1, dir / "m.7z"},
                                          {dir / "ok.bak", dir / t2, dir / "ok.7z"}};
  auto held = std::make_unique<HeldCommandFile>();
  ASSERT_TRUE(WriteArchiveBatch(SevenZip(), 1, batch, tasks, true, *held));
  std::string output;
  EXPECT_EQ(RunArchiveBatch(SevenZip(), *held, tasks, "pw",
                            [&](std::string_view chunk) { output += chunk; }),
            1);
  EXPECT_EQ(FilesIn(dir.str()), (std::vector<std::string>{t2, "ok.bak", "rarys.bat"}))
      << "the failed one's archive and the list files are gone; the command file is held";
  EXPECT_NE(output.find("@pack 1"), std::string::npos);
  EXPECT_EQ(output.find("@packed 1"), std::string::npos);
  EXPECT_NE(output.find("@packed 2"), std::string::npos);
  EXPECT_EQ(Extract(dir / t2, "pw"), "data") << "the second archiver got its own password";
}

TEST(ProcessWinTest, RunAndWaitAnswersTheExitCodeAndTheOutput) {
  TempDir dir;
  HeldCommandFile batch;
  ASSERT_TRUE(
      batch.Write(dir / "run.bat", "@echo off\r\necho \"%VELTORA_TEST_VALUE%\"\r\nexit 7\r\n"));
  std::string output;
  EXPECT_EQ(RunAndWait(batch, {{"VELTORA_TEST_VALUE", "a&b ^!x!"}},
                       [&](std::string_view chunk) { output += chunk; }),
            7);
  EXPECT_EQ(output, "\"a&b ^!x!\"\r\n");
  EXPECT_EQ(RunAndWait(HeldCommandFile()), -1);
  EXPECT_EQ(RunProgram(dir / "missing.exe", {}), -1);
}

TEST(ProcessWinTest, FedInputNeverPilesUpWhenNobodyReads) {
  // Thousands of cues and no reader: one line waits in the pipe, which never
  // fills, and the first reader afterwards takes that one line.
  TempDir dir;
  HeldCommandFile batch;
  ASSERT_TRUE(batch.Write(dir / "cues.bat",
                          "@echo off\r\nfor /l %%i in (1,1,3000) do echo @pack %%i\r\n"
                          "set /p got=\r\necho got [%got%]\r\nexit 0\r\n"));
  const std::string line(40, 'p');
  std::string output;
  EXPECT_EQ(RunAndWaitFeeding(batch, {}, "@pack ", line + "\r\n",
                              [&](std::string_view chunk) { output += chunk; }),
            0);
  EXPECT_NE(output.find("@pack 3000"), std::string::npos);
  EXPECT_NE(output.find("got [" + line + "]"), std::string::npos);
}

TEST(ProcessWinTest, TheCarriedArchiverIsWrittenBesideTheExecutable) {
  TempDir dir;
  const auto archiver = ChooseArchiver(dir.str(), "");
  ASSERT_TRUE(archiver);
  EXPECT_EQ(archiver->kind, ArchiverKind::kSevenZip);
  EXPECT_EQ(archiver->path, dir / "7zr.exe");
  EXPECT_EQ(ReadFile(archiver->path), ReadFile(SevenZip().path));
  EXPECT_FALSE(internal::ExtractResourceFile("no-such", "file", dir / "x.exe"));
  EXPECT_FALSE(internal::ExtractResourceFile("sevenzip", "file", ""));
}

}  // namespace
}  // namespace veltora
