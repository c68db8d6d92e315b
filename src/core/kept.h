#pragma once
// One costly object (a loaded library, say) kept for the requests that use it one after another, and let
// go once none has used it for a while. Any thread takes it; whoever still holds it when it is let go
// keeps it alive until done.

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace qf {

template <typename T>
class Kept {
 public:
  using Clock = std::chrono::steady_clock;

  // The object kept under `key`; when there is none (or one of another key), `make` is asked for it
  // (with the lock held, so that callers arriving meanwhile wait for that one instead of making more). A
  // null answer of `make` is passed on and not kept.
  template <typename Make>
  std::shared_ptr<const T> Take(const std::string& key, Make&& make, Clock::time_point now = Clock::now()) {
    std::shared_ptr<const T> old;  // let go after the lock
    std::lock_guard guard(lock_);
    if (!kept_ || key_ != key) {
      old = std::move(kept_);
      kept_ = make();
      key_ = key;
    }
    lastUse_ = now;
    return kept_;
  }

  // Lets the object go when it has not been taken for `idle`, or at once with a zero `idle`.
  void ReleaseIdle(std::chrono::milliseconds idle, Clock::time_point now = Clock::now()) {
    std::shared_ptr<const T> old;
    std::lock_guard guard(lock_);
    if (kept_ && now - lastUse_ >= idle) old = std::move(kept_);
  }

  bool Holds() const {
    std::lock_guard guard(lock_);
    return kept_ != nullptr;
  }

 private:
  mutable std::mutex lock_;
  std::shared_ptr<const T> kept_;  // guarded by lock_
  std::string key_;                // guarded by lock_
  Clock::time_point lastUse_{};    // guarded by lock_
};

}  // namespace qf
