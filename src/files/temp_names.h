// The names copies are written under until they are complete.
//
// A copy goes to a temporary file beside its target and is renamed into place
// once whole (and, on a share, read back). Its name has a fixed length, so a
// target name as long as the file system allows can still be copied, and it
// carries the marker of the agent that writes it, so that the clean-up of
// leftovers never touches another agent's copy in flight: one on another
// machine, or one run from another application folder on this machine, copying
// into the same share folder.
//
//   .veltora-MMMMMMMM-HHHHHHHH-RRRRRRRR.part
//
// M: the marker (8 hex digits), H: a hash of the final name (8 hex digits),
// R: 8 random characters [0-9a-z]. The leading dot hides it on POSIX.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace veltora {

// Identifies the agent that writes a temporary copy: a hash of the machine's
// name and the application folder, as 8 lowercase hex digits.
class CopyMarker {
 public:
  // The marker of no particular agent ("00000000"), for tests and tools.
  CopyMarker();

  // The marker of the agent run from `appFolder` on `machine`. The machine
  // name counts without regard to ASCII case; trailing separators of the
  // folder do not count.
  static CopyMarker For(std::string_view machine, std::string_view appFolder);

  const std::string& text() const { return text_; }
  bool operator==(const CopyMarker& other) const = default;

 private:
  explicit CopyMarker(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// Length of every temporary copy name, whatever the final name.
inline constexpr std::size_t kTemporaryCopyNameLength = 40;

// A fresh temporary name for a copy to `finalName` (a name, not a path). Two
// calls never answer the same name in practice (the random part); writers
// still create the file exclusively and ask again on a collision.
std::string TemporaryCopyName(const CopyMarker& marker, std::string_view finalName);

// Whether `name` has the form of a temporary copy name of any agent, or of
// the agent with `marker`.
bool IsTemporaryCopyName(std::string_view name);
bool IsTemporaryCopyName(std::string_view name, const CopyMarker& marker);

// `length` random characters [0-9a-z], for names that must not collide.
std::string RandomToken(std::size_t length);

}  // namespace veltora
