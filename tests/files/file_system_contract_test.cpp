// One contract for the file-system router's operations, run against a local
// folder and against a real Samba share: what the retention and the copy to
// the share rely on must hold on both.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "files/file_system.h"
#include "files/folder_listing.h"
#include "files/local_file_system.h"
#include "files/smb_file_system.h"
#include "support/fakes.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The marker of the agent under test, and one of another agent writing into
// the same folders.
const CopyMarker kOurs = CopyMarker::For("ledger-pc", "/opt/veltora");
const CopyMarker kTheirs = CopyMarker::For("ledger-pc", "/srv/veltora");

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
  LocalFileSystem local_{kOurs};
  FileSystemRouter router_{local_, nullptr};
};

class SambaBackend final : public Backend {
 public:
  bool Start(std::string& whyNot) override {
    share_ = testing::TestSambaServer(whyNot);
    if (share_ == nullptr) return false;
    smb_ = std::make_unique<SmbFileSystem>(share_->port, std::chrono::seconds(5), kOurs);
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
    return smb_->MakeFolder(root()).ok;
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

// The local time now, at the two-second resolution file dates have. File
// times come from the kernel's coarse clock, which may lag the system clock by
// a tick: this answers for a moment that lies a safe margin behind now.
DateTime NowAtFileDateResolution() {
  LocalTime t = ToLocalTime(std::chrono::system_clock::now() - std::chrono::milliseconds(100));
  t.second -= t.second % 2;
  return ToDateTime(t);
}

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
    const FileOutcome outcome = fsys().CopyFromLocal(source, path, true, {});
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
    EXPECT_EQ(f.created, GetFileDate(router(), At(BaseName(f.path)), FileTime::kCreation));
  }
  for (const FileTime kind : {FileTime::kCreation, FileTime::kLastAccess, FileTime::kLastWrite})
    EXPECT_EQ(GetFileDate(router(), At("missing.rar"), kind), kUnreadableTime);
}

TEST_P(FileSystemContract, LaterFileHasLaterCreationTime) {
  Make(At("first.rar"), "1");
  const DateTime first = GetFileDate(router(), At("first.rar"), FileTime::kCreation);
  ASSERT_GT(first, 0.0);
  // Creation times have two-second resolution: wait until the clock has
  // surely left the first file's two seconds.
  while (NowAtFileDateResolution() <= first)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Make(At("second.rar"), "2");
  std::vector<ListedFile> dated;
  ASSERT_TRUE(ListFilesWithDates(router(), root(), "*.rar", false, dated));
  ASSERT_EQ(dated.size(), 2u);
  EXPECT_EQ(BaseName(dated[0].path), "first.rar");
  EXPECT_EQ(dated[0].created, first);
  EXPECT_LT(dated[0].created, dated[1].created);
}

TEST_P(FileSystemContract, AccessAndWriteTimes) {
  Make(At("a.rar"), "a");
  const std::time_t accessed = testing::LocalSeconds(2023, 3, 4, 5, 6, 9);
  const std::time_t written = testing::LocalSeconds(2022, 11, 12, 13, 14, 15);
  const std::string physical = backend_->LocalPathOf(At("a.rar"));
  const struct timespec times[2] = {{accessed, 0}, {written, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, physical.c_str(), times, 0), 0);

  // Two-second resolution, seconds rounded down.
  EXPECT_EQ(GetFileDate(router(), At("a.rar"), FileTime::kLastAccess),
            ToDateTime(LocalTime{2023, 3, 4, 5, 6, 8}));
  EXPECT_EQ(GetFileDate(router(), At("a.rar"), FileTime::kLastWrite),
            ToDateTime(LocalTime{2022, 11, 12, 13, 14, 14}));
}

TEST_P(FileSystemContract, RenameMovesAndReplaces) {
  Make(At("a.rar"), "a");
  Make(At("b.rar"), "b");
  ASSERT_TRUE(fsys().MakeFolder(At("sub")));

  EXPECT_TRUE(fsys().Rename(At("a.rar"), At("账套 a.rar")));
  EXPECT_TRUE(fsys().Rename(At("b.rar"), At("账套 a.rar")));  // replaces
  EXPECT_EQ(ReadFile(backend_->LocalPathOf(At("账套 a.rar"))), "b");
  EXPECT_TRUE(fsys().Rename(At("账套 a.rar"), JoinPath(At("sub"), "c.rar")));
  EXPECT_EQ(ReadFile(backend_->LocalPathOf(JoinPath(At("sub"), "c.rar"))), "b");
  EXPECT_FALSE(fsys().Rename(At("missing.rar"), At("d.rar")));
  EXPECT_FALSE(fsys().Rename(At("sub"), JoinPath(At("missing"), "sub")));
  EXPECT_EQ(NamesIn(root()), std::vector<std::string>{"sub"});
}

TEST_P(FileSystemContract, EveryRefusedChangeSaysWhy) {
  ASSERT_TRUE(fsys().MakeFolder(At("full")));
  Make(JoinPath(At("full"), "a.rar"), "a");
  const std::vector<std::pair<const char*, FileOutcome>> refused = {
      {"a folder that exists", fsys().MakeFolder(At("full"))},
      {"a folder in a missing one", fsys().MakeFolder(JoinPath(At("missing"), "x"))},
      {"removing a folder that holds a file", fsys().RemoveFolder(At("full"))},
      {"removing a missing folder", fsys().RemoveFolder(At("missing"))},
      {"deleting a folder", fsys().DeleteFile(At("full"))},
      {"deleting a missing file", fsys().DeleteFile(At("missing.rar"))},
      {"renaming a missing file", fsys().Rename(At("missing.rar"), At("d.rar"))},
      {"the attribute of a missing file", fsys().SetReadOnly(At("missing.rar"), true)},
  };
  for (const auto& [what, outcome] : refused) {
    EXPECT_FALSE(outcome) << what;
    EXPECT_FALSE(outcome.error.empty()) << what;
  }
}

TEST_P(FileSystemContract, ReadOnlyRoundTrip) {
  Make(At("a.rar"), "a");
  const auto readOnly = [this] {
    std::vector<FolderEntry> entries;
    EXPECT_TRUE(fsys().ReadFolder(root(), entries));
    EXPECT_EQ(entries.size(), 1u);
    return !entries.empty() && entries[0].readOnly;
  };
  EXPECT_FALSE(readOnly());
  ASSERT_TRUE(fsys().SetReadOnly(At("a.rar"), true));
  EXPECT_TRUE(readOnly());
  ASSERT_TRUE(fsys().SetReadOnly(At("a.rar"), true)) << "setting it again is no failure";
  ASSERT_TRUE(fsys().SetReadOnly(At("a.rar"), false));
  EXPECT_FALSE(readOnly());
  EXPECT_EQ(ReadFile(backend_->LocalPathOf(At("a.rar"))), "a");
  EXPECT_TRUE(fsys().DeleteFile(At("a.rar")));
  EXPECT_TRUE(NamesIn(root()).empty());
  EXPECT_FALSE(fsys().SetReadOnly(At("a.rar"), true)) << "no file, no attribute";
}

TEST_P(FileSystemContract, WritableFolderTestLeavesTheUsersFolderAlone) {
  EXPECT_TRUE(IsFolderWritable(router(), " " + root() + " "));
  EXPECT_TRUE(NamesIn(root()).empty());

  // The user's own folder of that name, with a read-only file in it.
  const std::string users = At(kWritableTestFolderName);
  ASSERT_TRUE(fsys().MakeFolder(users));
  Make(JoinPath(users, "ro.rar"), "ro");
  ASSERT_TRUE(fsys().SetReadOnly(JoinPath(users, "ro.rar"), true));
  EXPECT_TRUE(IsFolderWritable(router(), root()));
  EXPECT_EQ(NamesIn(root()), std::vector<std::string>{kWritableTestFolderName});
  EXPECT_EQ(NamesIn(users), std::vector<std::string>{"ro.rar"});

  // Two tests at the same moment both succeed and leave nothing behind.
  std::atomic<int> refused{0};
  const auto test = [&] {
    for (int i = 0; i < 20; ++i)
      if (!IsFolderWritable(router(), root())) ++refused;
  };
  std::thread other(test);
  test();
  other.join();
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(NamesIn(root()), std::vector<std::string>{kWritableTestFolderName});

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

  FileOutcome outcome = fsys().CopyFromLocal(source, target, false, {});
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

  // A name near the limit of 255 bytes: 82 three-byte characters + ".rar".
  std::string longName;
  for (int i = 0; i < 82; ++i) longName += "账";
  longName += ".rar";
  outcome = fsys().CopyFromLocal(source, At(longName), false, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(ReadFile(backend_->LocalPathOf(At(longName))), "new");
}

// While a copy runs, the only new name in the folder is a temporary one with
// this agent's marker; afterwards only the final name is there.
TEST_P(FileSystemContract, CopyGoesThroughAMarkedTemporaryName) {
  const std::string source = scratch_ / "src.bin";
  WriteFile(source, std::string(3 * 1024 * 1024, 'x'));
  Make(At("other.rar"), "o");
  const std::string physicalRoot = backend_->LocalPathOf(root());
  std::vector<std::string> during;
  const FileOutcome outcome =
      fsys().CopyFromLocal(source, At("a.rar"), false, [&](std::uint64_t, std::uint64_t) {
        if (during.empty())
          for (const auto& e : fs::directory_iterator(physicalRoot))
            during.push_back(e.path().filename().string());
      });
  ASSERT_TRUE(outcome.ok) << outcome.error;
  std::sort(during.begin(), during.end());
  ASSERT_EQ(during.size(), 2u);
  EXPECT_EQ(during[1], "other.rar");
  EXPECT_TRUE(IsTemporaryCopyName(during[0], kOurs)) << during[0];
  EXPECT_EQ(NamesIn(root()), (std::vector<std::string>{"a.rar", "other.rar"}));
}

// A source that is not a regular file is refused before anything travels.
TEST_P(FileSystemContract, OnlyRegularFilesAreCopied) {
  WriteFile(scratch_ / "file", "x");
  fs::create_symlink(scratch_ / "file", scratch_ / "link");
  ASSERT_EQ(::mkfifo((scratch_ / "fifo").c_str(), 0600), 0);
  for (const std::string& source : {scratch_ / "link", scratch_ / "fifo", scratch_.str()}) {
    SCOPED_TRACE(source);
    const FileOutcome outcome = fsys().CopyFromLocal(source, At("a.rar"), true, {});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "not a regular file");
  }
  EXPECT_TRUE(NamesIn(root()).empty());
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
    const FileOutcome outcome =
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

TEST_P(FileSystemContract, OnlyOurOwnStaleTemporaryFilesAreRemoved) {
  const std::string ours[] = {TemporaryCopyName(kOurs, "old1.rar"),
                              TemporaryCopyName(kOurs, "old2.rar")};
  const std::vector<std::string> kept = {
      TemporaryCopyName(kTheirs, "old1.rar"),  // another application folder's, maybe in flight
      TemporaryCopyName(CopyMarker::For("other-pc", "/opt/veltora"), "x.rar"),  // another machine's
      "old.rar",
      "~notes.txt",
  };
  for (const auto& name : ours) Make(At(name), "partial");
  for (const auto& name : kept) Make(At(name), "kept");
  EXPECT_EQ(RemoveStaleTemporaryFiles(fsys(), root()), 2);
  std::vector<std::string> expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(NamesIn(root()), expected);
  EXPECT_EQ(RemoveStaleTemporaryFiles(fsys(), At("missing")), -1);
}

// A backup coming back to this machine: whole, under a marked temporary name
// while it travels, owner-only whatever the source's mode, and never over a
// file that is there unless told.
TEST_P(FileSystemContract, CopyToLocalIsByteIdenticalOwnerOnlyAndNeverOverwritesWhenTold) {
  std::string content(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 256);
  const std::string source = At("备份 账套 01.rar");
  Make(source, content);
  const std::string physical = backend_->LocalPathOf(source);
  ASSERT_EQ(::chmod(physical.c_str(), 0644), 0);
  const struct timespec times[2] = {{0, UTIME_OMIT},
                                    {testing::LocalSeconds(2022, 11, 12, 13, 14, 15), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, physical.c_str(), times, 0), 0);

  const std::string into = scratch_ / "restore";
  fs::create_directory(into);
  const std::string target = JoinPath(into, "账套.AIS");
  std::vector<std::string> during;
  std::vector<CopyPass> passes;
  std::uint64_t lastDone = 0;
  FileOutcome outcome = fsys().CopyToLocal(source, target, false,
                                           [&](CopyPass pass, std::uint64_t done, std::uint64_t) {
                                             if (during.empty()) during = testing::FilesIn(into);
                                             passes.push_back(pass);
                                             lastDone = done;
                                           });
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_TRUE(ReadFile(target) == content);
  EXPECT_TRUE(testing::IsOwnerOnly(target));
  EXPECT_EQ(GetFileDate(target, FileTime::kLastWrite),
            ToDateTime(LocalTime{2022, 11, 12, 13, 14, 14}));
  ASSERT_EQ(during.size(), 1u);
  EXPECT_TRUE(IsTemporaryCopyName(during[0], kOurs)) << during[0];
  EXPECT_TRUE(
      std::all_of(passes.begin(), passes.end(), [](CopyPass p) { return p == CopyPass::kWrite; }));
  EXPECT_EQ(lastDone, content.size());

  // Someone's own file under the name: refused and kept, unless told.
  WriteFile(target, "mine");
  ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
  outcome = fsys().CopyToLocal(source, target, false, {});
  EXPECT_FALSE(outcome.ok);
  EXPECT_FALSE(outcome.error.empty());
  EXPECT_EQ(ReadFile(target), "mine");
  outcome = fsys().CopyToLocal(source, target, true, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_TRUE(ReadFile(target) == content);
  EXPECT_TRUE(testing::IsOwnerOnly(target)) << "the replaced file's mode is not kept";
  EXPECT_EQ(testing::FilesIn(into), std::vector<std::string>{"账套.AIS"});
}

TEST_P(FileSystemContract, FailedCopyToLocalSaysWhyAndLeavesNothing) {
  Make(At("a.rar"), std::string(3 * 1024 * 1024, 'x'));
  ASSERT_TRUE(fsys().MakeFolder(At("sub")));
  const std::string into = scratch_ / "restore";
  fs::create_directory(into);
  const CopyProgress cancel = [](CopyPass, std::uint64_t, std::uint64_t) {
    throw std::runtime_error("cancelled");
  };
  const struct Case {
    const char* what;
    std::string source;
    std::string target;
    CopyProgress progress;
  } cases[] = {
      {"a missing source", At("missing.rar"), JoinPath(into, "a.AIS"), {}},
      {"a source in a missing folder",
       JoinPath(At("missing"), "a.rar"),
       JoinPath(into, "a.AIS"),
       {}},
      {"a folder as the source", At("sub"), JoinPath(into, "a.AIS"), {}},
      {"a target in a missing folder", At("a.rar"), JoinPath(scratch_ / "missing", "a.AIS"), {}},
      {"the copy is abandoned", At("a.rar"), JoinPath(into, "a.AIS"), cancel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FileOutcome outcome = fsys().CopyToLocal(c.source, c.target, false, c.progress);
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_TRUE(testing::FilesIn(into).empty()) << "neither the target nor a temporary file";
  }
  EXPECT_FALSE(fs::exists(scratch_ / "missing"));
  EXPECT_EQ(NamesIn(root()), (std::vector<std::string>{"a.rar", "sub"}));
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
