// Windows only: the owners of Win32 handles every *_win.cpp file shares.
#pragma once

#include <windows.h>

#include "base/scoped_handle.h"

namespace veltora {

// A kernel handle that the Win32 calls answer null for on failure (processes,
// threads, tokens, pipes, mutexes). INVALID_HANDLE_VALUE is never closed, so
// the owner can hold what CreateFileW answers too.
struct KernelHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
};
using ScopedKernelHandle = ScopedHandle<HANDLE, KernelHandleTraits>;

// A file handle: CreateFileW answers INVALID_HANDLE_VALUE on failure.
struct FileHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { ::CloseHandle(handle); }
};
using ScopedFileHandle = ScopedHandle<HANDLE, FileHandleTraits>;

struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { ::FindClose(handle); }
};
using ScopedFindHandle = ScopedHandle<HANDLE, FindHandleTraits>;

// Memory the system allocated for the caller with LocalAlloc (SID texts,
// security descriptors, error texts).
struct LocalMemoryTraits {
  static void* Invalid() { return nullptr; }
  static void Close(void* memory) { ::LocalFree(memory); }
};
using ScopedLocalMemory = ScopedHandle<void*, LocalMemoryTraits>;

}  // namespace veltora
