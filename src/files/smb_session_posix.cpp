#include "files/smb_session_posix.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "base/path.h"
#include "base/text.h"
#include "files/messages.h"
#include "files/posix_internal.h"

namespace veltora {
namespace {

constexpr std::size_t kCopyBuffer = 1u << 20;
constexpr unsigned kReadOnlyAttribute = 0x01;
constexpr unsigned kDirectoryAttribute = 0x10;
// Temporary names are random; a collision is retried this many times.
constexpr int kTempNameAttempts = 8;

using internal::Failed;
using internal::kAccessDenied;
using internal::kBadNetName;
using internal::kBadNetPath;
using internal::kLogonFailure;
using internal::kNoNetwork;
using internal::kUnexpectedNetError;
using internal::Outcome;
using internal::ScopedSmbContext;
using internal::ScopedSmbDir;
using internal::ScopedSmbFile;
using internal::ScopedSmbTempFile;
using internal::SmbClientApi;
using internal::SmbContextTraits;
using internal::SmbDirTraits;
using internal::SmbFileTraits;
using internal::SmbUnlinkTraits;

// Reads until `size` bytes are in or the file ends; the count read or -1.
ssize_t ReadFully(const SmbClientApi& smb, SMBCCTX* ctx, SMBCFILE* file, char* data,
                  std::size_t size) {
  const auto read = smb.smbc_getFunctionRead(ctx);
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = read(ctx, file, data + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// The same from a local descriptor at an offset.
ssize_t PreadFully(int fd, char* data, std::size_t size, std::uint64_t offset) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, data + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

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

thread_local SmbFileSystem::Session* SmbFileSystem::Session::current_ = nullptr;

void SmbFileSystem::Session::Authenticate(SMBCCTX* c, const char* /*server*/, const char* /*share*/,
                                          char* workgroupOut, int workgroupSize, char* userOut,
                                          int userSize, char* passwordOut, int passwordSize) {
  // Anything but this thread's own session's context gets no account.
  const Session* self = current_;
  if (self == nullptr || self->ctx_.get() != c) return;
  if (!self->workgroup_.empty()) Put(workgroupOut, workgroupSize, self->workgroup_);
  Put(userOut, userSize, self->user_);
  Put(passwordOut, passwordSize, self->password_);
}

SMBCCTX* SmbFileSystem::Session::Context() {
  if (Stalled()) return nullptr;
  if (ctx_) return ctx_.get();
  const SmbClientApi* smb = library_.Get();
  if (smb == nullptr) return nullptr;
  smb_ = smb;
  ScopedSmbContext fresh(smb->smbc_new_context(), SmbContextTraits{smb});
  if (!fresh) return nullptr;
  SMBCCTX* c = fresh.get();
  smb->smbc_setDebug(c, 0);
  smb->smbc_setOptionDebugToStderr(c, true);
  smb->smbc_setFunctionAuthDataWithContext(c, &Session::Authenticate);
  // Exactly the configured account: no anonymous or guest fallback, no
  // Kerberos ticket of whoever runs the agent.
  smb->smbc_setOptionNoAutoAnonymousLogin(c, true);
  smb->smbc_setOptionUseKerberos(c, false);
  smb->smbc_setOptionFallbackAfterKerberos(c, true);
  smb->smbc_setOptionUseCCache(c, false);
  smb->smbc_setPort(c, port_);
  smb->smbc_setTimeout(c, static_cast<int>(timeout_.count()));
  // On failure the context is not initialised and `fresh` frees it.
  if (smb->smbc_init_context(c) == nullptr) return nullptr;
  ctx_ = std::move(fresh);
  return ctx_.get();
}

int SmbFileSystem::Session::Connect(const std::string& sharePath, const std::string& user,
                                    const std::string& password) {
  if (library_.Get() == nullptr) return kNoNetwork;
  if (Stalled()) return kBadNetPath;
  const std::vector<std::string> parts = SplitSharePath(sharePath);
  if (parts.empty()) return kBadNetPath;
  if (parts.size() < 2) return kBadNetName;

  ctx_.Reset();
  const std::size_t cut = user.find('\\');
  workgroup_ = cut == std::string::npos ? std::string() : user.substr(0, cut);
  user_ = cut == std::string::npos ? user : user.substr(cut + 1);
  password_ = password;

  // A name that does not resolve is a path Windows cannot find.
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(parts[0].c_str(), nullptr, &hints, &found) != 0) return kBadNetPath;
  ::freeaddrinfo(found);

  SMBCCTX* ctx = Context();
  if (ctx == nullptr) return kUnexpectedNetError;
  const auto opendir = smb_->smbc_getFunctionOpendir(ctx);
  const std::string shareUrl = SmbUrlFor("\\\\" + parts[0] + "\\" + parts[1], port_);
  errno = 0;
  if (const ScopedSmbDir dir(opendir(ctx, shareUrl.c_str()), SmbDirTraits{smb_, ctx}); dir)
    return 0;
  const int err = errno;
  if (err != EACCES && err != EPERM) return MapConnectError(err);
  // Refused: the account itself, or only this share? Listing the server's
  // shares needs a session too, so its success clears the account.
  const std::string serverUrl = SmbUrlFor("\\\\" + parts[0], port_);
  if (const ScopedSmbDir server(opendir(ctx, serverUrl.c_str()), SmbDirTraits{smb_, ctx}); server)
    return kAccessDenied;
  return kLogonFailure;
}

bool SmbFileSystem::Session::Stat(const std::string& path, struct stat& st) {
  SMBCCTX* ctx = Context();
  const std::string url = Url(path);
  if (ctx == nullptr || url.empty()) {
    errno = EINVAL;
    return false;
  }
  return smb_->smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) == 0;
}

int SmbFileSystem::Session::Exists(SMBCCTX* ctx, const std::string& url) {
  struct stat st {};
  if (smb_->smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) == 0) return 1;
  return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
}

bool SmbFileSystem::Session::ReadFolder(const std::string& folder,
                                        std::vector<FolderEntry>& entries) {
  SMBCCTX* ctx = Context();
  const std::string url = Url(folder);
  if (ctx == nullptr || url.empty()) return false;
  const ScopedSmbDir dir(smb_->smbc_getFunctionOpendir(ctx)(ctx, url.c_str()),
                         SmbDirTraits{smb_, ctx});
  if (!dir) return false;
  const auto readPlus = smb_->smbc_getFunctionReaddirPlus2(ctx);
  struct stat st {};
  while (const libsmb_file_info* info = readPlus(ctx, dir.get(), &st)) {
    if (info->name == nullptr) continue;
    FolderEntry entry;
    entry.name = info->name;
    if (entry.name == "." || entry.name == "..") continue;
    entry.isFolder = (info->attrs & kDirectoryAttribute) != 0 || S_ISDIR(st.st_mode);
    entry.readOnly = (info->attrs & kReadOnlyAttribute) != 0;
    if (info->btime_ts.tv_sec != 0)
      entry.created = internal::DosRoundedLocalTime(info->btime_ts.tv_sec);
    entries.push_back(std::move(entry));
  }
  return true;
}

DateTime SmbFileSystem::Session::CreationTime(const std::string& path) {
  // Read from the parent folder's listing, the same source ReadFolder uses,
  // so a file's time never depends on which of the two asked.
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
}

DateTime SmbFileSystem::Session::StatTime(const std::string& path, bool access) {
  struct stat st {};
  if (!Stat(path, st)) return kUnreadableTime;
  return internal::DosRoundedLocalTime(access ? st.st_atime : st.st_mtime);
}

FileOutcome SmbFileSystem::Session::NoContext() {
  if (Stalled()) return Failed(ETIMEDOUT);
  const std::string unavailable = Unavailable();
  return unavailable.empty() ? Failed(ENOMEM) : Failed(unavailable);
}

FileOutcome SmbFileSystem::Session::MakeFolder(const std::string& path) {
  SMBCCTX* ctx = Context();
  if (ctx == nullptr) return NoContext();
  const std::string url = Url(path);
  if (url.empty()) return Failed(EINVAL);
  return Outcome(smb_->smbc_getFunctionMkdir(ctx)(ctx, url.c_str(), 0777) == 0);
}

FileOutcome SmbFileSystem::Session::RemoveFolder(const std::string& path) {
  SMBCCTX* ctx = Context();
  if (ctx == nullptr) return NoContext();
  const std::string url = Url(path);
  if (url.empty()) return Failed(EINVAL);
  return Outcome(smb_->smbc_getFunctionRmdir(ctx)(ctx, url.c_str()) == 0);
}

FileOutcome SmbFileSystem::Session::DeleteFile(const std::string& path) {
  SMBCCTX* ctx = Context();
  if (ctx == nullptr) return NoContext();
  struct stat st {};
  if (!Stat(path, st)) return Failed(errno);
  if (S_ISDIR(st.st_mode)) return Failed(EISDIR);
  // A read-only file cannot be deleted over SMB: reset it first.
  if ((st.st_mode & S_IWUSR) == 0) SetReadOnly(path, false);
  return Outcome(smb_->smbc_getFunctionUnlink(ctx)(ctx, Url(path).c_str()) == 0);
}

FileOutcome SmbFileSystem::Session::Rename(const std::string& from, const std::string& to) {
  SMBCCTX* ctx = Context();
  if (ctx == nullptr) return NoContext();
  const std::string fromUrl = Url(from);
  const std::string toUrl = Url(to);
  if (fromUrl.empty() || toUrl.empty()) return Failed(EINVAL);
  // libsmbclient replaces an existing target itself (unlink and retry).
  return Outcome(smb_->smbc_getFunctionRename(ctx)(ctx, fromUrl.c_str(), ctx, toUrl.c_str()) == 0);
}

FileOutcome SmbFileSystem::Session::SetReadOnly(const std::string& path, bool readOnly) {
  SMBCCTX* ctx = Context();
  if (ctx == nullptr) return NoContext();
  struct stat st {};
  if (!Stat(path, st)) return Failed(errno);
  // libsmbclient shows the read-only attribute as a mode without write bits.
  const bool isReadOnly = (st.st_mode & S_IWUSR) == 0;
  if (isReadOnly == readOnly) return FileOutcome::Done();
  // ... and turns such a mode into the attribute.
  const mode_t mode = readOnly ? 0444 : 0644;
  return Outcome(smb_->smbc_getFunctionChmod(ctx)(ctx, Url(path).c_str(), mode) == 0);
}

FileOutcome SmbFileSystem::Session::Copy(const std::string& localSource, const std::string& target,
                                         bool overwrite, const CopyProgress& progress) {
  SMBCCTX* ctx = Context();
  if (ctx == nullptr) return NoContext();
  const std::string targetUrl = Url(target);
  if (targetUrl.empty() || localSource.empty() || IsSharePath(localSource)) return Failed(EINVAL);
  const std::string name = BaseName(target);
  if (name.empty()) return Failed(EISDIR);
  const std::string folder = target.substr(0, target.size() - name.size());

  struct stat st {};
  std::string error;
  const ScopedFd in = internal::OpenCopySource(localSource, st, error);
  if (!in) return FileOutcome{false, error};

  const auto refuseTaken = [&]() -> std::optional<FileOutcome> {
    if (overwrite) return std::nullopt;
    const int taken = Exists(ctx, targetUrl);
    if (taken == 0) return std::nullopt;
    return Failed(taken > 0 ? EEXIST : errno);
  };
  if (auto refused = refuseTaken()) return *refused;

  // Declared before the file so that the file is closed before the removal.
  ScopedSmbTempFile temp(std::string(), SmbUnlinkTraits{smb_, ctx});
  ScopedSmbFile out(nullptr, SmbFileTraits{smb_, ctx});
  for (int attempt = 0; attempt < kTempNameAttempts && !out; ++attempt) {
    const std::string tempUrl = Url(folder + TemporaryCopyName(marker_, name));
    // Read access too: the size check's fstat needs it.
    out.Reset(
        smb_->smbc_getFunctionOpen(ctx)(ctx, tempUrl.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644));
    if (out) {
      temp.Reset(tempUrl);
    } else if (errno != EEXIST) {
      return Failed(errno);
    }
  }
  if (!out) return Failed(EEXIST);

  // Send.
  const auto total = static_cast<std::uint64_t>(st.st_size);
  std::uint64_t done = 0;
  std::vector<char> buffer(kCopyBuffer);
  const auto write = smb_->smbc_getFunctionWrite(ctx);
  internal::ProgressReporter reporter(progress, total);
  for (;;) {
    const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed(errno);
    }
    if (n == 0) break;
    std::size_t left = static_cast<std::size_t>(n);
    const char* data = buffer.data();
    while (left > 0) {
      const ssize_t w = write(ctx, out.get(), data, left);
      if (w <= 0) return Failed(w < 0 ? errno : EIO);
      data += w;
      left -= static_cast<std::size_t>(w);
    }
    done += static_cast<std::uint64_t>(n);
    reporter.Report(done);
  }

  struct stat now {};
  struct stat written {};
  if (::fstat(in.get(), &now) != 0) return Failed(errno);
  if (static_cast<std::uint64_t>(now.st_size) != done) return Failed(files_msg::kSourceChanged);
  if (smb_->smbc_getFunctionFstat(ctx)(ctx, out.get(), &written) != 0) return Failed(errno);
  if (static_cast<std::uint64_t>(written.st_size) != done)
    return Failed(files_msg::kCopySizeDiffers);
  // A write the server could not complete may only show at the close.
  if (smb_->smbc_getFunctionClose(ctx)(ctx, out.Release()) != 0) return Failed(errno);
  reporter.Complete(done);

  // Read back what the share now holds and compare it with the source.
  {
    const ScopedSmbFile back(smb_->smbc_getFunctionOpen(ctx)(ctx, temp.get().c_str(), O_RDONLY, 0),
                             SmbFileTraits{smb_, ctx});
    if (!back) return Failed(errno);
    std::vector<char> local(kCopyBuffer);
    std::uint64_t compared = 0;
    internal::ProgressReporter readBack(progress, done, CopyPass::kReadBack);
    for (;;) {
      const ssize_t got = ReadFully(*smb_, ctx, back.get(), buffer.data(), buffer.size());
      if (got < 0) return Failed(errno);
      if (got == 0) break;
      if (compared + static_cast<std::uint64_t>(got) > done)
        return Failed(files_msg::kCopySizeDiffers);
      const ssize_t had =
          PreadFully(in.get(), local.data(), static_cast<std::size_t>(got), compared);
      if (had < 0) return Failed(errno);
      if (had != got) return Failed(files_msg::kSourceChanged);
      if (std::memcmp(buffer.data(), local.data(), static_cast<std::size_t>(got)) != 0)
        return Failed(files_msg::kCopyBytesDiffer);
      compared += static_cast<std::uint64_t>(got);
      readBack.Report(compared);
    }
    if (compared != done) return Failed(files_msg::kCopySizeDiffers);
  }

  // A Windows copy keeps the last-write time; failing to set it is no failure.
  struct timeval times[2] = {{st.st_atim.tv_sec, 0}, {st.st_mtim.tv_sec, 0}};
  smb_->smbc_getFunctionUtimes(ctx)(ctx, temp.get().c_str(), times);

  if (auto refused = refuseTaken()) return *refused;
  if (smb_->smbc_getFunctionRename(ctx)(ctx, temp.get().c_str(), ctx, targetUrl.c_str()) != 0)
    return Failed(errno);
  temp.Release();

  return internal::CopyDone(progress, done, CopyPass::kReadBack);
}

FileOutcome SmbFileSystem::Session::CopyToLocal(const std::string& source,
                                                const std::string& localTarget, bool overwrite,
                                                const CopyProgress& progress) {
  SMBCCTX* ctx = Context();
  if (ctx == nullptr) return NoContext();
  const std::string sourceUrl = Url(source);
  if (sourceUrl.empty() || localTarget.empty() || IsSharePath(localTarget)) return Failed(EINVAL);
  if (localTarget.back() == '/') return Failed(EISDIR);

  const ScopedSmbFile in(smb_->smbc_getFunctionOpen(ctx)(ctx, sourceUrl.c_str(), O_RDONLY, 0),
                         SmbFileTraits{smb_, ctx});
  if (!in) return Failed(errno);
  const auto statOpen = smb_->smbc_getFunctionFstat(ctx);
  struct stat st {};
  if (statOpen(ctx, in.get(), &st) != 0) return Failed(errno);
  if (!S_ISREG(st.st_mode)) return Failed(files_msg::kNotARegularFile);
  if (!overwrite) {
    // Refused before the bytes travel; the final rename still refuses a file
    // that appears meanwhile.
    struct stat existing {};
    if (::lstat(localTarget.c_str(), &existing) == 0) return Failed(EEXIST);
  }

  internal::LocalCopyTarget out;
  if (const int err = out.Create(localTarget, marker_)) return Failed(err);
  const auto total = static_cast<std::uint64_t>(st.st_size);
  std::uint64_t done = 0;
  std::vector<char> buffer(kCopyBuffer);
  internal::ProgressReporter reporter(progress, total);
  for (;;) {
    const ssize_t got = ReadFully(*smb_, ctx, in.get(), buffer.data(), buffer.size());
    if (got < 0) return Failed(errno);
    if (got == 0) break;
    if (const int err = out.Write(buffer.data(), static_cast<std::size_t>(got))) return Failed(err);
    done += static_cast<std::uint64_t>(got);
    reporter.Report(done);
  }

  // The whole file, as long as it was when the copy began and still is.
  struct stat now {};
  if (statOpen(ctx, in.get(), &now) != 0) return Failed(errno);
  if (done != total || static_cast<std::uint64_t>(now.st_size) != done)
    return Failed(files_msg::kSourceChanged);
  if (const int err = out.Finish(0600, st.st_mtim, overwrite)) return Failed(err);
  return internal::CopyDone(progress, done);
}

}  // namespace veltora
