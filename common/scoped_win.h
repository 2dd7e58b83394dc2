#pragma once
// Scoped owners of Windows resources, for the *_win.cpp files: each gives back what it holds when
// it goes out of scope, so an early return cannot leak a handle or leave COM initialised.
#include <windows.h>
#include <ole2.h>

#include <cstdint>

namespace sv {

// One owner per kind of resource; Traits says what "none" is and how to give a value back.
template <typename Traits>
class ScopedResource {
 public:
  using Value = typename Traits::Value;

  ScopedResource() = default;
  explicit ScopedResource(Value v) : value_(v) {}
  ~ScopedResource() { reset(); }
  ScopedResource(ScopedResource&& other) noexcept : value_(other.release()) {}
  ScopedResource& operator=(ScopedResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedResource(const ScopedResource&) = delete;
  ScopedResource& operator=(const ScopedResource&) = delete;

  Value get() const { return value_; }
  bool valid() const { return Traits::Valid(value_); }
  explicit operator bool() const { return valid(); }
  // Hands the value over to the caller, who closes it.
  Value release() {
    Value v = value_;
    value_ = Traits::None();
    return v;
  }
  // Gives back the value held now and takes `v`.
  void reset(Value v = Traits::None()) {
    if (Traits::Valid(value_)) Traits::Close(value_);
    value_ = v;
  }
  // Gives back the value held now; false when the system reports an error doing so.
  bool close() {
    const bool ok = !Traits::Valid(value_) || Traits::Close(value_);
    value_ = Traits::None();
    return ok;
  }

 private:
  Value value_ = Traits::None();
};

// Kernel objects (files, processes, threads, events, mutexes). Creating functions disagree on
// what failure is (CreateFileW: INVALID_HANDLE_VALUE, the others: null); both count as none.
struct KernelHandleTraits {
  using Value = HANDLE;
  static Value None() { return nullptr; }
  static bool Valid(Value h) { return h && h != INVALID_HANDLE_VALUE; }
  static bool Close(Value h) { return CloseHandle(h) != 0; }
};
using ScopedHandle = ScopedResource<KernelHandleTraits>;

// A search of FindFirstFileW.
struct FindHandleTraits {
  using Value = HANDLE;
  static Value None() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Value h) { return h != INVALID_HANDLE_VALUE; }
  static bool Close(Value h) { return FindClose(h) != 0; }
};
using ScopedFindHandle = ScopedResource<FindHandleTraits>;

// A module of LoadLibraryW / LoadLibraryExW.
struct ModuleTraits {
  using Value = HMODULE;
  static Value None() { return nullptr; }
  static bool Valid(Value m) { return m != nullptr; }
  static bool Close(Value m) { return FreeLibrary(m) != 0; }
};
using ScopedModule = ScopedResource<ModuleTraits>;

// COM on this thread (CoInitializeEx); undone only when it succeeded.
class ScopedCom {
 public:
  explicit ScopedCom(DWORD flags) : result_(CoInitializeEx(nullptr, flags)) {}
  ~ScopedCom() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ScopedCom(const ScopedCom&) = delete;
  ScopedCom& operator=(const ScopedCom&) = delete;
  bool ok() const { return SUCCEEDED(result_); }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

// OLE on this thread, in a single-threaded apartment (OleInitialize); undone only when it
// succeeded.
class ScopedOle {
 public:
  ScopedOle() : result_(OleInitialize(nullptr)) {}
  ~ScopedOle() {
    if (SUCCEEDED(result_)) OleUninitialize();
  }
  ScopedOle(const ScopedOle&) = delete;
  ScopedOle& operator=(const ScopedOle&) = delete;
  bool ok() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// GDI+ for as long as the scope lives: started before the first GDI+ object is made, shut down
// after the last one is gone.
class ScopedGdiplus {
 public:
  ScopedGdiplus();
  ~ScopedGdiplus();
  ScopedGdiplus(const ScopedGdiplus&) = delete;
  ScopedGdiplus& operator=(const ScopedGdiplus&) = delete;
  bool started() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace sv
