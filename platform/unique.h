// Owns one resource of a kind its traits describe (a handle, a descriptor, an array, a string):
// released on scope exit, on every path, and moved but never copied. Every owner of the suite is
// this template with the traits of its kind:
//   static T None();        what stands for "nothing owned"
//   static bool IsNone(T);  whether a value owns nothing (a value that does is kept as None())
//   static void Close(T);   releases a value that owns something
#pragma once

#include <utility>

namespace plat {

template <class T, class Traits>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(Traits::IsNone(value) ? Traits::None() : value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& o) noexcept : value_(o.release()) {}
  UniqueResource& operator=(UniqueResource&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  T get() const { return value_; }
  explicit operator bool() const { return !Traits::IsNone(value_); }
  T release() { return std::exchange(value_, Traits::None()); }
  void reset(T value = Traits::None()) {
    const T old = std::exchange(value_, Traits::IsNone(value) ? Traits::None() : value);
    if (!Traits::IsNone(old)) Traits::Close(old);
  }
  // For a call that hands back a new resource through an out parameter: what was owned is released first.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::None();
};

}  // namespace plat
