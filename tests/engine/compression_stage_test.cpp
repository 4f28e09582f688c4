#include "engine/compression_stage.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "engine/archiver.h"
#include "engine/process.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RecordingLog;
using testing::TempDir;
using testing::WriteFile;

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs 7-Zip on an archive with exactly this password (none when empty); the
// exit code.
int SevenZip(const std::string& command, const std::string& archive, const std::string& password,
             const std::string& redirect = ">/dev/null 2>&1") {
  const std::string pw = password.empty() ? "" : " " + Quoted("-p" + password);
  const std::string line =
      "7zz " + command + pw + " -- " + Quoted(archive) + " </dev/null " + redirect;
  const int rc = std::system(line.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Sets PATH for one test and puts it back.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& value) : old_(ProcessSearchPath()) {
    ::setenv("PATH", value.c_str(), 1);
  }
  ~ScopedPath() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

const Archiver kSevenZip{ArchiverKind::kSevenZip, "/usr/bin/7zz", ".7z"};

class CompressionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindProgramOnPath("7zz", ProcessSearchPath()).empty())
      VELTORA_SKIP_OR_FAIL("7-Zip (Debian package 7zip, command 7zz) is not installed");
  }

  std::optional<std::string> Run(const std::string& folder, const std::string& password,
                                 int level = 1) {
    return RunCompressionStage({level, folder + "/", password, dir_ / "no-exe"}, log_);
  }

  std::string Folder(const std::string& name) {
    const std::string folder = dir_ / name;
    fs::create_directories(folder);
    return folder;
  }

  TempDir dir_;
  RecordingLog log_;
};

TEST_F(CompressionTest, PasswordsReachSevenZipByteForByte) {
  const std::string passwords[] = {"p&w|x",
                                   "<in>out^",
                                   "%PATH%!x!",
                                   "a;b$HOME`id`$(id)",
                                   "q'uo\"te()\\",
                                   "&|<>^%!;$`'\"()",
                                   "中文密码",
                                   std::string(31, 'z'),
                                   "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一",
                                   ""};
  int i = 0;
  for (const auto& password : passwords) {
    SCOPED_TRACE(password);
    log_.Clear();
    // Blanks and a quote in the folder and the name must reach 7-Zip whole.
    const std::string folder = Folder("bak " + std::to_string(i++) + " o'k");
    const std::string content = "ledger " + password + std::string(5000, 'x');
    WriteFile(folder + "/ACME 1" + "20240501013000.bak", content);

    ASSERT_EQ(Run(folder, password), std::optional<std::string>(".7z"));
    EXPECT_EQ(log_.lines(),
              (std::vector<std::string>{"生成RAR压缩批处理成功！", "执行RAR压缩批处理成功！"}));

    const std::string archive = folder + "/ACME 120240501013000.7z";
    EXPECT_FALSE(fs::exists(folder + "/ACME 120240501013000.bak")) << "the source goes";
    EXPECT_FALSE(fs::exists(folder + "/rarys.bat")) << "the command file goes";
    ASSERT_TRUE(fs::exists(archive));
    EXPECT_EQ(SevenZip("t", archive, password), 0);
    if (!password.empty()) {
      EXPECT_NE(SevenZip("t", archive, "wrong"), 0);
      EXPECT_NE(SevenZip("l", archive, ""), 0) << "names are encrypted too";
    }
    const std::string extracted = dir_ / "out.bin";
    ASSERT_EQ(SevenZip("e -so", archive, password, ">" + Quoted(extracted) + " 2>/dev/null"), 0);
    EXPECT_EQ(ReadFile(extracted), content);
  }
}

TEST_F(CompressionTest, RefusalsEndTheJobKeepTheBackupsAndRemoveALeftover) {
  const std::string folder = Folder("bak");
  for (const std::string& password :
       {std::string(32, 'a'), std::string("two words"), std::string("a-b"), std::string("x?"),
        std::string("a+b"), std::string("a/b"), std::string("a*b"), std::string("line\nfeed")}) {
    SCOPED_TRACE(password);
    log_.Clear();
    WriteFile(folder + "/ACME20240501013000.bak", "x");
    WriteFile(folder + "/rarys.bat", "leftover of a run that was cut off");
    EXPECT_FALSE(Run(folder, password));
    EXPECT_EQ(log_.lines(), std::vector<std::string>{"生成RAR压缩批处理失败，压缩失败！"});
    EXPECT_TRUE(fs::exists(folder + "/ACME20240501013000.bak"));
    EXPECT_FALSE(fs::exists(folder + "/rarys.bat")) << "a leftover never stays";
  }

  // No backup file in the folder: the same line, no command file.
  log_.Clear();
  const std::string empty = Folder("empty");
  WriteFile(empty + "/ACME20240501013000.7z", "an earlier archive");
  EXPECT_FALSE(Run(empty, "pw"));
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"生成RAR压缩批处理失败，压缩失败！"});
  EXPECT_FALSE(fs::exists(empty + "/rarys.bat"));
}

TEST_F(CompressionTest, FailingArchiverKeepsItsBackupAndTheOthersAreArchived) {
  const std::string folder = Folder("bak");
  WriteFile(folder + "/ACME20240501013000.bak", "first run");
  WriteFile(folder + "/ACME20240502013000.bak", "second run");
  // A folder where the first archive must go: 7-Zip cannot write it.
  fs::create_directories(folder + "/ACME20240501013000.7z");

  // The command file reports the failure in its exit status...
  ASSERT_TRUE(WriteArchiveBatch(kSevenZip, 3, folder + "/rarys.bat", folder, folder, "*.bak", "k"));
  EXPECT_EQ(RunAndWait(folder + "/rarys.bat", {{kPasswordVariable, "k"}}), 1);
  EXPECT_FALSE(fs::exists(folder + "/rarys.bat"));
  EXPECT_TRUE(fs::exists(folder + "/ACME20240501013000.bak")) << "kept for a later run";
  EXPECT_FALSE(fs::exists(folder + "/ACME20240502013000.bak"));
  EXPECT_EQ(SevenZip("t", folder + "/ACME20240502013000.7z", "k"), 0);

  // ...while the stage, as documented, only reports that it ran.
  EXPECT_EQ(Run(folder, "k"), std::optional<std::string>(".7z"));
  EXPECT_EQ(log_.lines().back(), "执行RAR压缩批处理成功！");
  EXPECT_TRUE(fs::exists(folder + "/ACME20240501013000.bak"));
  EXPECT_FALSE(fs::exists(folder + "/rarys.bat"));
}

TEST_F(CompressionTest, WithoutAnyArchiverTheJobEnds) {
  const std::string folder = Folder("bak");
  WriteFile(folder + "/ACME20240501013000.bak", "x");
  {
    ScopedPath noSevenZip(dir_ / "no-such-bin");
    EXPECT_FALSE(ChooseArchiver(dir_ / "no-exe"));
    EXPECT_FALSE(Run(folder, ""));
  }
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"释放Rar.exe文件失败，数据库压缩失败！"});
  EXPECT_TRUE(fs::exists(folder + "/ACME20240501013000.bak"));
}

TEST_F(CompressionTest, LevelZeroDoesNothing) {
  const std::string folder = Folder("bak");
  WriteFile(folder + "/ACME20240501013000.bak", "x");
  EXPECT_EQ(Run(folder, "pw", 0), std::optional<std::string>(".bak"));
  EXPECT_TRUE(log_.lines().empty());
  EXPECT_EQ(fs::directory_iterator(folder)->path().filename(), "ACME20240501013000.bak");
  EXPECT_EQ(ArchiveMask(0, kSevenZip), "*.bak");
  EXPECT_EQ(ArchiveMask(3, kSevenZip), "*.7z");
}

// The RAR console archiver cannot run here; a stand-in beside the executable
// records the arguments it receives, one per line.
TEST(RarArchiverTest, DocumentedLineWithThePasswordWhole) {
  TempDir dir;
  const std::string exe = dir / "exe";
  const std::string folder = dir / "Backup Files";
  fs::create_directories(exe);
  fs::create_directories(folder);
  const std::string argsFile = dir / "args.txt";
  WriteFile(exe + "/rar", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                              Quoted(argsFile) + "\n");
  fs::permissions(exe + "/rar", fs::perms::owner_all);
  WriteFile(folder + "/A B20240501013000.bak", "x");

  const auto archiver = ChooseArchiver(exe);
  ASSERT_TRUE(archiver);
  EXPECT_EQ(archiver->kind, ArchiverKind::kRar);
  EXPECT_EQ(archiver->path, exe + "/rar");

  const std::string password = "p&|<>^%!;$`'\"()中";
  RecordingLog log;
  EXPECT_EQ(RunCompressionStage({4, folder + "/", password, exe}, log),
            std::optional<std::string>(".rar"));
  EXPECT_EQ(ReadFile(argsFile),
            "a\n" + folder + "/A B20240501013000.rar\n-ac\n-av\n-df\n-dh\n-k\n" + "-m4\n-hp" +
                password + "\n-ep1\n-r\n" + folder + "/A B20240501013000.bak\n");

  // Without a password the -hp piece is left out.
  EXPECT_EQ(RunCompressionStage({5, folder + "/", "", exe}, log),
            std::optional<std::string>(".rar"));
  EXPECT_EQ(ReadFile(argsFile), "a\n" + folder +
                                    "/A B20240501013000.rar\n-ac\n-av\n-df\n-dh\n-k\n" +
                                    "-m5\n-ep1\n-r\n" + folder + "/A B20240501013000.bak\n");
}

// What a 7-Zip process can see: the password arrives on its standard input
// only, never in its arguments (world-readable in /proc) or its environment.
TEST(SevenZipLineTest, PasswordOnlyOnStandardInput) {
  TempDir dir;
  const std::string folder = dir / "bak";
  fs::create_directories(folder);
  WriteFile(folder + "/A.bak", "a");
  const std::string seen = dir / "seen.txt";
  const std::string fake = dir / "fake7z";
  WriteFile(fake, "#!/bin/sh\n{ printf 'args:%s\\n' \"$*\"; env; printf 'stdin:'; cat; } > " +
                      Quoted(seen) + "\n");
  fs::permissions(fake, fs::perms::owner_all);
  const std::string password = "s3cr&t'\"$x";
  const Archiver archiver{ArchiverKind::kSevenZip, fake, ".7z"};
  RecordingLog log;
  EXPECT_EQ(RunCompressionStage({2, folder + "/", password, "", archiver}, log),
            std::optional<std::string>(".7z"));
  const std::string text = ReadFile(seen);
  const auto stdinAt = text.find("stdin:");
  ASSERT_NE(stdinAt, std::string::npos) << text;
  EXPECT_EQ(text.substr(stdinAt), "stdin:" + password + "\n");
  EXPECT_EQ(text.substr(0, stdinAt).find("s3cr&t"), std::string::npos) << text;
  EXPECT_NE(text.find("args:a -t7z -mx3 -mhe=on -p -sdel -y -bd -- "), std::string::npos) << text;
}

TEST(WriteArchiveBatchTest, OwnerOnlyFileWithoutThePassword) {
  TempDir dir;
  const std::string folder = dir / "bak";
  fs::create_directories(folder);
  WriteFile(folder + "/A20240501013000.bak", "a");
  WriteFile(folder + "/rarys.bat", "old");
  fs::permissions(folder + "/rarys.bat", fs::perms::all);
  // A link is never handed to an archiver that deletes what it archived.
  WriteFile(dir / "elsewhere.bak", "not ours");
  fs::create_symlink(dir / "elsewhere.bak", folder + "/link.bak");

  ASSERT_TRUE(
      WriteArchiveBatch(kSevenZip, 3, folder + "/rarys", folder, folder, "*.bak", " s3cr&t "));
  EXPECT_EQ(ModeOf(folder + "/rarys.bat"), 0600u);
  const std::string text = ReadFile(folder + "/rarys.bat");
  EXPECT_EQ(text.find("s3cr&t"), std::string::npos) << text;
  EXPECT_EQ(text.find("link.bak"), std::string::npos) << text;
  EXPECT_EQ(
      text,
      "del() { rm -f -- \"$1\"; }\n"
      "veltora_archive_password=${VELTORA_ARCHIVE_PASSWORD-}; unset VELTORA_ARCHIVE_PASSWORD\n"
      "status=0\n"
      "printf '%s\\n' \"$veltora_archive_password\" | '/usr/bin/7zz' a -t7z -mx5 -mhe=on -p "
      "-sdel -y -bd -- '" +
          folder + "/A20240501013000.7z' '" + folder +
          "/A20240501013000.bak' || status=1\n"
          "del '" +
          folder + "/rarys.bat'\n" + "exit $status\n");
}

TEST(WriteArchiveBatchTest, LevelsAndRefusals) {
  TempDir dir;
  const std::string folder = dir / "bak";
  fs::create_directories(folder);
  WriteFile(folder + "/A.bak", "a");
  const struct {
    int level;
    const char* expected;
  } levels[] = {{1, " -mx1 "}, {2, " -mx3 "},  {3, " -mx5 "}, {4, " -mx7 "},
                {5, " -mx9 "}, {-1, " -mx5 "}, {6, " -mx5 "}};
  for (const auto& c : levels) {
    SCOPED_TRACE(c.level);
    ASSERT_TRUE(
        WriteArchiveBatch(kSevenZip, c.level, folder + "/r.BAT", folder, folder, "*.bak", ""));
    const std::string text = ReadFile(folder + "/r.BAT");
    EXPECT_NE(text.find(c.expected), std::string::npos) << text;
    EXPECT_EQ(text.find(" -p"), std::string::npos) << "no password, no -p";
    EXPECT_EQ(text.find("-mhe"), std::string::npos);
  }

  const struct {
    const char* what;
    std::string batch, source, mask;
  } refused[] = {{"empty path", "", folder, "*.bak"},
                 {"missing folder", folder + "/r.bat", dir / "missing", "*.bak"},
                 {"share path", folder + "/r.bat", "\\\\server\\share", "*.bak"},
                 {"empty mask", folder + "/r.bat", folder, " "},
                 {"nothing matches", folder + "/r.bat", folder, "*.rar"}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    fs::remove(folder + "/r.bat");
    EXPECT_FALSE(WriteArchiveBatch(kSevenZip, 3, c.batch, c.source, folder, c.mask, ""));
    EXPECT_FALSE(fs::exists(folder + "/r.bat"));
  }
}

TEST(FileStemTest, NamesAndPaths) {
  TempDir dir;
  WriteFile(dir / "ACME.2024.bak", "x");
  WriteFile(dir / "NODOT", "x");
  const struct {
    std::string path, stem;
  } cases[] = {{dir / "ACME.2024.bak", "ACME.2024"},
               {"  " + (dir / "NODOT") + " ", "NODOT"},
               {"/no/such.dir/file", "/no/such"},
               {"plain", "plain"},
               {"  ", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileStem(c.path), c.stem);
  }
}

TEST(RunAndWaitTest, ExitCodesEnvironmentAndStartFailures) {
  TempDir dir;
  const std::string script = dir / "run.bat";
  WriteFile(script, "[ \"$X\" = 'a b&c' ] || exit 3\nexit 7\n");
  EXPECT_EQ(RunAndWait(script, {{"X", "a b&c"}}), 7);
  EXPECT_EQ(RunAndWait(script, {{"X", "other"}}), 3);
  WriteFile(script, "kill -9 $$\n");
  EXPECT_EQ(RunAndWait(script), 128 + 9);
  EXPECT_EQ(RunAndWait(dir / "missing.bat"), -1);
  EXPECT_EQ(RunAndWait(dir.str()), -1);
}

}  // namespace
}  // namespace veltora
