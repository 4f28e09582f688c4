// The file systems of one backup run as the front ends make them: the local
// disk and libsmbclient for share paths, fresh for each run.
#pragma once

#include <chrono>
#include <cstdint>

#include "files/file_system.h"
#include "files/local_file_system.h"
#include "files/smb_file_system.h"

namespace veltora {

class LocalAndSmbFileSystems final : public RunFileSystems {
 public:
  LocalAndSmbFileSystems(std::uint16_t smbPort, std::chrono::milliseconds smbTimeout,
                         const CopyMarker& marker)
      : local_(marker), share_(smbPort, smbTimeout, marker), router_(local_, &share_) {}
  const FileSystemRouter& Router() const override { return router_; }
  ShareConnector& Share() override { return share_; }

 private:
  LocalFileSystem local_;
  SmbFileSystem share_;
  FileSystemRouter router_;
};

}  // namespace veltora
