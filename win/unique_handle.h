// Exclusive ownership of a Win32 handle, closed by its traits.
#ifndef WIN_UNIQUE_HANDLE_H_
#define WIN_UNIQUE_HANDLE_H_

#include <utility>

#include "win/windows.h"

namespace orvalin::win {

// Traits name the handle type and how to close it:
//   struct Traits {
//     using Handle = ...;
//     static void Close(Handle handle);
//   };
// Neither null nor INVALID_HANDLE_VALUE is ever a handle to close: Win32
// answers failure with one or the other depending on the function.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Take()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Reset(other.Take());
    return *this;
  }

  static bool IsValidHandle(Handle handle) {
    return handle != nullptr &&
           reinterpret_cast<HANDLE>(handle) != INVALID_HANDLE_VALUE;
  }
  bool IsValid() const { return IsValidHandle(handle_); }
  explicit operator bool() const { return IsValid(); }
  Handle Get() const { return handle_; }

  // Gives up ownership without closing; the caller closes the result.
  Handle Take() { return std::exchange(handle_, nullptr); }

  // Closes the held handle, if any, after letting go of it: code that runs
  // while it closes (a window's WM_DESTROY) already sees this one empty.
  void Reset(Handle handle = nullptr) {
    Handle old = std::exchange(handle_, handle);
    if (old != handle && IsValidHandle(old)) {
      Traits::Close(old);
    }
  }

 private:
  Handle handle_ = nullptr;
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static void Close(Handle handle) { CloseHandle(handle); }
};

// A module from LoadLibrary*.
struct LibraryTraits {
  using Handle = HMODULE;
  static void Close(Handle handle) { FreeLibrary(handle); }
};

// A window this code created; destroy it on the thread that made it.
struct WindowTraits {
  using Handle = HWND;
  static void Close(Handle handle) { DestroyWindow(handle); }
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static void Close(Handle handle) { RegCloseKey(handle); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using LibraryHandle = UniqueHandle<LibraryTraits>;
using WindowHandle = UniqueHandle<WindowTraits>;

}  // namespace orvalin::win

#endif  // WIN_UNIQUE_HANDLE_H_
