#pragma once

#include "platform/com/ComInterfaces.h"

#include <utility>

namespace cf::com {

// Holds one reference to an interface and releases it when it goes out of scope.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adds a reference of its own; the caller keeps its reference.
  explicit ComPtr(T* object) : object_(object) {
    if (object_ != nullptr) object_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.object_) {}
  ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference the caller already owns.
  static ComPtr Attach(T* object) {
    ComPtr owner;
    owner.object_ = object;
    return owner;
  }
  T* Detach() { return std::exchange(object_, nullptr); }
  void Reset() {
    if (T* object = std::exchange(object_, nullptr)) object->Release();
  }
  // Releases the held reference and returns the slot, for [out] parameters.
  T** Out() {
    Reset();
    return &object_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  template <typename U>
  ComPtr<U> As() const {
    ComPtr<U> other;
    if (object_ != nullptr) object_->QueryInterface(U::kIid, other.OutVoid());
    return other;
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace cf::com
