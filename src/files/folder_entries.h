// Internal to veltora_files: reading the raw entries of one folder, the only
// platform-specific step of ListFolderEntries.
#pragma once

#include <string>
#include <vector>

namespace veltora::internal {

struct FolderEntry {
  std::string name;       // as stored
  bool isFolder = false;  // a folder, or a link to one
  bool isLink = false;    // a symbolic link: never descended into
};

// Appends every entry of the folder except "." and "..", in no particular
// order. False when the folder cannot be read.
bool ReadFolderEntries(const std::string& folder, std::vector<FolderEntry>& out);

}  // namespace veltora::internal
