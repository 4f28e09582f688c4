// POSIX only: the work behind SmbFileSystem's public calls, one libsmbclient
// context and the account it authenticates with. Included by the SMB client's
// *_posix.cpp files alone.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "files/smb_client_library_posix.h"
#include "files/smb_file_system.h"

namespace veltora {

namespace internal {
// Windows error codes that Connect answers.
constexpr int kAccessDenied = 5;         // ERROR_ACCESS_DENIED
constexpr int kBadNetPath = 53;          // ERROR_BAD_NETPATH
constexpr int kUnexpectedNetError = 59;  // ERROR_UNEXP_NET_ERR
constexpr int kBadNetName = 67;          // ERROR_BAD_NET_NAME
constexpr int kLogonFailure = 1326;      // ERROR_LOGON_FAILURE
// ERROR_NO_NETWORK, Windows' answer when no network client is installed:
// here, when libsmbclient cannot be loaded.
constexpr int kNoNetwork = 1222;
}  // namespace internal

// One libsmbclient context and the account it authenticates with. The
// context keeps the connections; recreating it drops them all.
class SmbFileSystem::Session {
 public:
  Session(std::uint16_t port, std::chrono::milliseconds timeout, const CopyMarker& marker,
          std::string library, AfterTimeout afterTimeout)
      : port_(port),
        timeout_(timeout),
        marker_(marker),
        afterTimeout_(afterTimeout),
        library_(std::move(library)) {}

  // Held by every public call: the object's lock, and this session named as
  // the one whose account the library's callback hands out on this thread.
  // libsmbclient asks for the account inside the request that needs it, on
  // the requesting thread; the callback cannot ask the context for its owner,
  // as that too would be a call into the library.
  //
  // A call that ends with the server's time-out (errno ETIMEDOUT) marks the
  // session stalled: see Stalled().
  class Call {
   public:
    Call(std::mutex& mutex, Session& session)
        : lock_(mutex), session_(session), previous_(current_) {
      current_ = &session;
      errno = 0;
    }
    ~Call() {
      if (errno == ETIMEDOUT) session_.MarkStalled();
      current_ = previous_;
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

   private:
    std::lock_guard<std::mutex> lock_;
    Session& session_;
    Session* previous_;
  };

  // With AfterTimeout::kFailAtOnce, a server that has let one request run
  // into the time-out is not asked again: every later call (a connection
  // included) fails at once, a changing call with the time-out's reason.
  bool Stalled() const { return stalled_; }
  void MarkStalled() { stalled_ = afterTimeout_ == AfterTimeout::kFailAtOnce; }

  // Empty, or why the library cannot serve any share (loading it if need be).
  std::string Unavailable() { return library_.Get() != nullptr ? std::string() : library_.error(); }

  int Connect(const std::string& sharePath, const std::string& user, const std::string& password);
  bool Stat(const std::string& path, struct stat& st);
  bool ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries);
  DateTime CreationTime(const std::string& path);
  DateTime StatTime(const std::string& path, bool access);
  FileOutcome MakeFolder(const std::string& path);
  FileOutcome RemoveFolder(const std::string& path);
  FileOutcome DeleteFile(const std::string& path);
  FileOutcome Rename(const std::string& from, const std::string& to);
  FileOutcome SetReadOnly(const std::string& path, bool readOnly);
  FileOutcome Copy(const std::string& localSource, const std::string& target, bool overwrite,
                   const CopyProgress& progress);
  FileOutcome CopyToLocal(const std::string& source, const std::string& localTarget, bool overwrite,
                          const CopyProgress& progress);

 private:
  std::string Url(const std::string& path) const { return SmbUrlFor(path, port_); }

  // The context, made on first use (the library is loaded then if it is not
  // yet): before any Connect it authenticates with an empty account and is
  // refused everywhere. Null when it cannot be made, and while the session is
  // stalled; smb_ is set whenever it is not.
  SMBCCTX* Context();
  // The failure of a call that found no context: the time-out's reason while
  // stalled, the loader's words when the library is missing.
  FileOutcome NoContext();

  // 1 when something holds the name, 0 when nothing does, -1 (errno set) when
  // the share cannot tell.
  int Exists(SMBCCTX* ctx, const std::string& url);

  static void Authenticate(SMBCCTX* c, const char* server, const char* share, char* workgroupOut,
                           int workgroupSize, char* userOut, int userSize, char* passwordOut,
                           int passwordSize);

  static thread_local Session* current_;

  const std::uint16_t port_;
  const std::chrono::milliseconds timeout_;
  const CopyMarker& marker_;
  const AfterTimeout afterTimeout_;
  internal::SmbClientLibrary library_;
  const internal::SmbClientApi* smb_ = nullptr;
  std::string workgroup_;
  std::string user_;
  std::string password_;
  internal::ScopedSmbContext ctx_;
  bool stalled_ = false;
};

}  // namespace veltora
