// Owner of one COM interface pointer: Release on reset and destruction.
#pragma once

#include <unknwn.h>

namespace cl {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adopts p without AddRef (the usual result of a Create/Query call).
  explicit ComPtr(T* p) : p_(p) {}
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(const ComPtr& o) {
    if (this != &o) {
      if (o.p_) o.p_->AddRef();
      reset(o.p_);
    }
    return *this;
  }
  ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      reset(o.p_);
      o.p_ = nullptr;
    }
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases what is held and hands out the slot for an out-parameter.
  T** put() {
    reset();
    return &p_;
  }
  void reset(T* p = nullptr) {
    if (p_) p_->Release();
    p_ = p;
  }
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace cl
