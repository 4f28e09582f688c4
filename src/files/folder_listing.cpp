#include "files/folder_listing.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <string_view>
#include <utility>

#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "files/file_system.h"
#include "files/local_file_system.h"

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
void SortByName(std::vector<FolderEntry>& entries) {
  std::vector<std::pair<std::string, std::size_t>> keys;
  keys.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    keys.emplace_back(UpperAscii(entries[i].name), i);
  std::sort(keys.begin(), keys.end(), [&entries](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return entries[a.second].name < entries[b.second].name;
  });
  std::vector<FolderEntry> sorted;
  sorted.reserve(entries.size());
  for (const auto& key : keys) sorted.push_back(std::move(entries[key.second]));
  entries = std::move(sorted);
}

// Hands each matching entry (its full path and what the folder read said of
// it) to `take`: the folder's own entries first, then each subfolder's,
// depth-first.
using EntrySink = std::function<void(const std::string& path, const FolderEntry& entry)>;

bool Walk(FileSystem& fs, const std::string& folder, const std::string& mask, bool recurse,
          int entryKind, const EntrySink& take) {
  std::vector<FolderEntry> entries;
  if (!fs.ReadFolder(folder, entries)) return false;
  SortByName(entries);
  for (const auto& entry : entries) {
    const bool wanted = entry.isFolder ? entryKind != kFilesOnly : entryKind != kFoldersOnly;
    if (wanted && MatchesMask(entry.name, mask)) take(JoinPath(folder, entry.name), entry);
  }
  if (recurse) {
    // A subfolder that cannot be read is skipped; its siblings still count.
    for (const auto& entry : entries) {
      if (entry.isFolder && !entry.isLink)
        Walk(fs, JoinPath(folder, entry.name), mask, true, entryKind, take);
    }
  }
  return true;
}

// The common start of every listing: trims and checks the folder, cleans the
// mask, clamps the kind, and walks from the folder as the listing names it.
bool List(const FileSystemRouter& router, const std::string& folder, const std::string& mask,
          bool wrap, bool recurse, int entryKind, const EntrySink& take) {
  const std::string trimmed = Trim(folder);
  if (trimmed.empty()) return false;
  FileSystem& fs = router.For(trimmed);
  if (!fs.IsFolder(trimmed)) return false;
  const std::string cleanedMask = NormaliseMask(mask, wrap);
  if (entryKind < kFilesAndFolders || entryKind > kFoldersOnly) entryKind = kFilesAndFolders;
  const std::string searched =
      WithoutTrailingSeparators(IgnoresCase(trimmed) ? UpperAscii(trimmed) : trimmed);
  if (!fs.IsFolder(searched)) return false;
  return Walk(fs, searched, cleanedMask, recurse, entryKind, take);
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
  } catch (const std::exception&) {
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

bool ListFolderEntries(const FileSystemRouter& router, std::vector<std::string>* list,
                       const std::string& folder, const std::string& mask, bool wrap,
                       int attributeFilter, bool recurse, int entryKind) {
  if (list == nullptr) return false;
  // Neither POSIX files nor libsmbclient's listing carry the attributes the
  // filter tests; every caller passes kNoAttributeFilter anyway.
  (void)attributeFilter;
  try {
    return List(router, folder, mask, wrap, recurse, entryKind,
                [list](const std::string& path, const FolderEntry&) { list->push_back(path); });
  } catch (const std::exception&) {
    return false;
  }
}

int CountFiles(const FileSystemRouter& router, const std::string& folder, const std::string& mask,
               bool recurse) {
  try {
    std::vector<std::string> found;
    if (!ListFolderEntries(router, &found, folder, mask, false, kNoAttributeFilter, recurse,
                           kFilesOnly))
      return 0;
    return static_cast<int>(found.size());
  } catch (const std::exception&) {
    return 0;
  }
}

bool ListFilesWithDates(const FileSystemRouter& router, const std::string& folder,
                        const std::string& mask, bool recurse, std::vector<ListedFile>& out) {
  try {
    return List(router, folder, mask, false, recurse, kFilesOnly,
                [&out](const std::string& path, const FolderEntry& entry) {
                  out.push_back(ListedFile{path, entry.created});
                });
  } catch (const std::exception&) {
    return false;
  }
}

bool ListFolderEntries(std::vector<std::string>* list, const std::string& folder,
                       const std::string& mask, bool wrap, int attributeFilter, bool recurse,
                       int entryKind) {
  return WithLocal([&](const FileSystemRouter& r) {
    return ListFolderEntries(r, list, folder, mask, wrap, attributeFilter, recurse, entryKind);
  });
}

int CountFiles(const std::string& folder, const std::string& mask, bool recurse) {
  return WithLocal([&](const FileSystemRouter& r) { return CountFiles(r, folder, mask, recurse); });
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
  } catch (const std::exception&) {
    return std::string();
  }
}

}  // namespace veltora
