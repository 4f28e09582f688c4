// The share client where libsmbclient cannot be loaded: no server needed.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "files/share_connection.h"
#include "files/smb_file_system.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::RecordingLog;
using testing::TempDir;
using testing::WriteFile;

// Every operation fails, nothing crashes, and the reason names the library
// and carries the loader's words: in a copy's outcome and, after the refused
// connection's line, in the run log.
TEST(SmbClientLibraryTest, UnloadableLibraryFailsEveryShareOperationAndSaysWhy) {
  TempDir dir;
  const std::string notALibrary = dir / "libnotsmb.so.0";
  WriteFile(notALibrary, std::string(200, 'x'));
  const std::string source = dir / "Acme.7z";
  WriteFile(source, "archive");

  struct Case {
    const char* what;
    std::string library;
    const char* loaderSays;
  } cases[] = {
      {"no such file", dir / "missing/libsmbclient.so.0", "No such file or directory"},
      {"not a library", notALibrary, "invalid ELF header"},
      {"a library without the client's functions", "libc.so.6",
       "undefined symbol: smbc_new_context"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SmbFileSystem smb(445, std::chrono::seconds(1), CopyMarker{}, c.library);
    const std::string share = "\\\\127.0.0.1\\bak";
    const std::string file = share + "\\Acme.7z";

    // The first operation loads (and fails to load) the library.
    const FileOutcome copied = smb.CopyFromLocal(source, file, false, {});
    EXPECT_FALSE(copied.ok);
    const std::string prefix = "cannot load " + c.library + ": ";
    EXPECT_EQ(copied.error.substr(0, prefix.size()), prefix) << copied.error;
    EXPECT_NE(copied.error.find(c.loaderSays), std::string::npos) << copied.error;
    EXPECT_EQ(smb.UnavailableReason(), copied.error);

    EXPECT_EQ(smb.Connect(share, "user", "pw"), 1222);
    RecordingLog log;
    EXPECT_FALSE(ConnectShare(smb, log, share + "\\", "张三", "secret"));
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "您好，程序尝试用用户名为:张三的用户，建立与远程共享文件夹\\\\127.0.0.1\\"
                  "bak的连接但操作失败，错误代码为:1222,请将这个错误代码告知开发人员，"
                  "谢谢您的合作！",
                  "导致失败可能的原因为：" + copied.error}));

    std::vector<FolderEntry> entries;
    EXPECT_FALSE(smb.IsFolder(share));
    EXPECT_FALSE(smb.IsFile(file));
    EXPECT_FALSE(smb.ReadFolder(share, entries));
    EXPECT_EQ(smb.CreationTime(file), kUnreadableTime);
    EXPECT_EQ(smb.LastWriteTime(file), kUnreadableTime);
    EXPECT_FALSE(smb.MakeFolder(share + "\\new"));
    EXPECT_FALSE(smb.RemoveFolder(share + "\\new"));
    EXPECT_FALSE(smb.SetReadOnly(file, true));
    EXPECT_FALSE(smb.Rename(file, share + "\\other.7z"));
    EXPECT_FALSE(smb.DeleteFile(file));
  }
}

}  // namespace
}  // namespace veltora
