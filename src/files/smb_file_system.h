// Windows shares (\\server\share\dir) reached with libsmbclient: the share
// side of the file-system router, and the connection that ConnectShare opens.
//
// libsmbclient is loaded with dlopen on the first share operation of each
// object, not linked: an agent that never reaches a share does not carry it.
// When it cannot be loaded, every operation fails, Connect answers 1222 (the
// code Windows gives when no network client is installed), a copy's reason and
// UnavailableReason() say "cannot load <library>: " and the loader's words.
//
// A share path maps to smb://server:PORT/share/dir with every byte that a URL
// may not hold as it is percent-encoded, so blanks and Chinese names work.
//
// Threads: a libsmbclient context is not safe for concurrent use. Every public
// call takes the object's lock and does its work through private helpers that
// expect the lock held, so a shared object is safe, but its calls wait for one
// another; a backup run is meant to have its own object.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/file_system.h"
#include "files/share_connection.h"

namespace veltora {

inline constexpr std::uint16_t kDefaultSmbPort = 445;
inline constexpr std::chrono::milliseconds kDefaultSmbTimeout{20000};
// The file name the client library is loaded under (its soname).
inline constexpr char kSmbClientLibrary[] = "libsmbclient.so.0";

// smb://server:port/share/dir/name for \\server\share\dir\name (either slash
// accepted as separator, repeated and trailing separators ignored); empty
// when the path is no share path or names no server. Port 0 counts as 445.
std::string SmbUrlFor(const std::string& sharePath, std::uint16_t port);

class SmbFileSystem final : public FileSystem, public ShareConnector {
 public:
  // `port`: the server's SMB port. `timeout`: how long one request waits for
  // the server's answer before it fails, so that a stalled server ends any
  // call, a copy included, within a small multiple of it (the request, then
  // the clean-up's). `marker`: as LocalFileSystem's. `library`: the file
  // dlopen loads the client from, a name to search for or a path.
  explicit SmbFileSystem(std::uint16_t port = kDefaultSmbPort,
                         std::chrono::milliseconds timeout = kDefaultSmbTimeout,
                         CopyMarker marker = {}, std::string library = kSmbClientLibrary,
                         AfterTimeout afterTimeout = AfterTimeout::kAskAgain);
  ~SmbFileSystem() override;
  SmbFileSystem(const SmbFileSystem&) = delete;
  SmbFileSystem& operator=(const SmbFileSystem&) = delete;

  // Drops every cached connection, keeps the account for all later calls
  // ("DOMAIN\user" and "machine\user" are split into workgroup and user) and
  // opens the share. Answers 0 or a Windows error code: 53 when the server
  // cannot be reached, 67 when it has no such share, 1326 when it refuses the
  // account (Samba does not say whether the user or the password was wrong),
  // 5 when the account may not use the share, 1222 when libsmbclient cannot
  // be loaded, 59 for anything else.
  int Connect(const std::string& sharePath, const std::string& user,
              const std::string& password) override;
  // Loads libsmbclient if no call has yet.
  std::string UnavailableReason() override;

  const CopyMarker& marker() const override { return marker_; }
  bool IsFile(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  // One listing request gives every entry with its creation time and its
  // read-only attribute.
  bool ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) override;
  DateTime CreationTime(const std::string& path) override;
  DateTime LastAccessTime(const std::string& path) override;
  DateTime LastWriteTime(const std::string& path) override;
  FileOutcome MakeFolder(const std::string& path) override;
  FileOutcome RemoveFolder(const std::string& path) override;
  FileOutcome DeleteFile(const std::string& path) override;
  FileOutcome Rename(const std::string& from, const std::string& to) override;
  FileOutcome SetReadOnly(const std::string& path, bool readOnly) override;
  // Streams through a 1 MiB buffer into a temporary file beside the target,
  // checks its size, reads it back from the share and compares it with the
  // source, and only then renames it into place. Progress reports both passes:
  // the bytes sent, then the bytes read back and compared. With `overwrite` false an existing
  // target fails the copy: the check is made before the bytes travel and again
  // right before the rename, as libsmbclient offers no rename that refuses an
  // existing name (a file that appears between that check and the rename would
  // be replaced).
  FileOutcome CopyFromLocal(const std::string& localSource, const std::string& target,
                            bool overwrite, const CopyProgress& progress) override;
  // Reads the share file through a 1 MiB buffer into a temporary file beside
  // the local target. A server that stops answering ends the copy with the
  // time-out's reason, after the read's time-out and then the clean-up's
  // (closing the share file asks the server again).
  FileOutcome CopyToLocal(const std::string& source, const std::string& localTarget, bool overwrite,
                          const CopyProgress& progress) override;

  std::uint16_t port() const { return port_; }

 private:
  // The libsmbclient context, the account and every operation's work. Its
  // members expect mutex_ held and never take it, so one operation may build
  // on another.
  class Session;

  const std::uint16_t port_;
  const CopyMarker marker_;
  std::mutex mutex_;
  const std::unique_ptr<Session> session_;
};

}  // namespace veltora
