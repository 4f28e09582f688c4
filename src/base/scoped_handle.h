// One owner for every kind of handle the program holds: a file descriptor, a
// sqlite3 connection, an ODBC handle, a libsmbclient file or context. The
// traits say what an empty handle looks like and how to give one back; the
// handle is released exactly once, when its owner goes, whatever path leaves the
// scope.
//
//   struct FdTraits {
//     static int Invalid() { return -1; }
//     static void Close(int fd) { ::close(fd); }
//   };
//   using ScopedFd = ScopedHandle<int, FdTraits>;
//
// The traits of OS handles live with the platform code that uses them; this
// header makes no OS call.
//
// Traits that need context to close (a libsmbclient file needs its context)
// are objects: ScopedHandle keeps a copy of them beside the handle.
#pragma once

#include <utility>

namespace veltora {

template <typename Handle, typename Traits>
class ScopedHandle {
 public:
  ScopedHandle() : handle_(Traits::Invalid()) {}
  explicit ScopedHandle(Handle handle, Traits traits = Traits())
      : handle_(handle), traits_(std::move(traits)) {}
  ~ScopedHandle() { Reset(); }

  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept
      : handle_(other.Release()), traits_(std::move(other.traits_)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      traits_ = std::move(other.traits_);
      handle_ = other.Release();
    }
    return *this;
  }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  Handle Release() {
    Handle h = handle_;
    handle_ = Traits::Invalid();
    return h;
  }
  // Closes the held handle (if any) and takes `handle`.
  void Reset(Handle handle = Traits::Invalid()) {
    if (valid()) traits_.Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_;
  [[no_unique_address]] Traits traits_;
};

}  // namespace veltora
