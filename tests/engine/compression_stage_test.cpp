#include "engine/compression_stage.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "base/path.h"
#include "base/process.h"
#include "engine/archiver.h"
#include "files/local_file_system.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::FilesIn;
using testing::ReadFile;
using testing::RecordingLog;
using testing::ShellQuoted;
using testing::TempDir;
using testing::WriteFile;

// Runs 7-Zip on an archive with exactly this password (none when empty); the
// exit code.
int SevenZip(const std::string& command, const std::string& archive, const std::string& password,
             const std::string& redirect = ">/dev/null 2>&1") {
  const std::string pw = password.empty() ? "" : " " + ShellQuoted("-p" + password);
  const std::string line =
      "7zz " + command + " -spd" + pw + " -- " + ShellQuoted(archive) + " </dev/null " + redirect;
  const int rc = std::system(line.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

const Archiver kSevenZip{ArchiverKind::kSevenZip, "/usr/bin/7zz", ".7z"};
const CopyMarker kMarker = CopyMarker::For("test", "stage");

class CompressionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindProgramOnPath("7zz", std::getenv("PATH") ? std::getenv("PATH") : "").empty())
      VELTORA_SKIP_OR_FAIL("7-Zip (Debian package 7zip, command 7zz) is not installed");
  }

  std::optional<CompressionOutcome> Run(const std::string& folder, const std::string& password,
                                        int level = 1,
                                        std::optional<Archiver> archiver = kSevenZip) {
    return RunCompressionStage({level, folder + "/", password, archiver, kMarker, dir_ / "private"},
                               router_, log_);
  }

  std::string Folder(const std::string& name) {
    const std::string folder = dir_ / name;
    fs::create_directories(folder);
    return folder;
  }

  TempDir dir_;
  RecordingLog log_;
  LocalFileSystem local_;
  FileSystemRouter router_{local_, nullptr};
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

    const auto outcome = Run(folder, password);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->extension, ".7z");
    EXPECT_EQ(outcome->archived, std::set<std::string>{"ACME 120240501013000.bak"});
    EXPECT_EQ(log_.lines(),
              (std::vector<std::string>{"生成RAR压缩批处理成功！", "执行RAR压缩批处理成功！"}));

    const std::string archive = folder + "/ACME 120240501013000.7z";
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"ACME 120240501013000.7z"})
        << "the source, the command file and the temporary archive go";
    EXPECT_EQ(SevenZip("t", archive, password), 0);
    EXPECT_EQ(ModeOf(archive) & 077, 0u) << "readable by its owner only";
    if (!password.empty()) {
      EXPECT_NE(SevenZip("t", archive, "wrong"), 0);
      EXPECT_NE(SevenZip("l", archive, ""), 0) << "names are encrypted too";
    }
    const std::string extracted = dir_ / "out.bin";
    ASSERT_EQ(SevenZip("e -so", archive, password, ">" + ShellQuoted(extracted) + " 2>/dev/null"),
              0);
    EXPECT_EQ(ReadFile(extracted), content);
  }
}

// Names are data: "*" and "?" in a backup's name are letters to 7-Zip, so
// each archive holds its own backup and nothing else.
TEST_F(CompressionTest, WildcardCharactersInNamesAreLetters) {
  const std::string folder = Folder("bak");
  const std::vector<std::string> bases = {"*", "X", "a?c", "abc", "[x]"};
  for (const auto& b : bases) WriteFile(folder + "/" + b + "20240501013000.bak", "content of " + b);
  const auto outcome = Run(folder, "pw");
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->archived.size(), bases.size());
  for (const auto& b : bases) {
    SCOPED_TRACE(b);
    const std::string archive = folder + "/" + b + "20240501013000.7z";
    const std::string listing = dir_ / "list.txt";
    ASSERT_EQ(SevenZip("l -slt", archive, "pw", ">" + ShellQuoted(listing) + " 2>&1"), 0);
    const std::string text = ReadFile(listing);
    EXPECT_NE(text.find("Path = " + b + "20240501013000.bak\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Path = ", text.find("Path = " + b + "2024") + 1), std::string::npos)
        << "exactly one file in " << archive << ":\n"
        << text;
    const std::string extracted = dir_ / "out.bin";
    ASSERT_EQ(SevenZip("e -so", archive, "pw", ">" + ShellQuoted(extracted) + " 2>/dev/null"), 0);
    EXPECT_EQ(ReadFile(extracted), "content of " + b);
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
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"ACME20240501013000.bak"})
        << "the backup stays; a leftover command file never does";
  }

  // No backup file in the folder: the same line, no command file.
  log_.Clear();
  const std::string empty = Folder("empty");
  WriteFile(empty + "/ACME20240501013000.7z", "an earlier archive");
  EXPECT_FALSE(Run(empty, "pw"));
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"生成RAR压缩批处理失败，压缩失败！"});
  EXPECT_EQ(FilesIn(empty), std::vector<std::string>{"ACME20240501013000.7z"});
}

// A backup whose archive cannot be made keeps its backup file and gets a line
// with the reason; the others are archived; this agent's temporary leftovers
// go, another agent's stay.
TEST_F(CompressionTest, FailingArchiveKeepsItsBackupAndTheOthersAreArchived) {
  const std::string folder = Folder("bak");
  WriteFile(folder + "/ACME20240501013000.bak", "first run");
  WriteFile(folder + "/ACME20240502013000.bak", "second run");
  const std::string mine = TemporaryCopyName(kMarker, "OLD20240101000000.7z");
  const std::string theirs =
      TemporaryCopyName(CopyMarker::For("other", "x"), "OLD20240101000000.7z");
  WriteFile(folder + "/" + mine, "leftover of this agent");
  WriteFile(folder + "/" + theirs, "another agent's copy in flight");
  // 7-Zip fails on the first backup, as on a file it cannot read.
  const std::string fake = dir_ / "fake7z";
  WriteFile(fake,
            "#!/bin/sh\ncase \"$*\" in *ACME20240501013000.bak*) exit 2;; esac\n"
            "exec 7zz \"$@\"\n");
  fs::permissions(fake, fs::perms::owner_all);

  const auto outcome = Run(folder, "k", 1, Archiver{ArchiverKind::kSevenZip, fake, ".7z"});
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->archived, std::set<std::string>{"ACME20240502013000.bak"});
  ASSERT_EQ(outcome->failures.count("ACME20240501013000.bak"), 1u);
  std::vector<std::string> expected = {"ACME20240501013000.bak", "ACME20240502013000.7z", theirs};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(folder), expected);
  EXPECT_EQ(SevenZip("t", folder + "/ACME20240502013000.7z", "k"), 0);
  const auto lines = log_.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "压缩备份文件" + folder +
                          "/ACME20240501013000.bak失败！导致失败可能的原因为："
                          "压缩程序没有生成压缩文件，命令文件的退出代码为1");
}

// An archiver that says it succeeded but leaves an archive that does not test
// good: nothing takes the archive's final name and the backup stays.
TEST_F(CompressionTest, AnArchiveThatFailsItsTestNeverTakesItsName) {
  const std::string folder = Folder("bak");
  WriteFile(folder + "/ACME20240501013000.bak", "ledger");
  const std::string fake = dir_ / "fake7z";
  // "a" writes garbage where it is told and exits 0; "t" uses the real 7-Zip.
  WriteFile(fake,
            "#!/bin/sh\nif [ \"$1\" = a ]; then eval \"last=\\${$#}\"; shift $(($#-2)); "
            "printf 'not an archive' > \"$1\"; exit 0; fi\nexec 7zz \"$@\"\n");
  fs::permissions(fake, fs::perms::owner_all);
  const auto outcome = Run(folder, "pw", 1, Archiver{ArchiverKind::kSevenZip, fake, ".7z"});
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->archived.empty());
  ASSERT_EQ(outcome->failures.count("ACME20240501013000.bak"), 1u);
  EXPECT_EQ(outcome->failures.at("ACME20240501013000.bak")
                .rfind("压缩文件校验失败，校验程序的退出代码为", 0),
            0u);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"ACME20240501013000.bak"});
}

// Each backup's packing and each archive's test report from 0 to 100, the
// archiver's own percentages in between, growing; a backup the archiver fails
// on stops where it was and gets no test.
TEST_F(CompressionTest, EachPackingAndEachTestReportsItsProgress) {
  const std::string folder = Folder("bak");
  std::mt19937 random(5);
  std::string incompressible(8 << 20, '\0');
  for (char& c : incompressible) c = static_cast<char>(random());
  WriteFile(folder + "/A20240501013000.bak", incompressible);
  WriteFile(folder + "/B20240501013000.bak", "the archiver fails on this one");
  WriteFile(folder + "/C20240501013000.bak", "small");
  const std::string fake = dir_ / "fake7z";
  WriteFile(fake,
            "#!/bin/sh\ncase \"$*\" in *B20240501013000.bak*) exit 2;; esac\nexec 7zz \"$@\"\n");
  fs::permissions(fake, fs::perms::owner_all);

  struct Step {
    ProgressStage stage;
    std::string item;
    std::vector<int> percents;
    std::uint64_t total;
  };
  std::vector<Step> steps;
  const ProgressListener listen = [&](const ProgressReport& r) {
    if (steps.empty() || steps.back().stage != r.stage || steps.back().item != r.item)
      steps.push_back({r.stage, r.item, {}, r.total});
    steps.back().percents.push_back(r.percent);
  };
  const auto outcome = RunCompressionStage(
      {3, folder + "/", "pw", Archiver{ArchiverKind::kSevenZip, fake, ".7z"}, kMarker, {}}, router_,
      log_, listen);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->archived.size(), 2u);

  const std::pair<ProgressStage, std::string> expected[] = {
      {ProgressStage::kCompression, "A20240501013000.bak"},
      {ProgressStage::kCompression, "B20240501013000.bak"},
      {ProgressStage::kCompression, "C20240501013000.bak"},
      {ProgressStage::kArchiveTest, "A20240501013000.7z"},
      {ProgressStage::kArchiveTest, "C20240501013000.7z"}};
  ASSERT_EQ(steps.size(), std::size(expected));
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    SCOPED_TRACE(step.item + ": " + ::testing::PrintToString(step.percents));
    EXPECT_EQ(step.stage, expected[i].first);
    EXPECT_EQ(step.item, expected[i].second);
    EXPECT_EQ(step.percents.front(), 0);
    EXPECT_EQ(
        std::adjacent_find(step.percents.begin(), step.percents.end(), std::greater_equal<>()),
        step.percents.end())
        << "strictly growing";
    if (step.item.starts_with("B")) {
      EXPECT_EQ(step.percents, std::vector<int>{0}) << "a failed packing never reaches 100";
    } else {
      EXPECT_EQ(step.percents.back(), 100);
    }
  }
  EXPECT_EQ(steps[0].total, 8u << 20);
  EXPECT_GT(steps[0].percents.size(), 2u) << "the archiver's own percentages in between";
}

TEST_F(CompressionTest, WithoutAnyArchiverTheJobEnds) {
  const std::string folder = Folder("bak");
  WriteFile(folder + "/ACME20240501013000.bak", "x");
  EXPECT_FALSE(ChooseArchiver(dir_ / "no-exe", dir_ / "no-such-bin"));
  EXPECT_FALSE(Run(folder, "", 1, std::nullopt));
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"释放Rar.exe文件失败，数据库压缩失败！"});
  EXPECT_TRUE(fs::exists(folder + "/ACME20240501013000.bak"));
}

TEST_F(CompressionTest, LevelZeroDoesNothing) {
  const std::string folder = Folder("bak");
  WriteFile(folder + "/ACME20240501013000.bak", "x");
  const auto outcome = Run(folder, "pw", 0);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->extension, ".bak");
  EXPECT_TRUE(log_.lines().empty());
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"ACME20240501013000.bak"});
}

// 7-Zip whenever it is there; the RAR console archiver only without it, and
// then only without a password, which it could take only in its arguments.
// The RAR console archiver cannot run here: a stand-in beside the executable
// records its arguments and writes the archive it is asked for.
TEST(RarArchiverTest, UsedOnlyWithoutSevenZipAndNeverWithAPassword) {
  TempDir dir;
  const std::string exe = dir / "exe";
  const std::string folder = dir / "Backup Files";
  fs::create_directories(exe);
  fs::create_directories(folder);
  const std::string argsFile = dir / "args.txt";
  WriteFile(exe + "/rar", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " + ShellQuoted(argsFile) +
                              "\n[ \"$1\" = a ] && printf rar > \"$(eval echo \\${$(($#-1))})\"\n"
                              "exit 0\n");
  fs::permissions(exe + "/rar", fs::perms::owner_all);
  WriteFile(folder + "/A B20240501013000.bak", "x");

  const std::string sevenZipFolder = dir / "bin";
  fs::create_directories(sevenZipFolder);
  fs::create_symlink("/usr/bin/7zz", sevenZipFolder + "/7zz");
  EXPECT_EQ(ChooseArchiver(exe, sevenZipFolder)->kind, ArchiverKind::kSevenZip);
  const auto archiver = ChooseArchiver(exe, dir / "no-such-bin");
  ASSERT_TRUE(archiver);
  EXPECT_EQ(archiver->kind, ArchiverKind::kRar);
  EXPECT_EQ(archiver->path, exe + "/rar");

  LocalFileSystem local;
  const FileSystemRouter router(local, nullptr);
  RecordingLog log;
  EXPECT_FALSE(
      RunCompressionStage({4, folder + "/", "secret", archiver, kMarker, {}}, router, log));
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{"没有找到7-Zip压缩程序，RAR压缩程序只能从命令行接收压缩密码，"
                                     "为保护密码不被他人看到，压缩失败！"});
  EXPECT_FALSE(fs::exists(argsFile)) << "never started with a password";

  const auto outcome =
      RunCompressionStage({4, folder + "/", "", archiver, kMarker, {}}, router, log);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->extension, ".rar");
  EXPECT_EQ(outcome->archived, std::set<std::string>{"A B20240501013000.bak"});
  const std::string args = ReadFile(argsFile);
  const std::string head = "a\n-ac\n-av\n-dh\n-k\n-m4\n-ep1\n--\n" + folder + "/";
  ASSERT_EQ(args.rfind(head, 0), 0u) << args;
  const std::string temporary =
      args.substr(head.size(), args.find('\n', head.size()) - head.size());
  EXPECT_TRUE(IsTemporaryCopyName(temporary, kMarker)) << temporary;
  EXPECT_EQ(args, head + temporary + "\n" + folder + "/A B20240501013000.bak\nt\n--\n" + folder +
                      "/" + temporary + "\n");
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"A B20240501013000.rar"});
}

// What a 7-Zip process can see: the password arrives on its standard input
// only, never in its arguments (world-readable in /proc) or its environment,
// both when archiving and when testing.
TEST(SevenZipLineTest, PasswordOnlyOnStandardInput) {
  TempDir dir;
  const std::string folder = dir / "bak";
  fs::create_directories(folder);
  WriteFile(folder + "/A.bak", "a");
  const std::string seen = dir / "seen.txt";
  const std::string fake = dir / "fake7z";
  WriteFile(fake, "#!/bin/sh\n{ printf 'args:%s\\n' \"$*\"; env; printf 'stdin:'; cat; } >> " +
                      ShellQuoted(seen) +
                      "\n[ \"$1\" = a ] && printf x > \"$(eval echo \\${$(($#-1))})\"\n"
                      "exit 0\n");
  fs::permissions(fake, fs::perms::owner_all);
  const std::string password = "s3cr&t'\"$x";
  LocalFileSystem local;
  const FileSystemRouter router(local, nullptr);
  RecordingLog log;
  const auto outcome = RunCompressionStage(
      {2, folder + "/", password, Archiver{ArchiverKind::kSevenZip, fake, ".7z"}, kMarker, {}},
      router, log);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->archived.size(), 1u);
  const std::string text = ReadFile(seen);
  std::size_t from = 0;
  for (const char* command : {"args:a -t7z -mx3 -mhe=on -p -spd -y -bso0 -bsp1 -bse1 -- ",
                              "args:t -spd -bso0 -bsp1 -bse1 -- "}) {
    SCOPED_TRACE(command);
    const auto at = text.find(command, from);
    ASSERT_NE(at, std::string::npos) << text;
    const auto stdinAt = text.find("stdin:", at);
    ASSERT_NE(stdinAt, std::string::npos) << text;
    EXPECT_EQ(text.substr(at, stdinAt - at).find("s3cr&t"), std::string::npos) << text;
    EXPECT_EQ(text.compare(stdinAt, 6 + password.size() + 1, "stdin:" + password + "\n"), 0)
        << text.substr(stdinAt);
    from = stdinAt;
  }
}

TEST(WriteArchiveBatchTest, OwnerOnlyFileWithoutThePassword) {
  TempDir dir;
  const std::string folder = dir / "bak";
  fs::create_directories(folder);
  WriteFile(folder + "/rarys.bat", "old");
  fs::permissions(folder + "/rarys.bat", fs::perms::all);
  HeldCommandFile held;
  ASSERT_TRUE(WriteArchiveBatch(kSevenZip, 3, folder + "/rarys",
                                {{folder + "/A'1.bak", folder + "/t1", folder + "/A'1.7z"}}, true,
                                held));
  EXPECT_EQ(ModeOf(folder + "/rarys.bat"), 0600u);
  const std::string text = ReadFile(folder + "/rarys.bat");
  EXPECT_EQ(text.find("s3cr"), std::string::npos);
  EXPECT_NE(text.find("pack '" + folder + "/A'\\''1.bak' '" + folder + "/t1'\n"), std::string::npos)
      << text;
  HeldCommandFile none;
  EXPECT_FALSE(WriteArchiveBatch(kSevenZip, 3, folder + "/r.bat", {}, false, none))
      << "nothing to do";
  EXPECT_FALSE(WriteArchiveBatch(kSevenZip, 3, "  ", {{"a", "b", "c"}}, false, none));
}

TEST(FileStemTest, NamesAndPaths) {
  const struct {
    std::string path, stem;
  } cases[] = {{"/bak/ACME.2024.bak", "ACME.2024"},
               {"  /bak/NODOT ", "NODOT"},
               {"/no/such.dir/file", "file"},
               {"/bak/a\\b.AIS", "a\\b"},
               {"plain", "plain"},
               {"  ", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileStem(c.path), c.stem);
  }
}

// A command file written and held for one run.
std::unique_ptr<HeldCommandFile> Held(const std::string& path, const std::string& content) {
  auto held = std::make_unique<HeldCommandFile>();
  if (!held->Write(path, content)) ADD_FAILURE() << "cannot write " << path;
  return held;
}

TEST(RunAndWaitTest, ExitCodesEnvironmentAndStartFailures) {
  TempDir dir;
  const auto script = Held(dir / "run.bat", "[ \"$X\" = 'a b&c' ] || exit 3\nexit 7\n");
  EXPECT_EQ(RunAndWait(*script, {{"X", "a b&c"}}), 7);
  EXPECT_EQ(RunAndWait(*script, {{"X", "other"}}), 3);
  EXPECT_EQ(RunAndWait(*Held(dir / "kill.bat", "kill -9 $$\n")), 128 + 9);
  EXPECT_EQ(RunAndWait(HeldCommandFile()), -1) << "nothing held";
  HeldCommandFile planted;
  EXPECT_FALSE(planted.Write(dir / "run.bat", "exit 0\n")) << "an existing file is no new one";
  fs::create_symlink(dir / "elsewhere", dir / "link.bat");
  EXPECT_FALSE(planted.Write(dir / "link.bat", "exit 0\n")) << "nor is a link";
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

// Another user who may replace files in the folder swaps the command file
// between its writing and its run: what runs is still what was written.
TEST(RunAndWaitTest, ASwappedCommandFileIsNeverRun) {
  TempDir dir;
  const std::string path = dir / "rarys.bat";
  const std::string marker = dir / "swapped-ran";
  const auto script = Held(path, "exit 6\n");
  fs::rename(path, dir / "moved-away");
  WriteFile(path, ": > " + ShellQuoted(marker) + "\nexit 0\n");
  EXPECT_EQ(RunAndWait(*script), 6);
  EXPECT_FALSE(fs::exists(marker));
}

TEST(RunProgramTest, InputOnStandardInputExitCodesAndStartFailures) {
  TempDir dir;
  const std::string out = dir / "out.txt";
  EXPECT_EQ(RunProgram("/bin/sh", {"-c", "cat > \"$0\"; exit 4", out}, "secret\n"), 4);
  EXPECT_EQ(ReadFile(out), "secret\n");
  EXPECT_EQ(RunProgram("/bin/sh", {"-c", "exit 0"}, "unread input"), 0) << "never SIGPIPE";
  EXPECT_EQ(RunProgram("/bin/sh", {"-c", "kill -9 $$"}), 128 + 9);
  EXPECT_EQ(RunProgram(dir / "missing", {}), -1);
}

// The child's output reaches a listener whole, in chunks, with the input on
// standard input as before; a listener that fails does not stop the child,
// which runs to its end rather than blocking on a full pipe or dying of a
// closed one.
TEST(ProcessOutputTest, TheListenerHearsEverythingAndCannotHoldTheChildUp) {
  TempDir dir;
  std::string heard;
  const OutputListener listen = [&](std::string_view chunk) { heard += chunk; };
  EXPECT_EQ(RunProgram("/bin/sh", {"-c", "cat; printf done; exit 3"}, "pw\n", listen), 3);
  EXPECT_EQ(heard, "pw\ndone");

  const std::string finished = dir / "finished";
  const auto script = Held(
      dir / "run.bat", "head -c 1048576 /dev/zero\n: > " + ShellQuoted(finished) + "\nexit 5\n");
  heard.clear();
  EXPECT_EQ(RunAndWait(*script, {}, listen), 5);
  EXPECT_EQ(heard, std::string(1 << 20, '\0'));

  fs::remove(finished);
  int calls = 0;
  EXPECT_EQ(RunAndWait(*script, {},
                       [&](std::string_view) {
                         ++calls;
                         throw std::runtime_error("display gone");
                       }),
            5);
  EXPECT_EQ(calls, 1) << "a failed listener hears nothing more";
  EXPECT_TRUE(fs::exists(finished)) << "the child ran to its end";
}

// Something the child leaves behind may keep its output open: the wait ends
// with the child, not with that output.
TEST(ProcessOutputTest, TheWaitEndsWithTheChildNotWithItsOutput) {
  TempDir dir;
  const std::string pidFile = dir / "pid";
  const auto script = Held(
      dir / "run.bat", "sleep 1000 &\necho $! > " + ShellQuoted(pidFile) + "\necho hi\nexit 4\n");
  std::string heard;
  EXPECT_EQ(RunAndWait(*script, {}, [&](std::string_view chunk) { heard += chunk; }), 4);
  EXPECT_EQ(heard, "hi\n");
  const pid_t holder = std::stoi(ReadFile(pidFile));
  EXPECT_EQ(::kill(holder, 0), 0) << "the process holding the output still runs";
  ::kill(holder, SIGKILL);
}

}  // namespace
}  // namespace veltora
