// Copying the run's archives to the remote folder. Never overwrites, never
// deletes a backup; tells the caller which file names reached the share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/line_log.h"
#include "files/file_system.h"
#include "files/share_connection.h"

namespace veltora {

// "|a.rar|b.rar|": empty when the copy never started, "|" when it started and
// copied nothing.
struct CopiedNames {
  std::string text;
  bool Started() const { return !text.empty(); }
  // Whether `name` was copied: an exact name, never a substring of another.
  bool Contains(const std::string& name) const;
  // The names copied, in the order of the copies.
  std::vector<std::string> Names() const;
};

// Asked when the share already holds a file under the name of a local file
// that is to be copied (`name`, without folder). For a file that must reach
// the share (this run's backup, whose name another agent took in the same
// second) it gives the local file a free name and answers that name, under
// which the copy then goes; an empty answer leaves the file where it is (an
// earlier run's copy is there already).
using NameTaken = std::function<std::string(const std::string& name)>;

// The longest file name, in bytes, a copy to the share is attempted with.
inline constexpr std::size_t kMaxShareNameBytes = 255;

// Whether a share can hold a file of this name as one name: no separator, none
// of : * ? " < > |, no control character, no trailing dot or blank, at most
// kMaxShareNameBytes bytes.
bool ShareCanHoldName(const std::string& name);

// Progress of the copy of each file, by the file's name (without folder).
using NamedCopyProgress = std::function<void(const std::string& name, CopyPass pass,
                                             std::uint64_t done, std::uint64_t total)>;

// Copies every file matching the mask directly in the local folder that the
// remote folder lacks. Each copy is written under a temporary name on the
// share and renamed into place only when complete, of the right size and read
// back equal to the local file, so an interrupted or damaged copy never stands
// under a backup's name (the no-overwrite rule would keep it forever); this
// agent's temporary files left by earlier, interrupted runs are removed first.
// Each failed copy writes its line with the reason; a name the share cannot
// hold is not sent. `progress` hears each copy's passes (CopyProgress). A name
// the share holds already is never overwritten: `taken` may rename the local
// file (NameTaken), also when the name was taken while the copy was on its way.
CopiedNames CopyToShare(const FileSystemRouter& fs, ShareConnector& share, LineLog& log,
                        const std::string& user, const std::string& password,
                        const std::string& localFolder, const std::string& remoteFolder,
                        const std::string& mask, const NamedCopyProgress& progress = {},
                        const NameTaken& taken = {});

}  // namespace veltora
