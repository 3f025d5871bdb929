// Pin<T>: one hold on a cached object (a record buffer, an index page, a
// BLOB block), given back when the guard goes, also when an error unwinds.
// A pinned object is never evicted, recycled or written by its cache.
//
// The guard adopts a pin already taken (the caches hand out pinned
// objects); the object's type says how a pin is given back through an
// Unpin(T&) overload beside it. Move-only, like std::unique_ptr.
#pragma once

#include <utility>

namespace storage {

template <class T>
class Pin {
 public:
  Pin() = default;
  explicit Pin(T* object) : object_(object) {}
  ~Pin() { reset(); }
  Pin(const Pin&) = delete;
  Pin& operator=(const Pin&) = delete;
  Pin(Pin&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Pin& operator=(Pin&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }

  // Gives the pin back now.
  void reset() {
    if (object_ != nullptr) Unpin(*object_);
    object_ = nullptr;
  }
  // Hands the pin to the caller, who gives it back.
  T* release() { return std::exchange(object_, nullptr); }
  [[nodiscard]] T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace storage
