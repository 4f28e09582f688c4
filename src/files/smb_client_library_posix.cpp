#include "files/smb_client_library_posix.h"

#include <string>

#include "files/messages.h"

namespace veltora::internal {
namespace {

// Looks `symbol` up unless an earlier look-up failed; `error` gets dlerror's
// words on the first failure.
template <typename Function>
void Resolve(void* library, const char* symbol, Function& slot, std::string& error) {
  if (!error.empty()) return;
  ::dlerror();
  void* found = ::dlsym(library, symbol);
  if (found == nullptr) {
    const char* why = ::dlerror();
    error = why != nullptr ? why : std::string(symbol) + ": not found";
    return;
  }
  slot = reinterpret_cast<Function>(found);
}

}  // namespace

void SmbClientLibrary::Load() {
  std::string why;
  ::dlerror();
  void* handle = ::dlopen(name_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* text = ::dlerror();
    why = text != nullptr ? text : "not found";
  } else {
    SmbClientApi& a = api_;
#define VELTORA_RESOLVE(name) Resolve(handle, #name, a.name, why)
    VELTORA_RESOLVE(smbc_new_context);
    VELTORA_RESOLVE(smbc_free_context);
    VELTORA_RESOLVE(smbc_init_context);
    VELTORA_RESOLVE(smbc_setDebug);
    VELTORA_RESOLVE(smbc_setOptionDebugToStderr);
    VELTORA_RESOLVE(smbc_setFunctionAuthDataWithContext);
    VELTORA_RESOLVE(smbc_setOptionNoAutoAnonymousLogin);
    VELTORA_RESOLVE(smbc_setOptionUseKerberos);
    VELTORA_RESOLVE(smbc_setOptionFallbackAfterKerberos);
    VELTORA_RESOLVE(smbc_setOptionUseCCache);
    VELTORA_RESOLVE(smbc_setPort);
    VELTORA_RESOLVE(smbc_setTimeout);
    VELTORA_RESOLVE(smbc_getFunctionOpen);
    VELTORA_RESOLVE(smbc_getFunctionRead);
    VELTORA_RESOLVE(smbc_getFunctionWrite);
    VELTORA_RESOLVE(smbc_getFunctionClose);
    VELTORA_RESOLVE(smbc_getFunctionFstat);
    VELTORA_RESOLVE(smbc_getFunctionStat);
    VELTORA_RESOLVE(smbc_getFunctionUnlink);
    VELTORA_RESOLVE(smbc_getFunctionRename);
    VELTORA_RESOLVE(smbc_getFunctionChmod);
    VELTORA_RESOLVE(smbc_getFunctionUtimes);
    VELTORA_RESOLVE(smbc_getFunctionOpendir);
    VELTORA_RESOLVE(smbc_getFunctionClosedir);
    VELTORA_RESOLVE(smbc_getFunctionReaddirPlus2);
    VELTORA_RESOLVE(smbc_getFunctionMkdir);
    VELTORA_RESOLVE(smbc_getFunctionRmdir);
#undef VELTORA_RESOLVE
    if (why.empty()) {
      handle_ = handle;
      return;
    }
    ::dlclose(handle);
    api_ = SmbClientApi{};
  }
  error_ = files_msg::kCannotLoadLibrary + name_ + ": " + why;
}

}  // namespace veltora::internal
