// POSIX only: libsmbclient as the share client loads it, and the owners of its
// handles. Included by the SMB client's *_posix.cpp files alone.
#pragma once

#include <dlfcn.h>
#include <libsmbclient.h>

#include <mutex>
#include <string>

#include "base/scoped_handle.h"

namespace veltora::internal {

// The libsmbclient functions this file calls, named as the library names them.
// The library is not linked: it and the hundred libraries it needs would be
// mapped into every agent at start, though most never reach a share before a
// backup runs. It is loaded on the first share operation instead.
struct SmbClientApi {
  decltype(&::smbc_new_context) smbc_new_context = nullptr;
  decltype(&::smbc_free_context) smbc_free_context = nullptr;
  decltype(&::smbc_init_context) smbc_init_context = nullptr;
  decltype(&::smbc_setDebug) smbc_setDebug = nullptr;
  decltype(&::smbc_setOptionDebugToStderr) smbc_setOptionDebugToStderr = nullptr;
  decltype(&::smbc_setFunctionAuthDataWithContext) smbc_setFunctionAuthDataWithContext = nullptr;
  decltype(&::smbc_setOptionNoAutoAnonymousLogin) smbc_setOptionNoAutoAnonymousLogin = nullptr;
  decltype(&::smbc_setOptionUseKerberos) smbc_setOptionUseKerberos = nullptr;
  decltype(&::smbc_setOptionFallbackAfterKerberos) smbc_setOptionFallbackAfterKerberos = nullptr;
  decltype(&::smbc_setOptionUseCCache) smbc_setOptionUseCCache = nullptr;
  decltype(&::smbc_setPort) smbc_setPort = nullptr;
  decltype(&::smbc_setTimeout) smbc_setTimeout = nullptr;
  decltype(&::smbc_getFunctionOpen) smbc_getFunctionOpen = nullptr;
  decltype(&::smbc_getFunctionRead) smbc_getFunctionRead = nullptr;
  decltype(&::smbc_getFunctionWrite) smbc_getFunctionWrite = nullptr;
  decltype(&::smbc_getFunctionClose) smbc_getFunctionClose = nullptr;
  decltype(&::smbc_getFunctionFstat) smbc_getFunctionFstat = nullptr;
  decltype(&::smbc_getFunctionStat) smbc_getFunctionStat = nullptr;
  decltype(&::smbc_getFunctionUnlink) smbc_getFunctionUnlink = nullptr;
  decltype(&::smbc_getFunctionRename) smbc_getFunctionRename = nullptr;
  decltype(&::smbc_getFunctionChmod) smbc_getFunctionChmod = nullptr;
  decltype(&::smbc_getFunctionUtimes) smbc_getFunctionUtimes = nullptr;
  decltype(&::smbc_getFunctionOpendir) smbc_getFunctionOpendir = nullptr;
  decltype(&::smbc_getFunctionClosedir) smbc_getFunctionClosedir = nullptr;
  decltype(&::smbc_getFunctionReaddirPlus2) smbc_getFunctionReaddirPlus2 = nullptr;
  decltype(&::smbc_getFunctionMkdir) smbc_getFunctionMkdir = nullptr;
  decltype(&::smbc_getFunctionRmdir) smbc_getFunctionRmdir = nullptr;
};

// The library under one file name, loaded once, by the first Get() of
// whichever thread comes first. It stays mapped after its last user
// (RTLD_NODELETE, so the dlclose only drops the count): it and its
// dependencies are not made to be unloaded from a running process (exit
// handlers, thread-local data), and a second share run finds it in place.
class SmbClientLibrary {
 public:
  explicit SmbClientLibrary(std::string name) : name_(std::move(name)) {}
  ~SmbClientLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  SmbClientLibrary(const SmbClientLibrary&) = delete;
  SmbClientLibrary& operator=(const SmbClientLibrary&) = delete;

  // The functions, or null when the library or one of them cannot be found;
  // error() then says why, naming the library.
  const SmbClientApi* Get() {
    std::call_once(once_, [this] { Load(); });
    return handle_ != nullptr ? &api_ : nullptr;
  }
  const std::string& error() const { return error_; }

 private:
  void Load();

  const std::string name_;
  std::once_flag once_;
  void* handle_ = nullptr;
  SmbClientApi api_;
  std::string error_;
};

// Owners of libsmbclient handles. A file or folder handle, and a temporary
// file to remove, need their context to be given back.
struct SmbContextTraits {
  const SmbClientApi* smb = nullptr;
  static SMBCCTX* Invalid() { return nullptr; }
  void Close(SMBCCTX* ctx) const { smb->smbc_free_context(ctx, 1); }
};
using ScopedSmbContext = ScopedHandle<SMBCCTX*, SmbContextTraits>;

struct SmbFileTraits {
  const SmbClientApi* smb = nullptr;
  SMBCCTX* ctx = nullptr;
  static SMBCFILE* Invalid() { return nullptr; }
  void Close(SMBCFILE* file) const { smb->smbc_getFunctionClose(ctx)(ctx, file); }
};
using ScopedSmbFile = ScopedHandle<SMBCFILE*, SmbFileTraits>;

struct SmbDirTraits {
  const SmbClientApi* smb = nullptr;
  SMBCCTX* ctx = nullptr;
  static SMBCFILE* Invalid() { return nullptr; }
  void Close(SMBCFILE* dir) const { smb->smbc_getFunctionClosedir(ctx)(ctx, dir); }
};
using ScopedSmbDir = ScopedHandle<SMBCFILE*, SmbDirTraits>;

// A temporary file on the share (its URL), removed unless Release()d.
struct SmbUnlinkTraits {
  const SmbClientApi* smb = nullptr;
  SMBCCTX* ctx = nullptr;
  static std::string Invalid() { return std::string(); }
  void Close(const std::string& url) const { smb->smbc_getFunctionUnlink(ctx)(ctx, url.c_str()); }
};
using ScopedSmbTempFile = ScopedHandle<std::string, SmbUnlinkTraits>;

}  // namespace veltora::internal
