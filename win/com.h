// COM on one thread: the apartment, interface pointers and CoTaskMem memory.
// Also the one way this tree includes the shell's COM headers.
#ifndef WIN_COM_H_
#define WIN_COM_H_

#include <utility>

#include "win/windows.h"
// clang-format off: after win/windows.h, so SendMessage stays undone.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

namespace orvalin::win {

// Joins this thread to a COM apartment for the object's lifetime. Make one
// per thread, around everything that uses COM there. A failed
// initialisation (a thread already in the other kind of apartment answers
// RPC_E_CHANGED_MODE) is reported and not balanced; a successful one (S_OK,
// or S_FALSE when the thread was already in this apartment) is balanced by
// CoUninitialize on destruction.
class ComInitializer {
 public:
  explicit ComInitializer(DWORD flags)
      : result_(CoInitializeEx(nullptr, flags)) {}
  ~ComInitializer() {
    if (ok() && !abandoned_) {
      CoUninitialize();
    }
  }
  ComInitializer(const ComInitializer&) = delete;
  ComInitializer& operator=(const ComInitializer&) = delete;

  bool ok() const { return SUCCEEDED(result_); }
  HRESULT result() const { return result_; }

  // Leaves the apartment to the end of the thread: for a process that is
  // about to end with an error.
  void Abandon() { abandoned_ = true; }

 private:
  HRESULT result_;
  bool abandoned_ = false;
};

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adopts a reference the caller already holds.
  explicit ComPtr(T* object) : object_(object) {}
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : object_(other.Take()) {}
  // A self-move takes the pointer and puts it back: a no-op.
  ComPtr& operator=(ComPtr&& other) noexcept {
    Reset(other.Take());
    return *this;
  }

  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  T* Take() { return std::exchange(object_, nullptr); }
  // Releases the reference held before, even when |object| is the same
  // pointer: in COM that is a second reference of its own (QueryInterface
  // for the same interface answers the same pointer, add-ref'd).
  void Reset(T* object = nullptr) {
    T* old = std::exchange(object_, object);
    if (old != nullptr) {
      old->Release();
    }
  }
  // For a function that returns a new reference through T**; an earlier
  // reference is released first.
  T** Put() {
    Reset();
    return &object_;
  }
  // The same for CoCreateInstance and QueryInterface.
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

 private:
  T* object_ = nullptr;
};

// Owns memory the callee allocated with CoTaskMemAlloc (SHGetKnownFolderPath,
// IShellItem::GetDisplayName). Such functions may set the pointer even when
// they fail, so it is owned whatever they return.
template <typename T>
class CoTaskMemPtr {
 public:
  CoTaskMemPtr() = default;
  explicit CoTaskMemPtr(T* memory) : memory_(memory) {}
  ~CoTaskMemPtr() { CoTaskMemFree(memory_); }
  CoTaskMemPtr(const CoTaskMemPtr&) = delete;
  CoTaskMemPtr& operator=(const CoTaskMemPtr&) = delete;
  CoTaskMemPtr(CoTaskMemPtr&& other) noexcept
      : memory_(std::exchange(other.memory_, nullptr)) {}
  CoTaskMemPtr& operator=(CoTaskMemPtr&& other) noexcept {
    if (this != &other) {
      CoTaskMemFree(
          std::exchange(memory_, std::exchange(other.memory_, nullptr)));
    }
    return *this;
  }

  T* Get() const { return memory_; }
  explicit operator bool() const { return memory_ != nullptr; }
  T** Put() {
    CoTaskMemFree(std::exchange(memory_, nullptr));
    return &memory_;
  }

 private:
  T* memory_ = nullptr;
};

}  // namespace orvalin::win

#endif  // WIN_COM_H_
