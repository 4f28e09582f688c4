// Windows shares (\\server\share\dir) reached with libsmbclient: the share
// side of the file-system router, and the connection that ConnectShare opens.
//
// A share path maps to smb://server:PORT/share/dir with every byte that a URL
// may not hold as it is percent-encoded, so blanks and Chinese names work.
// PORT is 445 unless VELTORA_SMB_PORT names another (the tests run their
// Samba server on an unprivileged loopback port).
//
// Threads: libsmbclient contexts are not safe for concurrent use. Every call
// takes the object's lock, so a shared object is safe, but calls then wait for
// one another; a backup thread is meant to have its own object.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/file_system.h"
#include "files/share_connection.h"

namespace veltora {

// VELTORA_SMB_PORT when it holds a port number (1..65535), else 445.
std::uint16_t SmbPortFromEnvironment();

// smb://server:port/share/dir/name for \\server\share\dir\name (either slash
// accepted as separator, repeated and trailing separators ignored); empty
// when the path is no share path or names no server.
std::string SmbUrlFor(const std::string& sharePath, std::uint16_t port);

class SmbFileSystem final : public FileSystem, public ShareConnector {
 public:
  // `port` 0 takes SmbPortFromEnvironment().
  explicit SmbFileSystem(std::uint16_t port = 0);
  ~SmbFileSystem() override;
  SmbFileSystem(const SmbFileSystem&) = delete;
  SmbFileSystem& operator=(const SmbFileSystem&) = delete;

  // Drops every cached connection, keeps the account for all later calls
  // ("DOMAIN\user" and "machine\user" are split into workgroup and user) and
  // opens the share. Answers 0 or a Windows error code: 53 when the server
  // cannot be reached, 67 when it has no such share, 1326 when it refuses the
  // account (Samba does not say whether the user or the password was wrong),
  // 5 when the account may not use the share, 59 for anything else.
  int Connect(const std::string& sharePath, const std::string& user,
              const std::string& password) override;

  bool IsFile(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  // One listing request gives every entry with its creation time.
  bool ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) override;
  DateTime CreationTime(const std::string& path) override;
  DateTime LastAccessTime(const std::string& path) override;
  DateTime LastWriteTime(const std::string& path) override;
  bool MakeFolder(const std::string& path) override;
  bool RemoveFolder(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool SetReadOnly(const std::string& path, bool readOnly) override;
  // Streams through a 1 MiB buffer into TemporaryCopyName(name) beside the
  // target and renames it into place once complete with the source's size.
  // With `overwrite` false an existing target fails the copy; the check is made
  // before the bytes travel and again right before the rename, as SMB offers
  // libsmbclient no rename that refuses an existing name.
  CopyOutcome CopyFromLocal(const std::string& localSource, const std::string& target,
                            bool overwrite, const CopyProgress& progress) override;

  std::uint16_t port() const { return port_; }

 private:
  struct Session;

  std::string Url(const std::string& path) const { return SmbUrlFor(path, port_); }
  // The access (or else last-write) time from a stat of the path.
  DateTime StatTime(const std::string& path, bool access);

  const std::uint16_t port_;
  std::recursive_mutex mutex_;
  std::unique_ptr<Session> session_;
};

}  // namespace veltora
