#pragma once
// PageBudget: the bytes of produced pages that the process holds at once, from the first byte a page
// production writes until its answer has been sent or dropped. One page may hold 16 MiB; sixty slow
// clients asking for such pages at once would otherwise take a gigabyte, far more than a 32-bit player
// can give. Past the budget a production gets no more bytes and ends as a page that is too large; the
// first kSmallPage bytes of every page are granted all the same, so that ordinary pages keep coming while
// large ones are held (the connection cap bounds what that can add up to).
//
// Threads: any. A charge belongs to one production and then to the answer it became.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>

namespace qf {

class PageBudget {
 public:
  static constexpr std::size_t kDefaultLimit = 64 * 1024 * 1024;
  static constexpr std::size_t kSmallPage = 128 * 1024;
  // A production takes its bytes from the shared count this many at a time and hands them out tag by
  // tag: a page of a thousand entries writes tens of thousands of pieces, and every thread counting each
  // of them on the one shared counter made the counter the busiest line of memory in the process.
  static constexpr std::size_t kReserve = 16 * 1024;

  // Bytes one production holds; given back to the budget when the charge goes.
  class Charge {
   public:
    explicit Charge(PageBudget& budget) : budget_(budget) {}
    ~Charge() { budget_.used_.fetch_sub(reserved_, std::memory_order_relaxed); }
    Charge(const Charge&) = delete;
    Charge& operator=(const Charge&) = delete;
    // Takes up to `bytes` more from the budget; how many it got.
    std::size_t Take(std::size_t bytes) {
      if (reserved_ - bytes_ < bytes) Reserve(bytes - (reserved_ - bytes_));
      std::size_t granted = std::min(bytes, reserved_ - bytes_);
      bytes_ += granted;
      return granted;
    }
    // Takes `bytes` when they are reserved already (no access to the shared count); false otherwise.
    bool TakeReserved(std::size_t bytes) {
      if (reserved_ - bytes_ < bytes) return false;
      bytes_ += bytes;
      return true;
    }
    // Gives back what was reserved and not taken: the production has ended.
    void ReturnUnused() {
      budget_.used_.fetch_sub(reserved_ - bytes_, std::memory_order_relaxed);
      reserved_ = bytes_;
    }
    std::size_t Bytes() const { return bytes_; }

   private:
    void Reserve(std::size_t needed);

    PageBudget& budget_;
    // Only the owning production's thread changes these; reserved_ is what the shared count holds for it.
    std::size_t bytes_ = 0;
    std::size_t reserved_ = 0;
  };

  explicit PageBudget(std::size_t limit = kDefaultLimit) : limit_(limit) {}
  // For tests: a smaller budget from now on.
  void SetLimit(std::size_t limit) { limit_.store(limit, std::memory_order_relaxed); }
  // The budget must outlive every charge opened on it.
  std::shared_ptr<Charge> Open() { return std::make_shared<Charge>(*this); }
  std::size_t Used() const { return used_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::size_t> limit_;
  std::atomic<std::size_t> used_{0};
};

// Reserves at least `needed` bytes, kReserve when the budget allows: the first kSmallPage bytes of a
// production always, past them no more than the limit leaves.
inline void PageBudget::Charge::Reserve(std::size_t needed) {
  std::size_t wanted = std::max(needed, kReserve);
  if (reserved_ < kSmallPage) {
    std::size_t free = std::min(wanted, kSmallPage - reserved_);
    budget_.used_.fetch_add(free, std::memory_order_relaxed);
    reserved_ += free;
    if (free >= needed) return;
    needed -= free;
    wanted -= free;
  }
  const std::size_t limit = budget_.limit_.load(std::memory_order_relaxed);
  std::size_t used = budget_.used_.load(std::memory_order_relaxed);
  std::size_t granted;
  do {
    granted = used >= limit ? 0 : std::min(wanted, limit - used);
    if (granted == 0) return;
  } while (!budget_.used_.compare_exchange_weak(used, used + granted, std::memory_order_relaxed));
  reserved_ += granted;
}

}  // namespace qf
