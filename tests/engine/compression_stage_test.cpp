#include "engine/compression_stage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

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

// Runs 7-Zip on an archive with a password (or none); the exit code.
int SevenZip(const std::string& command, const std::string& archive, const std::string& password,
             const std::string& redirect = ">/dev/null 2>&1") {
  const std::string pw = password.empty() ? " -p" : " " + Quoted("-p" + password);
  return std::system(("7zz " + command + pw + " -- " + Quoted(archive) + " </dev/null " + redirect).c_str());
}

class CompressionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ChooseArchiver(dir_.str())) VELTORA_SKIP_OR_FAIL("7-Zip (Debian 7zip) is not installed");
  }

  std::optional<std::string> Run(const std::string& folder, const std::string& password,
                                 int level = 1) {
    return RunCompressionStage({level, folder + "/", password, dir_ / "noexe"}, log_);
  }

  TempDir dir_;
  RecordingLog log_;
};

TEST_F(CompressionTest, PasswordsReachTheArchiverByteForByte) {
  const std::string passwords[] = {"p&w|x", "<in>out^", "%PATH%!x!", "a;b$HOME`id`",
                                   "q'uo\"te()", "中文密码", "", "1234567890123456789012345678901"};
  int i = 0;
  for (const auto& password : passwords) {
    SCOPED_TRACE(password);
    const std::string folder = dir_ / ("bak " + std::to_string(i++) + " o'k");
    fs::create_directories(folder);
    const std::string content = "ledger " + password + std::string(5000, 'x');
    WriteFile(folder + "/ACME 1" + "20240501013000.bak", content);

    const auto ext = Run(folder, password);
    ASSERT_EQ(ext, std::optional<std::string>(".7z"));
    EXPECT_EQ(log_.lines().back(), "执行RAR压缩批处理成功！");
    for (const auto& line : log_.lines()) {
      if (!password.empty()) {
        EXPECT_EQ(line.find(password), std::string::npos) << line;
      }
    }

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

TEST_F(CompressionTest, RefusedPasswordsAndEmptyFoldersEndTheJobAndKeepTheBackups) {
  const std::string folder = dir_ / "bak";
  fs::create_directories(folder);
  for (const std::string& password :
       {std::string(32, 'a'), std::string("two words"), std::string("a-b"), std::string("x?")}) {
    SCOPED_TRACE(password);
    log_.Clear();
    WriteFile(folder + "/ACME20240501013000.bak", "x");
    EXPECT_FALSE(Run(folder, password));
    EXPECT_EQ(log_.lines(), std::vector<std::string>{"生成RAR压缩批处理失败，压缩失败！"});
    EXPECT_TRUE(fs::exists(folder + "/ACME20240501013000.bak"));
  }
  log_.Clear();
  const std::string empty = dir_ / "empty";
  fs::create_directories(empty);
  WriteFile(empty + "/rarys.bat", "leftover of a run that was cut off");
  EXPECT_FALSE(Run(empty, "pw"));
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"生成RAR压缩批处理失败，压缩失败！"});
  EXPECT_FALSE(fs::exists(empty + "/rarys.bat")) << "a leftover never stays";
}

TEST_F(CompressionTest, CommandFileIsOwnerOnlyAndHoldsNoPassword) {
  const std::string folder = dir_ / "bak";
  fs::create_directories(folder);
  WriteFile(folder + "/A20240501013000.bak", "a");
  WriteFile(folder + "/rarys.bat", "old");
  fs::permissions(folder + "/rarys.bat", fs::perms::all);
  const Archiver archiver{ArchiverKind::kSevenZip, "/usr/bin/7zz", ".7z"};
  ASSERT_TRUE(WriteArchiveBatch(archiver, 3, folder + "/rarys", folder, folder, "*.bak", "s3cr&t"));
  struct stat st {};
  ASSERT_EQ(::stat((folder + "/rarys.bat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string text = ReadFile(folder + "/rarys.bat");
  EXPECT_EQ(text.find("s3cr&t"), std::string::npos);
  EXPECT_NE(text.find("-mx5 -mhe=on -p -sdel"), std::string::npos) << text;
  EXPECT_NE(text.find("\ndel '" + folder + "/rarys.bat'\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace veltora
