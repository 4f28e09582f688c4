// One contract for the file-system router's operations, run against a local
// folder and against a real Samba share: what the retention and the copy to
// the share rely on must hold on both.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "files/file_system.h"
#include "files/folder_listing.h"
#include "files/local_file_system.h"
#include "files/smb_file_system.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A place to work in, on one kind of file system.
class Backend {
 public:
  virtual ~Backend() = default;
  // False with a reason when the backend cannot run on this machine.
  virtual bool Start(std::string& whyNot) = 0;
  virtual const FileSystemRouter& router() const = 0;
  // The empty working folder, named as the router's callers name it.
  virtual std::string root() const = 0;
  // The same file as this machine's own path, for checking bytes.
  virtual std::string LocalPathOf(const std::string& path) const = 0;
};

class LocalBackend final : public Backend {
 public:
  bool Start(std::string&) override {
    fs::create_directory(dir_ / "area");
    return true;
  }
  const FileSystemRouter& router() const override { return router_; }
  std::string root() const override { return dir_ / "area"; }
  std::string LocalPathOf(const std::string& path) const override { return path; }

 private:
  TempDir dir_;
  LocalFileSystem local_;
  FileSystemRouter router_{local_, nullptr};
};

class SambaBackend final : public Backend {
 public:
  bool Start(std::string& whyNot) override {
    share_ = testing::TestSambaServer(whyNot);
    if (share_ == nullptr) return false;
    smb_ = std::make_unique<SmbFileSystem>();
    router_ = std::make_unique<FileSystemRouter>(local_, smb_.get());
    if (smb_->Connect(share_->sharePath, share_->user, share_->password) != 0) {
      whyNot = "cannot connect to the test share";
      return false;
    }
    // A fresh folder per test, so the tests never see each other's files.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folderName_ = std::string("t-") + info->name();
    for (char& c : folderName_)
      if (c == '/') c = '-';
    fs::remove_all(share_->localFolder + "/" + folderName_);
    return smb_->MakeFolder(root());
  }
  ~SambaBackend() override {
    if (share_ != nullptr) {
      std::error_code ec;
      fs::remove_all(share_->localFolder + "/" + folderName_, ec);
    }
  }
  const FileSystemRouter& router() const override { return *router_; }
  std::string root() const override { return JoinPath(share_->sharePath, folderName_); }
  std::string LocalPathOf(const std::string& path) const override {
    std::string rest = path.substr(share_->sharePath.size());
    for (char& c : rest)
      if (c == '\\') c = '/';
    return share_->localFolder + rest;
  }

 private:
  const testing::SambaShare* share_ = nullptr;
  std::string folderName_;
  LocalFileSystem local_;
  std::unique_ptr<SmbFileSystem> smb_;
  std::unique_ptr<FileSystemRouter> router_;
};

using BackendFactory = std::unique_ptr<Backend> (*)();

class FileSystemContract : public ::testing::TestWithParam<BackendFactory> {
 protected:
  void SetUp() override {
    backend_ = GetParam()();
    std::string whyNot;
    if (!backend_->Start(whyNot)) VELTORA_SKIP_OR_FAIL(whyNot);
  }

  const FileSystemRouter& router() const { return backend_->router(); }
  FileSystem& fsys() const { return router().For(root()); }
  std::string root() const { return backend_->root(); }
  std::string At(const std::string& name) const { return JoinPath(root(), name); }

  // A file with the given bytes at `path` (in the backend), made through the
  // file system under test.
  void Make(const std::string& path, const std::string& content) {
    const std::string source = scratch_ / "source";
    WriteFile(source, content);
    const CopyOutcome outcome = fsys().CopyFromLocal(source, path, true, {});
    ASSERT_TRUE(outcome.ok) << path << ": " << outcome.error;
  }

  std::vector<std::string> NamesIn(const std::string& folder) const {
    std::vector<FolderEntry> entries;
    EXPECT_TRUE(fsys().ReadFolder(folder, entries));
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
  }

  // The folder part as the listing reports it: share paths upper-cased.
  std::string Listed(const std::string& relative) const {
    const std::string folder = IsSharePath(root()) ? UpperAscii(root()) : root();
    return JoinPath(folder, relative);
  }

  std::unique_ptr<Backend> backend_;
  TempDir scratch_;
};

TEST_P(FileSystemContract, ExistenceListingAndCreationTimes) {
  Make(At("b.rar"), "b");
  Make(At("A.rar"), "a");
  Make(At("c.txt"), "c");
  ASSERT_TRUE(fsys().MakeFolder(At("Sub")));
  Make(JoinPath(At("Sub"), "d.rar"), "d");

  struct Case {
    std::string path;
    bool file;
    bool folder;
  } cases[] = {{At("A.rar"), true, false},
               {At("Sub"), false, true},
               {root(), false, true},
               {At("missing.rar"), false, false},
               {JoinPath(At("missing"), "x.rar"), false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileExists(router(), c.path), c.file);
    EXPECT_EQ(FolderExists(router(), c.path), c.folder);
    EXPECT_EQ(FileNameIfExists(router(), "  " + c.path + " "), c.file ? "A.rar" : "");
  }

  std::vector<std::string> list;
  ASSERT_TRUE(ListFolderEntries(router(), &list, root() + std::string(2, SeparatorFor(root())),
                                "*.rar", false, kNoAttributeFilter, true, kFilesOnly));
  const std::string sep(1, SeparatorFor(root()));
  EXPECT_EQ(list, (std::vector<std::string>{Listed("A.rar"), Listed("b.rar"),
                                            Listed("Sub" + sep + "d.rar")}));
  EXPECT_EQ(CountFiles(router(), root(), "*.rar", true), 3);
  EXPECT_EQ(CountFiles(router(), At("missing"), "*.rar", true), 0);

  std::vector<ListedFile> dated;
  ASSERT_TRUE(ListFilesWithDates(router(), root(), "*.rar", false, dated));
  ASSERT_EQ(dated.size(), 2u);
  for (const auto& f : dated) {
    SCOPED_TRACE(f.path);
    EXPECT_GT(f.created, 0.0);
    EXPECT_EQ(f.created, GetFileDate(router(), At(BaseName(f.path)), 0));
  }
  EXPECT_EQ(GetFileDate(router(), At("missing.rar"), 0), kUnreadableTime);
}

TEST_P(FileSystemContract, LaterFileHasLaterCreationTime) {
  Make(At("first.rar"), "1");
  // Creation times have two-second resolution: two seconds apart always
  // lands in different buckets.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  Make(At("second.rar"), "2");
  std::vector<ListedFile> dated;
  ASSERT_TRUE(ListFilesWithDates(router(), root(), "*.rar", false, dated));
  ASSERT_EQ(dated.size(), 2u);
  EXPECT_EQ(BaseName(dated[0].path), "first.rar");
  EXPECT_LT(dated[0].created, dated[1].created);
}

TEST_P(FileSystemContract, WritableFolderTestRemovesLeftoversWithReadOnlyContents) {
  EXPECT_TRUE(IsFolderWritable(router(), " " + root() + " "));
  EXPECT_FALSE(FolderExists(router(), At(kWritableTestFolderName)));

  // A leftover test folder with a read-only file and a nested folder.
  const std::string leftover = At(kWritableTestFolderName);
  ASSERT_TRUE(fsys().MakeFolder(leftover));
  ASSERT_TRUE(fsys().MakeFolder(JoinPath(leftover, "inner")));
  Make(JoinPath(JoinPath(leftover, "inner"), "x.rar"), "x");
  Make(JoinPath(leftover, "ro.rar"), "ro");
  ASSERT_TRUE(fsys().SetReadOnly(JoinPath(leftover, "ro.rar"), true));
  EXPECT_TRUE(IsFolderWritable(router(), root()));
  EXPECT_FALSE(FolderExists(router(), leftover));
  EXPECT_TRUE(NamesIn(root()).empty());

  EXPECT_FALSE(IsFolderWritable(router(), At("missing")));
  EXPECT_FALSE(IsFolderWritable(router(), "   "));
}

TEST_P(FileSystemContract, ForceDeleteResetsReadOnlyAndDeletesFilesOnly) {
  Make(At("ro.rar"), "ro");
  ASSERT_TRUE(fsys().SetReadOnly(At("ro.rar"), true));
  ASSERT_TRUE(fsys().MakeFolder(At("folder")));

  EXPECT_TRUE(ForceDeleteFile(router(), At("ro.rar")));
  EXPECT_FALSE(FileExists(router(), At("ro.rar")));
  EXPECT_FALSE(ForceDeleteFile(router(), At("ro.rar")));
  EXPECT_FALSE(ForceDeleteFile(router(), At("folder")));
  EXPECT_TRUE(FolderExists(router(), At("folder")));
}

TEST_P(FileSystemContract, CopyIsByteIdenticalAndNeverOverwritesWhenTold) {
  // Larger than one transfer chunk, with bytes of every value.
  std::string content(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 256);
  const std::string source = scratch_ / "src.bin";
  WriteFile(source, content);
  const std::string target = At("备份 账套 01.rar");

  CopyOutcome outcome = fsys().CopyFromLocal(source, target, false, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(ReadFile(backend_->LocalPathOf(target)), content);

  WriteFile(source, "new");
  outcome = fsys().CopyFromLocal(source, target, false, {});
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(ReadFile(backend_->LocalPathOf(target)), content);

  EXPECT_TRUE(CopyFileOver(router(), " " + source, target + " "));
  EXPECT_EQ(ReadFile(backend_->LocalPathOf(target)), "new");
  EXPECT_FALSE(CopyFileOver(router(), scratch_ / "missing", target));
  EXPECT_EQ(NamesIn(root()), (std::vector<std::string>{"备份 账套 01.rar"}));
}

TEST_P(FileSystemContract, InterruptedCopyLeavesNothingUnderTheTargetName) {
  const std::string source = scratch_ / "src.bin";
  const std::string big(3 * 1024 * 1024, 'x');

  struct Case {
    const char* what;
    std::function<void()> onFirstProgress;
  } cases[] = {
      {"the copy is abandoned", [] { throw std::runtime_error("cancelled"); }},
      {"the source shrinks meanwhile", [&source] { fs::resize_file(source, 1000); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(source, big);
    bool called = false;
    const CopyOutcome outcome =
        fsys().CopyFromLocal(source, At("a.rar"), false, [&](std::uint64_t, std::uint64_t) {
          if (!called) {
            called = true;
            c.onFirstProgress();
          }
        });
    EXPECT_TRUE(called);
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_FALSE(FileExists(router(), At("a.rar")));
    EXPECT_TRUE(NamesIn(root()).empty());  // no temporary file either
  }
}

TEST_P(FileSystemContract, StaleTemporaryFilesAreRemoved) {
  Make(At(TemporaryCopyName("old1.rar")), "partial");
  Make(At(".old2.rar.part-Ab12Cd"), "partial");
  Make(At("old.rar"), "kept");
  Make(At("~notes.txt"), "kept");
  EXPECT_EQ(RemoveStaleTemporaryFiles(fsys(), root()), 2);
  EXPECT_EQ(NamesIn(root()), (std::vector<std::string>{"old.rar", "~notes.txt"}));
  EXPECT_EQ(RemoveStaleTemporaryFiles(fsys(), At("missing")), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, FileSystemContract,
    ::testing::Values(
        +[]() -> std::unique_ptr<Backend> { return std::make_unique<LocalBackend>(); },
        +[]() -> std::unique_ptr<Backend> { return std::make_unique<SambaBackend>(); }),
    [](const ::testing::TestParamInfo<BackendFactory>& info) {
      return info.index == 0 ? std::string("LocalFolder") : std::string("SambaShare");
    });

}  // namespace
}  // namespace veltora
