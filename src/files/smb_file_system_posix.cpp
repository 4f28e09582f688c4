#include <cerrno>
#include <exception>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "base/text.h"
#include "files/messages.h"
#include "files/posix_internal.h"
#include "files/smb_file_system.h"
#include "files/smb_session_posix.h"

namespace veltora {

namespace {

// libsmbclient converts names to UTF-16 and fails on bytes that are no UTF-8
// with ENOMEM; the name is refused first, with a reason that says so.
bool Utf8Names(std::initializer_list<std::string_view> paths) {
  for (const std::string_view path : paths)
    if (!IsValidUtf8(path)) return false;
  return true;
}

FileOutcome NotUtf8() { return FileOutcome::Failed(files_msg::kNameNotUtf8); }

}  // namespace

// The public calls: the lock, then the session's work.

SmbFileSystem::SmbFileSystem(std::uint16_t port, std::chrono::milliseconds timeout,
                             CopyMarker marker, std::string library, AfterTimeout afterTimeout)
    : port_(port == 0 ? kDefaultSmbPort : port),
      marker_(std::move(marker)),
      session_(
          std::make_unique<Session>(port_, timeout, marker_, std::move(library), afterTimeout)) {}

SmbFileSystem::~SmbFileSystem() = default;

int SmbFileSystem::Connect(const std::string& sharePath, const std::string& user,
                           const std::string& password) {
  try {
    const Session::Call call(mutex_, *session_);
    return session_->Connect(sharePath, user, password);
  } catch (const std::exception&) {
    return internal::kUnexpectedNetError;
  }
}

std::string SmbFileSystem::UnavailableReason() {
  const Session::Call call(mutex_, *session_);
  return session_->Unavailable();
}

bool SmbFileSystem::IsFile(const std::string& path) {
  const Session::Call call(mutex_, *session_);
  struct stat st {};
  return session_->Stat(path, st) && !S_ISDIR(st.st_mode);
}

bool SmbFileSystem::IsFolder(const std::string& path) {
  const Session::Call call(mutex_, *session_);
  struct stat st {};
  return session_->Stat(path, st) && S_ISDIR(st.st_mode);
}

bool SmbFileSystem::ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  try {
    const Session::Call call(mutex_, *session_);
    return session_->ReadFolder(folder, entries);
  } catch (const std::exception&) {
    return false;
  }
}

DateTime SmbFileSystem::CreationTime(const std::string& path) {
  try {
    const Session::Call call(mutex_, *session_);
    return session_->CreationTime(path);
  } catch (const std::exception&) {
    return kUnreadableTime;
  }
}

DateTime SmbFileSystem::LastAccessTime(const std::string& path) {
  const Session::Call call(mutex_, *session_);
  return session_->StatTime(path, true);
}

DateTime SmbFileSystem::LastWriteTime(const std::string& path) {
  const Session::Call call(mutex_, *session_);
  return session_->StatTime(path, false);
}

FileOutcome SmbFileSystem::MakeFolder(const std::string& path) {
  if (!Utf8Names({path})) return NotUtf8();
  const Session::Call call(mutex_, *session_);
  return session_->MakeFolder(path);
}

FileOutcome SmbFileSystem::RemoveFolder(const std::string& path) {
  if (!Utf8Names({path})) return NotUtf8();
  const Session::Call call(mutex_, *session_);
  return session_->RemoveFolder(path);
}

FileOutcome SmbFileSystem::DeleteFile(const std::string& path) {
  if (!Utf8Names({path})) return NotUtf8();
  const Session::Call call(mutex_, *session_);
  return session_->DeleteFile(path);
}

FileOutcome SmbFileSystem::Rename(const std::string& from, const std::string& to) {
  if (!Utf8Names({from, to})) return NotUtf8();
  const Session::Call call(mutex_, *session_);
  return session_->Rename(from, to);
}

FileOutcome SmbFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  if (!Utf8Names({path})) return NotUtf8();
  const Session::Call call(mutex_, *session_);
  return session_->SetReadOnly(path, readOnly);
}

FileOutcome SmbFileSystem::CopyFromLocal(const std::string& localSource, const std::string& target,
                                         bool overwrite, const CopyProgress& progress) {
  if (!Utf8Names({target})) return NotUtf8();
  try {
    const Session::Call call(mutex_, *session_);
    return session_->Copy(localSource, target, overwrite, progress);
  } catch (const std::bad_alloc&) {
    return internal::Failed(ENOMEM);
  } catch (const std::exception& e) {
    return FileOutcome::Failed(e.what());
  }
}

FileOutcome SmbFileSystem::CopyToLocal(const std::string& source, const std::string& localTarget,
                                       bool overwrite, const CopyProgress& progress) {
  if (!Utf8Names({source})) return NotUtf8();
  try {
    const Session::Call call(mutex_, *session_);
    return session_->CopyToLocal(source, localTarget, overwrite, progress);
  } catch (const std::bad_alloc&) {
    return internal::Failed(ENOMEM);
  } catch (const std::exception& e) {
    return FileOutcome::Failed(e.what());
  }
}

}  // namespace veltora
