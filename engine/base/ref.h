#pragma once

#include <utility>

namespace kor {

// An owning handle for one reference to a TRCObject.
//   Ref<T>::Adopt(p)  takes over a reference the caller already holds (the
//                     creator's count of 1 after `new`); no AddRef.
//   copying           adds a reference; moving transfers it.
//   destruction       releases the reference, also during unwinding.
//   ReleaseLast()     releases it asserting that it was the last one.
//   Detach()          the one way out to a raw pointer that still carries the
//                     reference; a search for it finds every such place.
// A function taking Ref<T> by value takes over a reference; one taking T& or
// T* only borrows; a returned Ref<T> is the caller's own.
template <typename T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  static Ref Adopt(T* object) {
    Ref result;
    result.Object = object;
    return result;
  }
  // A new reference to an object the caller only borrows.
  static Ref Share(T& object) {
    object.AddRef();
    return Adopt(&object);
  }

  Ref(const Ref& other) : Object(other.Object) {
    if (Object != nullptr) Object->AddRef();
  }
  Ref(Ref&& other) noexcept : Object(std::exchange(other.Object, nullptr)) {}
  template <typename U>
  Ref(Ref<U>&& other) noexcept : Object(other.Detach()) {}
  template <typename U>
  Ref(const Ref<U>& other) : Object(other.Get()) {
    if (Object != nullptr) Object->AddRef();
  }

  Ref& operator=(Ref other) noexcept {
    std::swap(Object, other.Object);
    return *this;
  }
  ~Ref() { Reset(); }

  void Reset() {
    if (T* object = std::exchange(Object, nullptr)) object->Release();
  }
  void ReleaseLast() {
    if (T* object = std::exchange(Object, nullptr)) object->ReleaseLast();
  }
  [[nodiscard]] T* Detach() { return std::exchange(Object, nullptr); }

  T* Get() const { return Object; }
  T* operator->() const { return Object; }
  T& operator*() const { return *Object; }
  explicit operator bool() const { return Object != nullptr; }

 private:
  T* Object = nullptr;
};

// Creates an object and hands its first reference to a Ref.
template <typename T, typename... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>::Adopt(new T(std::forward<Args>(args)...));
}

}  // namespace kor
