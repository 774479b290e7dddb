// Undoes a step on every way out of a scope, unless the step is kept: the few places that must
// give something back whatever happens (a lock taken by hand, a half-made change) say so once.
#pragma once

#include <utility>

namespace plat {

template <class Undo>
class ScopeExit {
 public:
  explicit ScopeExit(Undo undo) : undo_(std::move(undo)) {}
  ~ScopeExit() {
    if (armed_) undo_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  // The step stands: nothing is undone.
  void release() { armed_ = false; }

 private:
  Undo undo_;
  bool armed_ = true;
};

}  // namespace plat
