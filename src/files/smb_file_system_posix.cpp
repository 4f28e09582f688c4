#include <fcntl.h>
#include <libsmbclient.h>
#include <netdb.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "base/path.h"
#include "base/text.h"
#include "files/posix_internal.h"
#include "files/smb_file_system.h"

namespace veltora {
namespace {

constexpr std::uint16_t kDefaultSmbPort = 445;
constexpr std::size_t kCopyBuffer = 1u << 20;
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
constexpr int kSmbTimeoutMs = 20000;
constexpr unsigned kDirectoryAttribute = 0x10;

// Windows error codes that Connect answers.
constexpr int kAccessDenied = 5;         // ERROR_ACCESS_DENIED
constexpr int kBadNetPath = 53;          // ERROR_BAD_NETPATH
constexpr int kUnexpectedNetError = 59;  // ERROR_UNEXP_NET_ERR
constexpr int kBadNetName = 67;          // ERROR_BAD_NET_NAME
constexpr int kLogonFailure = 1326;      // ERROR_LOGON_FAILURE

std::string ErrorText(int err) { return std::error_code(err, std::generic_category()).message(); }

CopyOutcome Failed(int err) { return CopyOutcome{false, ErrorText(err)}; }

// The parts of a share path: server, share, then folders and name.
std::vector<std::string> SplitSharePath(const std::string& path) {
  std::vector<std::string> parts;
  if (!IsSharePath(path)) return parts;
  std::string part;
  for (std::size_t i = 2; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(path[i]);
    }
  }
  return parts;
}

void AppendEncoded(std::string& url, const std::string& part) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char ch : part) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      url.push_back(ch);
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 0xF]);
    }
  }
}

// Copies a credential into libsmbclient's buffer, always terminated.
void Put(char* buffer, int size, const std::string& value) {
  if (buffer == nullptr || size <= 0) return;
  const std::size_t n = std::min(value.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
}

int MapConnectError(int err) {
  switch (err) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ETIMEDOUT:
    case ECONNRESET:
    case ECONNABORTED:
    case ENETDOWN:
      return kBadNetPath;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return kBadNetName;
    case EACCES:
    case EPERM:
      return kLogonFailure;
    default:
      return kUnexpectedNetError;
  }
}

}  // namespace

std::uint16_t SmbPortFromEnvironment() {
  const char* text = std::getenv("VELTORA_SMB_PORT");
  if (text == nullptr || *text == '\0') return kDefaultSmbPort;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > 65535) return kDefaultSmbPort;
  return static_cast<std::uint16_t>(value);
}

std::string SmbUrlFor(const std::string& sharePath, std::uint16_t port) {
  const std::vector<std::string> parts = SplitSharePath(sharePath);
  if (parts.empty()) return std::string();
  std::string url = "smb://";
  AppendEncoded(url, parts[0]);
  url += ":" + std::to_string(port == 0 ? kDefaultSmbPort : port);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    url.push_back('/');
    AppendEncoded(url, parts[i]);
  }
  return url;
}

// One libsmbclient context and the account it authenticates with. The
// context keeps the connections; recreating it drops them all.
struct SmbFileSystem::Session {
  SMBCCTX* ctx = nullptr;
  std::string workgroup;
  std::string user;
  std::string password;

  ~Session() { Drop(); }

  void Drop() {
    if (ctx != nullptr) smbc_free_context(ctx, 1);
    ctx = nullptr;
  }

  static void Authenticate(SMBCCTX* c, const char* /*server*/, const char* /*share*/,
                           char* workgroupOut, int workgroupSize, char* userOut, int userSize,
                           char* passwordOut, int passwordSize) {
    const auto* self = static_cast<const Session*>(smbc_getOptionUserData(c));
    if (self == nullptr) return;
    if (!self->workgroup.empty()) Put(workgroupOut, workgroupSize, self->workgroup);
    Put(userOut, userSize, self->user);
    Put(passwordOut, passwordSize, self->password);
  }

  // A context, made on first use: before any Connect it authenticates with
  // an empty account and is refused everywhere.
  SMBCCTX* Get(std::uint16_t port) {
    if (ctx != nullptr) return ctx;
    SMBCCTX* fresh = smbc_new_context();
    if (fresh == nullptr) return nullptr;
    smbc_setDebug(fresh, 0);
    smbc_setOptionDebugToStderr(fresh, true);
    smbc_setOptionUserData(fresh, this);
    smbc_setFunctionAuthDataWithContext(fresh, &Session::Authenticate);
    // Exactly the configured account: no anonymous or guest fallback, no
    // Kerberos ticket of whoever runs the agent.
    smbc_setOptionNoAutoAnonymousLogin(fresh, true);
    smbc_setOptionUseKerberos(fresh, false);
    smbc_setOptionFallbackAfterKerberos(fresh, true);
    smbc_setOptionUseCCache(fresh, false);
    smbc_setPort(fresh, port);
    smbc_setTimeout(fresh, kSmbTimeoutMs);
    if (smbc_init_context(fresh) == nullptr) {
      smbc_free_context(fresh, 1);
      return nullptr;
    }
    ctx = fresh;
    return ctx;
  }
};

SmbFileSystem::SmbFileSystem(std::uint16_t port)
    : port_(port == 0 ? SmbPortFromEnvironment() : port), session_(std::make_unique<Session>()) {}

SmbFileSystem::~SmbFileSystem() = default;

int SmbFileSystem::Connect(const std::string& sharePath, const std::string& user,
                           const std::string& password) {
  try {
    const std::lock_guard lock(mutex_);
    const std::vector<std::string> parts = SplitSharePath(sharePath);
    if (parts.empty()) return kBadNetPath;
    if (parts.size() < 2) return kBadNetName;

    session_->Drop();
    const std::size_t cut = user.find('\\');
    session_->workgroup = cut == std::string::npos ? std::string() : user.substr(0, cut);
    session_->user = cut == std::string::npos ? user : user.substr(cut + 1);
    session_->password = password;

    // A name that does not resolve is a path Windows cannot find.
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(parts[0].c_str(), nullptr, &hints, &found) != 0) return kBadNetPath;
    ::freeaddrinfo(found);

    SMBCCTX* ctx = session_->Get(port_);
    if (ctx == nullptr) return kUnexpectedNetError;
    const std::string shareUrl = SmbUrlFor("\\\\" + parts[0] + "\\" + parts[1], port_);
    errno = 0;
    SMBCFILE* dir = smbc_getFunctionOpendir(ctx)(ctx, shareUrl.c_str());
    if (dir != nullptr) {
      smbc_getFunctionClosedir(ctx)(ctx, dir);
      return 0;
    }
    const int err = errno;
    if (err != EACCES && err != EPERM) return MapConnectError(err);
    // Refused: the account itself, or only this share? Listing the server's
    // shares needs a session too, so its success clears the account.
    const std::string serverUrl = SmbUrlFor("\\\\" + parts[0], port_);
    SMBCFILE* server = smbc_getFunctionOpendir(ctx)(ctx, serverUrl.c_str());
    if (server != nullptr) {
      smbc_getFunctionClosedir(ctx)(ctx, server);
      return kAccessDenied;
    }
    return kLogonFailure;
  } catch (...) {
    return kUnexpectedNetError;
  }
}

bool SmbFileSystem::IsFile(const std::string& path) {
  const std::lock_guard lock(mutex_);
  SMBCCTX* ctx = session_->Get(port_);
  const std::string url = Url(path);
  struct stat st {};
  return ctx != nullptr && !url.empty() && smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) == 0 &&
         !S_ISDIR(st.st_mode);
}

bool SmbFileSystem::IsFolder(const std::string& path) {
  const std::lock_guard lock(mutex_);
  SMBCCTX* ctx = session_->Get(port_);
  const std::string url = Url(path);
  struct stat st {};
  return ctx != nullptr && !url.empty() && smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

bool SmbFileSystem::ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  try {
    const std::lock_guard lock(mutex_);
    SMBCCTX* ctx = session_->Get(port_);
    const std::string url = Url(folder);
    if (ctx == nullptr || url.empty()) return false;
    SMBCFILE* dir = smbc_getFunctionOpendir(ctx)(ctx, url.c_str());
    if (dir == nullptr) return false;
    const auto readPlus = smbc_getFunctionReaddirPlus2(ctx);
    struct stat st {};
    while (const libsmb_file_info* info = readPlus(ctx, dir, &st)) {
      if (info->name == nullptr) continue;
      FolderEntry entry;
      entry.name = info->name;
      if (entry.name == "." || entry.name == "..") continue;
      entry.isFolder = (info->attrs & kDirectoryAttribute) != 0 || S_ISDIR(st.st_mode);
      if (info->btime_ts.tv_sec != 0)
        entry.created = internal::DosRoundedLocalTime(info->btime_ts.tv_sec);
      entries.push_back(std::move(entry));
    }
    smbc_getFunctionClosedir(ctx)(ctx, dir);
    return true;
  } catch (...) {
    return false;
  }
}

DateTime SmbFileSystem::CreationTime(const std::string& path) {
  try {
    // Read from the parent folder's listing, the same source ReadFolder uses,
    // so a file's time never depends on which of the two asked.
    const std::lock_guard lock(mutex_);
    const std::vector<std::string> parts = SplitSharePath(path);
    if (parts.size() < 3) return kUnreadableTime;  // a share itself has no entry
    std::string parent = "\\\\" + parts[0];
    for (std::size_t i = 1; i + 1 < parts.size(); ++i) parent += "\\" + parts[i];
    std::vector<FolderEntry> entries;
    if (!ReadFolder(parent, entries)) return kUnreadableTime;
    const std::string wanted = UpperAscii(parts.back());
    DateTime found = kUnreadableTime;
    for (const FolderEntry& entry : entries) {
      if (entry.name == parts.back()) return entry.created;
      if (UpperAscii(entry.name) == wanted) found = entry.created;  // shares ignore case
    }
    return found;
  } catch (...) {
    return kUnreadableTime;
  }
}

DateTime SmbFileSystem::StatTime(const std::string& path, bool access) {
  const std::lock_guard lock(mutex_);
  SMBCCTX* ctx = session_->Get(port_);
  const std::string url = Url(path);
  struct stat st {};
  if (ctx == nullptr || url.empty() || smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) != 0)
    return kUnreadableTime;
  return internal::DosRoundedLocalTime(access ? st.st_atime : st.st_mtime);
}

DateTime SmbFileSystem::LastAccessTime(const std::string& path) { return StatTime(path, true); }

DateTime SmbFileSystem::LastWriteTime(const std::string& path) { return StatTime(path, false); }

bool SmbFileSystem::MakeFolder(const std::string& path) {
  const std::lock_guard lock(mutex_);
  SMBCCTX* ctx = session_->Get(port_);
  const std::string url = Url(path);
  return ctx != nullptr && !url.empty() && smbc_getFunctionMkdir(ctx)(ctx, url.c_str(), 0777) == 0;
}

bool SmbFileSystem::RemoveFolder(const std::string& path) {
  const std::lock_guard lock(mutex_);
  SMBCCTX* ctx = session_->Get(port_);
  const std::string url = Url(path);
  return ctx != nullptr && !url.empty() && smbc_getFunctionRmdir(ctx)(ctx, url.c_str()) == 0;
}

bool SmbFileSystem::DeleteFile(const std::string& path) {
  const std::lock_guard lock(mutex_);
  SMBCCTX* ctx = session_->Get(port_);
  const std::string url = Url(path);
  struct stat st {};
  if (ctx == nullptr || url.empty() || smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) != 0 ||
      S_ISDIR(st.st_mode))
    return false;
  // A read-only file cannot be deleted over SMB: reset it first.
  if ((st.st_mode & S_IWUSR) == 0) SetReadOnly(path, false);
  return smbc_getFunctionUnlink(ctx)(ctx, url.c_str()) == 0;
}

bool SmbFileSystem::Rename(const std::string& from, const std::string& to) {
  const std::lock_guard lock(mutex_);
  SMBCCTX* ctx = session_->Get(port_);
  const std::string fromUrl = Url(from);
  const std::string toUrl = Url(to);
  // libsmbclient replaces an existing target itself (unlink and retry).
  return ctx != nullptr && !fromUrl.empty() && !toUrl.empty() &&
         smbc_getFunctionRename(ctx)(ctx, fromUrl.c_str(), ctx, toUrl.c_str()) == 0;
}

bool SmbFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  const std::lock_guard lock(mutex_);
  SMBCCTX* ctx = session_->Get(port_);
  const std::string url = Url(path);
  struct stat st {};
  if (ctx == nullptr || url.empty() || smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) != 0)
    return false;
  // libsmbclient shows the read-only attribute as a mode without write bits.
  const bool isReadOnly = (st.st_mode & S_IWUSR) == 0;
  if (isReadOnly == readOnly) return true;
  // ... and turns such a mode into the attribute.
  const mode_t mode = readOnly ? 0444 : 0644;
  return smbc_getFunctionChmod(ctx)(ctx, url.c_str(), mode) == 0;
}

CopyOutcome SmbFileSystem::CopyFromLocal(const std::string& localSource, const std::string& target,
                                         bool overwrite, const CopyProgress& progress) {
  try {
    const std::lock_guard lock(mutex_);
    SMBCCTX* ctx = session_->Get(port_);
    const std::string targetUrl = Url(target);
    if (ctx == nullptr) return Failed(ENOMEM);
    if (targetUrl.empty() || localSource.empty() || IsSharePath(localSource)) return Failed(EINVAL);
    const std::string name = BaseName(target);
    if (name.empty()) return Failed(EISDIR);
    const std::string tempPath =
        JoinPath(target.substr(0, target.size() - name.size()), TemporaryCopyName(name));
    const std::string tempUrl = Url(tempPath);

    const int in = ::open(localSource.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (in < 0) return Failed(errno);
    struct LocalCloser {
      int fd;
      ~LocalCloser() { ::close(fd); }
    } closeIn{in};
    struct stat st {};
    if (::fstat(in, &st) != 0) return Failed(errno);
    if (S_ISDIR(st.st_mode)) return Failed(EISDIR);
    if (!S_ISREG(st.st_mode)) return Failed(EINVAL);
    ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);

    const auto targetTaken = [&] {
      struct stat existing {};
      return smbc_getFunctionStat(ctx)(ctx, targetUrl.c_str(), &existing) == 0;
    };
    if (!overwrite && targetTaken()) return Failed(EEXIST);

    SMBCFILE* out =
        smbc_getFunctionOpen(ctx)(ctx, tempUrl.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (out == nullptr) return Failed(errno);
    // From here on every way out but the rename removes the temporary file,
    // exceptions from the progress callback included.
    struct RemoteGuard {
      SMBCCTX* ctx;
      SMBCFILE* file;
      std::string url;
      bool kept = false;
      ~RemoteGuard() {
        if (file != nullptr) smbc_getFunctionClose(ctx)(ctx, file);
        if (!kept) smbc_getFunctionUnlink(ctx)(ctx, url.c_str());
      }
    } guard{ctx, out, tempUrl};

    const auto total = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t done = 0;
    std::vector<char> buffer(kCopyBuffer);
    const auto write = smbc_getFunctionWrite(ctx);
    bool reported = false;
    auto lastReport = std::chrono::steady_clock::now();
    for (;;) {
      const ssize_t n = ::read(in, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return Failed(errno);
      }
      if (n == 0) break;
      std::size_t left = static_cast<std::size_t>(n);
      const char* data = buffer.data();
      while (left > 0) {
        const ssize_t w = write(ctx, out, data, left);
        if (w <= 0) return Failed(w < 0 ? errno : EIO);
        data += w;
        left -= static_cast<std::size_t>(w);
      }
      done += static_cast<std::uint64_t>(n);
      if (progress) {
        const auto now = std::chrono::steady_clock::now();
        if (!reported || now - lastReport >= kProgressInterval) {
          reported = true;
          lastReport = now;
          progress(done, std::max(total, done));
        }
      }
    }

    struct stat now {};
    struct stat written {};
    if (::fstat(in, &now) != 0) return Failed(errno);
    if (smbc_getFunctionFstat(ctx)(ctx, out, &written) != 0) return Failed(errno);
    if (static_cast<std::uint64_t>(now.st_size) != done ||
        static_cast<std::uint64_t>(written.st_size) != done)
      return CopyOutcome{false, "the source file changed size while it was being copied"};
    guard.file = nullptr;
    if (smbc_getFunctionClose(ctx)(ctx, out) != 0) return Failed(errno);

    // A Windows copy keeps the last-write time; failing to set it is no failure.
    struct timeval times[2] = {{st.st_atim.tv_sec, 0}, {st.st_mtim.tv_sec, 0}};
    smbc_getFunctionUtimes(ctx)(ctx, tempUrl.c_str(), times);

    if (!overwrite && targetTaken()) return Failed(EEXIST);
    if (smbc_getFunctionRename(ctx)(ctx, tempUrl.c_str(), ctx, targetUrl.c_str()) != 0)
      return Failed(errno);
    guard.kept = true;

    return internal::CopyDone(progress, done);
  } catch (const std::bad_alloc&) {
    return Failed(ENOMEM);
  } catch (...) {
    return Failed(EIO);
  }
}

}  // namespace veltora
