#include "files/folder_listing.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "files/folder_entries.h"

namespace veltora {
namespace {

constexpr char kEverything[] = "*.*";
constexpr std::string_view kRemovedFromMasks = "\\/:>\"<|";

// One character of a name or mask: the bytes of one UTF-8 sequence, or a
// single byte where the text is no valid UTF-8.
std::vector<std::string_view> SplitCharacters(std::string_view text) {
  std::vector<std::string_view> out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 1;
    if (i + length > text.size()) length = 1;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        length = 1;
        break;
      }
    }
    out.push_back(text.substr(i, length));
    i += length;
  }
  return out;
}

bool IgnoresCase(std::string_view folder) {
#ifdef _WIN32
  (void)folder;
  return true;
#else
  return IsSharePath(folder);
#endif
}

// Case-insensitive name order (ASCII letters upper-cased), ties broken by the
// name as stored so that the order never depends on the file system's.
void SortByName(std::vector<internal::FolderEntry>& entries) {
  std::vector<std::pair<std::string, std::size_t>> keys;
  keys.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    keys.emplace_back(UpperAscii(entries[i].name), i);
  std::sort(keys.begin(), keys.end(), [&entries](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return entries[a.second].name < entries[b.second].name;
  });
  std::vector<internal::FolderEntry> sorted;
  sorted.reserve(entries.size());
  for (const auto& key : keys) sorted.push_back(std::move(entries[key.second]));
  entries = std::move(sorted);
}

// Appends the matches of one folder, then of its subfolders depth-first.
bool ListInto(std::vector<std::string>& list, const std::string& folder, const std::string& mask,
              bool recurse, int entryKind) {
  std::vector<internal::FolderEntry> entries;
  if (!internal::ReadFolderEntries(folder, entries)) return false;
  SortByName(entries);
  for (const auto& entry : entries) {
    const bool wanted = entry.isFolder ? entryKind != kFilesOnly : entryKind != kFoldersOnly;
    if (wanted && MatchesMask(entry.name, mask)) list.push_back(JoinPath(folder, entry.name));
  }
  if (recurse) {
    // A subfolder that cannot be read is skipped; its siblings still count.
    for (const auto& entry : entries) {
      if (entry.isFolder && !entry.isLink)
        ListInto(list, JoinPath(folder, entry.name), mask, true, entryKind);
    }
  }
  return true;
}

}  // namespace

std::string NormaliseMask(const std::string& mask, bool wrap) {
  try {
    std::string kept;
    kept.reserve(mask.size());
    for (const char c : mask)
      if (kRemovedFromMasks.find(c) == std::string_view::npos) kept.push_back(c);
    const std::string cleaned = Trim(kept);
    if (cleaned.empty()) return kEverything;
    if (cleaned.find_first_of("*?") != std::string::npos || !wrap) return cleaned;
    return "*" + cleaned + "*";
  } catch (...) {
    return kEverything;
  }
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask == kEverything) return true;
  const auto n = SplitCharacters(name);
  const auto m = SplitCharacters(mask);
  const auto same = [](std::string_view a, std::string_view b) {
    return a.size() == 1 && b.size() == 1 ? EqualsIgnoreAsciiCase(a, b) : a == b;
  };
  // Greedy match that backtracks to the last '*' on a mismatch: linear space,
  // no recursion, whatever the number of stars.
  std::size_t ni = 0;
  std::size_t mi = 0;
  std::size_t starAt = std::string::npos;
  std::size_t resumeAt = 0;
  while (ni < n.size()) {
    if (mi < m.size() && m[mi] == "*") {
      starAt = mi++;
      resumeAt = ni;
    } else if (mi < m.size() && (m[mi] == "?" || same(m[mi], n[ni]))) {
      ++ni;
      ++mi;
    } else if (starAt != std::string::npos) {
      mi = starAt + 1;
      ni = ++resumeAt;
    } else {
      return false;
    }
  }
  while (mi < m.size() && m[mi] == "*") ++mi;
  return mi == m.size();
}

bool ListFolderEntries(std::vector<std::string>* list, const std::string& folder,
                       const std::string& mask, bool wrap, int attributeFilter, bool recurse,
                       int entryKind) {
  if (list == nullptr) return false;
  try {
    const std::string trimmed = Trim(folder);
    if (trimmed.empty() || !FolderExists(trimmed)) return false;
    const std::string cleanedMask = NormaliseMask(mask, wrap);
    if (entryKind < kFilesAndFolders || entryKind > kFoldersOnly) entryKind = kFilesAndFolders;
    // POSIX files carry no Windows attributes: every filter value takes all.
    (void)attributeFilter;
    const std::string searched =
        WithoutTrailingSeparators(IgnoresCase(trimmed) ? UpperAscii(trimmed) : trimmed);
    if (!FolderExists(searched)) return false;
    return ListInto(*list, searched, cleanedMask, recurse, entryKind);
  } catch (...) {
    return false;
  }
}

int CountFiles(const std::string& folder, const std::string& mask, bool recurse) {
  try {
    std::vector<std::string> found;
    if (!ListFolderEntries(&found, folder, mask, false, kNoAttributeFilter, recurse, kFilesOnly))
      return 0;
    return static_cast<int>(found.size());
  } catch (...) {
    return 0;
  }
}

std::string FolderOfExistingFile(const std::string& path) {
  try {
    const std::string trimmed = Trim(path);
    if (trimmed.empty() || !FileExists(trimmed)) return std::string();
    const std::size_t cut = trimmed.rfind(SeparatorFor(trimmed));
    if (cut == std::string::npos) return std::string();
    std::string folder = trimmed.substr(0, cut);
    // A root keeps its separator: "/" on POSIX, "C:\" on Windows.
    if (folder.empty() || (folder.size() == 2 && folder[1] == ':'))
      folder = trimmed.substr(0, cut + 1);
    return FolderExists(folder) ? folder : std::string();
  } catch (...) {
    return std::string();
  }
}

}  // namespace veltora
