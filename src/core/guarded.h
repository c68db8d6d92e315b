#pragma once
// Values shared between threads, each guarded by a lock it does not own (the core object's
// process-wide lock, or a record's own). The lock is held only to copy or assign the value, never
// while the caller works with it.
//
// Lists that are rebuilt while others read them are immutable snapshots: Guarded<Snapshot<List>>.
// A reader copies the pointer and keeps a list that no writer changes; a writer builds a new list and
// swaps it in (Set), or changes a copy of the current one (Modify).

#include <memory>
#include <mutex>
#include <utility>

namespace qf {

template <class T>
using Snapshot = std::shared_ptr<const T>;

template <class T>
class Guarded {
 public:
  explicit Guarded(std::mutex& lock, T value = T()) : lock_(lock), value_(std::move(value)) {}
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  T Get() const {
    std::lock_guard guard(lock_);
    return value_;
  }

  // Runs `read` on the value with the lock held, for a caller that needs only part of it or something
  // made from it; the same rule as for Update.
  template <class Reader>
  auto Read(Reader&& read) const {
    std::lock_guard guard(lock_);
    return read(static_cast<const T&>(value_));
  }

  void Set(T value) {
    std::lock_guard guard(lock_);
    value_ = std::move(value);
  }

  // Runs `change` on the value with the lock held; keep it short and free of I/O and messages.
  template <class Change>
  auto Update(Change&& change) {
    std::lock_guard guard(lock_);
    return change(value_);
  }

 private:
  std::mutex& lock_;
  T value_;
};

// A snapshot list changed by copying: `change` edits a fresh copy of the current list, which then
// replaces it. Readers holding the old snapshot keep it unchanged.
template <class List, class Change>
void Modify(Guarded<Snapshot<List>>& guarded, Change&& change) {
  guarded.Update([&](Snapshot<List>& current) {
    auto next = current ? std::make_shared<List>(*current) : std::make_shared<List>();
    change(*next);
    current = std::move(next);
  });
}

template <class List>
Snapshot<List> EmptySnapshot() {
  return std::make_shared<const List>();
}

}  // namespace qf
