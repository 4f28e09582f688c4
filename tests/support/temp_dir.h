// Test scaffolding: a real temporary folder removed at the end of the test,
// and the skip rule for tests that need a real component.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veltora::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder and its children as the program's UTF-8 strings.
  std::string str() const;
  std::string operator/(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

// Paths are the program's UTF-8 strings.
void WriteFile(const std::string& path, std::string_view content);
std::string ReadFile(const std::string& path);
// Bytes that do not compress, so that the archiver and the copies take a
// while and their files grow steadily; the same bytes for the same seed.
std::string Incompressible(std::size_t size, std::uint32_t seed);

// The names in a folder (its top only), sorted.
std::vector<std::string> FilesIn(const std::string& folder);

// One word for /bin/sh: single-quoted, an inner quote written '\''.
std::string ShellQuoted(const std::string& text);

// Whether only the file's owner may read and write it (on Windows: its own
// access list lets in its owner's user and the system account and no one
// else, and inherits nothing).
bool IsOwnerOnly(const std::string& path);
// Whether IsOwnerOnly can tell: not under Wine, which shows an access list made
// from the host's file mode instead of the one the program set. The descriptor
// the program asks for is tested on its own there.
bool OwnerOnlyObservable();

// True when CI forbids skipping a test whose real component is missing.
bool SkipDisallowed();

}  // namespace veltora::testing

#define VELTORA_EXPECT_OWNER_ONLY(path)                             \
  do {                                                              \
    if (::veltora::testing::OwnerOnlyObservable()) {                \
      EXPECT_TRUE(::veltora::testing::IsOwnerOnly(path)) << (path); \
    }                                                               \
  } while (0)

// Skips a test that needs a component this machine lacks; fails instead under
// VELTORA_TEST_DISALLOW_SKIP=1 (CI), where every component must be present.
#define VELTORA_SKIP_OR_FAIL(why)                              \
  do {                                                         \
    if (::veltora::testing::SkipDisallowed()) FAIL() << (why); \
    GTEST_SKIP() << (why);                                     \
  } while (0)
