// RAII owners for Win32 handles. Thin on purpose: the Win32 calls stay
// visible, both where a handle is made (the caller's own CreateEvent,
// RegOpenKeyEx, socket, LoadLibrary) and in the closer each owner names.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace cl {

// One owner template, one traits struct per kind of handle: Close is the
// Win32 call that frees it, IsValid says which values own nothing.
template <typename Traits>
class UniqueOwner {
 public:
  using Type = typename Traits::Type;

  UniqueOwner() = default;
  // Adopts h (the result of the call that made it).
  explicit UniqueOwner(Type h) : h_(h) {}
  ~UniqueOwner() { reset(); }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& o) noexcept : h_(o.release()) {}
  UniqueOwner& operator=(UniqueOwner&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  Type get() const { return h_; }
  bool valid() const { return Traits::IsValid(h_); }
  explicit operator bool() const { return valid(); }
  // Gives the handle up without closing it.
  Type release() {
    Type h = h_;
    h_ = Traits::Empty();
    return h;
  }
  // Closes what is held (when valid) and adopts h.
  void reset(Type h = Traits::Empty()) {
    if (Traits::IsValid(h_)) Traits::Close(h_);
    h_ = h;
  }
  // Closes what is held and hands out the slot for an out-parameter
  // (RegOpenKeyExW(..., key.put())).
  Type* put() {
    reset();
    return &h_;
  }

 private:
  Type h_ = Traits::Empty();
};

// A kernel HANDLE (thread, event, file, token, mutex). Both null and
// INVALID_HANDLE_VALUE own nothing.
struct HandleTraits {
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};
using UniqueHandle = UniqueOwner<HandleTraits>;

// An opened or created registry key. The predefined roots (HKEY_CURRENT_USER,
// ...) are never closed: an owner may hold one where a caller passes a root
// through.
struct HKeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) {
    return h != nullptr && h != HKEY_CLASSES_ROOT && h != HKEY_CURRENT_USER &&
           h != HKEY_LOCAL_MACHINE && h != HKEY_USERS && h != HKEY_CURRENT_CONFIG;
  }
  static void Close(Type h) { RegCloseKey(h); }
};
using UniqueHKey = UniqueOwner<HKeyTraits>;

// A Windows Sockets socket; INVALID_SOCKET owns nothing. Closed without a
// shutdown: callers that want an orderly end call shutdown first.
struct SocketTraits {
  using Type = SOCKET;
  static Type Empty() { return INVALID_SOCKET; }
  static bool IsValid(Type s) { return s != INVALID_SOCKET; }
  static void Close(Type s) { closesocket(s); }
};
using UniqueSocket = UniqueOwner<SocketTraits>;

// A DLL loaded with LoadLibrary; freed once (the loader counts references).
struct ModuleTraits {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { FreeLibrary(h); }
};
using UniqueModule = UniqueOwner<ModuleTraits>;

}  // namespace cl
