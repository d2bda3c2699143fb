// One owner per handle: a move-only wrapper that closes its handle exactly once.
#pragma once
#include <windows.h>

namespace riz {

template <typename Traits>
class Unique {
 public:
  using Handle = typename Traits::Handle;
  Unique() noexcept = default;
  explicit Unique(Handle h) noexcept : h_(h) {}
  Unique(Unique&& o) noexcept : h_(o.release()) {}
  Unique& operator=(Unique&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { reset(); }
  Handle get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return Traits::isValid(h_); }
  Handle release() noexcept {
    Handle h = h_;
    h_ = Traits::invalid();
    return h;
  }
  // Closing keeps the caller's last error intact, so a failure can still be read after cleanup.
  void reset(Handle h = Traits::invalid()) noexcept {
    if (Traits::isValid(h_)) {
      DWORD saved = GetLastError();
      Traits::close(h_);
      SetLastError(saved);
    }
    h_ = h;
  }
  Handle* put() noexcept {  // for APIs with an out-parameter
    reset();
    return &h_;
  }

 private:
  Handle h_ = Traits::invalid();
};

// CreateFileW, CreateEventW: both NULL and INVALID_HANDLE_VALUE are "none".
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool isValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(Handle h) noexcept { CloseHandle(h); }
};
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool isValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(Handle h) noexcept { FindClose(h); }
};
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle invalid() noexcept { return nullptr; }
  static bool isValid(Handle h) noexcept { return h != nullptr; }
  static void close(Handle h) noexcept { RegCloseKey(h); }
};
struct LocalMemTraits {  // memory the system hands out for LocalFree
  using Handle = HLOCAL;
  static Handle invalid() noexcept { return nullptr; }
  static bool isValid(Handle h) noexcept { return h != nullptr; }
  static void close(Handle h) noexcept { LocalFree(h); }
};

using UniqueHandle = Unique<KernelHandleTraits>;
using UniqueFind = Unique<FindHandleTraits>;
using UniqueHkey = Unique<RegKeyTraits>;
using UniqueLocal = Unique<LocalMemTraits>;

}  // namespace riz
