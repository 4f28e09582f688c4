// The file systems of one backup run as the front ends make them, fresh for
// each run: the local disk, and for share paths libsmbclient on POSIX; on
// Windows the local file system serves UNC paths itself and the connection
// is the network provider's.
#pragma once

#include <chrono>
#include <cstdint>

#include "files/file_system.h"
#include "files/local_file_system.h"
#ifdef _WIN32
#include "files/share_connection.h"
#else
#include "files/smb_file_system.h"
#endif

namespace veltora {

#ifdef _WIN32
// Where the POSIX client's time-out is passed; Windows' client has its own.
inline constexpr std::chrono::milliseconds kDefaultSmbTimeout{20000};

class LocalAndSmbFileSystems final : public RunFileSystems {
 public:
  // The port and the time-out are the POSIX client's; Windows' own client
  // has its settings of its own.
  LocalAndSmbFileSystems(std::uint16_t, std::chrono::milliseconds, const CopyMarker& marker,
                         AfterTimeout = AfterTimeout::kAskAgain)
      : local_(marker), router_(local_, &local_) {}
  const FileSystemRouter& Router() const override { return router_; }
  ShareConnector& Share() override { return share_; }

 private:
  LocalFileSystem local_;
  WNetShareConnector share_;
  FileSystemRouter router_;
};
#else

class LocalAndSmbFileSystems final : public RunFileSystems {
 public:
  LocalAndSmbFileSystems(std::uint16_t smbPort, std::chrono::milliseconds smbTimeout,
                         const CopyMarker& marker,
                         AfterTimeout afterTimeout = AfterTimeout::kAskAgain)
      : local_(marker),
        share_(smbPort, smbTimeout, marker, kSmbClientLibrary, afterTimeout),
        router_(local_, &share_) {}
  const FileSystemRouter& Router() const override { return router_; }
  ShareConnector& Share() override { return share_; }

 private:
  LocalFileSystem local_;
  SmbFileSystem share_;
  FileSystemRouter router_;
};
#endif

}  // namespace veltora
