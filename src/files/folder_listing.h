// Listing and counting the entries of a folder that match a Windows search
// mask, and this machine's name. Stateless; every error becomes the
// failure value.
//
// The path-only forms serve the local disk, where a share path (beginning
// with two backslashes) lists and counts as a missing folder (false, 0); the
// forms taking a FileSystemRouter, at the end, serve shares as well with the
// same code.
#pragma once

#include <string>
#include <vector>

#include "base/date_time.h"

namespace veltora {

// Entry kinds of ListFolderEntries.
inline constexpr int kFilesAndFolders = 0;
inline constexpr int kFilesOnly = 1;
inline constexpr int kFoldersOnly = 2;
inline constexpr int kNoAttributeFilter = -7;

// Removes \ / : > " < | from the mask and trims it; empty becomes "*.*"; with
// wrap on, a mask without wildcards becomes "*mask*".
std::string NormaliseMask(const std::string& mask, bool wrap);

// Windows wildcard match (* any run, empty included; ? exactly one character,
// a multi-byte UTF-8 character counting as one), ASCII case ignored. As on
// Windows, "*.*" matches every name, names without a dot included.
bool MatchesMask(const std::string& name, const std::string& mask);

// Appends folder + separator + name for each matching entry: the folder's own
// entries in case-insensitive name order (ASCII upper-cased, ties by the name
// as stored), then each subfolder's depth-first when recursing. The folder part
// keeps no trailing separators; the name is as stored. The folder part is
// upper-cased (ASCII letters only) where the file system ignores case (Windows,
// share paths); a local POSIX folder stays as given, since an upper-cased POSIX
// path names another file or none. Subfolders are searched with the same
// cleaned mask as the folder itself, and a symbolic link to a folder is listed
// as a folder but never descended into, so a link loop cannot recurse forever.
// True when the folder could be searched. A null list gives false; entries
// found before a failure stay in the list.
//
// entryKind: kFilesAndFolders, kFilesOnly or kFoldersOnly; other values count
// as kFilesAndFolders. attributeFilter: Windows attribute bits; POSIX files
// have no such attributes, so on POSIX every value means no filter (every
// caller passes kNoAttributeFilter anyway).
bool ListFolderEntries(std::vector<std::string>* list, const std::string& folder,
                       const std::string& mask, bool wrap, int attributeFilter, bool recurse,
                       int entryKind);

// Number of matching files (wrap off, files only); 0 on any failure, the same
// as for a folder without matching files.
int CountFiles(const std::string& folder, const std::string& mask, bool recurse);

// The folder of an existing file (a root keeps its separator), or empty.
std::string FolderOfExistingFile(const std::string& path);

// This machine's network name, as other machines on the network know it;
// empty when it cannot be read. With the application folder it makes the
// marker of this agent's temporary copies (CopyMarker::For).
std::string MachineName();

}  // namespace veltora

// The listing for any path, local or on a share, through the router.
namespace veltora {
class FileSystemRouter;
bool ListFolderEntries(const FileSystemRouter& fs, std::vector<std::string>* list,
                       const std::string& folder, const std::string& mask, bool wrap,
                       int attributeFilter, bool recurse, int entryKind);
int CountFiles(const FileSystemRouter& fs, const std::string& folder, const std::string& mask,
               bool recurse);

// A matching file with its creation time, in the listing's order; what the
// retention sorts. Reads each creation time once, with the listing.
struct ListedFile {
  std::string path;
  DateTime created = kUnreadableTime;
};
bool ListFilesWithDates(const FileSystemRouter& fs, const std::string& folder,
                        const std::string& mask, bool recurse, std::vector<ListedFile>& out);
}  // namespace veltora
