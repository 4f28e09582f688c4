// Test scaffolding: a real temporary folder removed at the end of the test,
// and the skip rule for tests that need a real component.
#pragma once

#include <gtest/gtest.h>

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
  std::string str() const { return path_.string(); }
  // Path of a child, as a string.
  std::string operator/(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::string& path, std::string_view content);
std::string ReadFile(const std::string& path);

// The names in a folder (its top only), sorted.
std::vector<std::string> FilesIn(const std::string& folder);

// One word for /bin/sh: single-quoted, an inner quote written '\''.
std::string ShellQuoted(const std::string& text);

// True when CI forbids skipping a test whose real component is missing.
bool SkipDisallowed();

}  // namespace veltora::testing

// Skips a test that needs a component this machine lacks; fails instead under
// VELTORA_TEST_DISALLOW_SKIP=1 (CI), where every component must be present.
#define VELTORA_SKIP_OR_FAIL(why)                              \
  do {                                                         \
    if (::veltora::testing::SkipDisallowed()) FAIL() << (why); \
    GTEST_SKIP() << (why);                                     \
  } while (0)
