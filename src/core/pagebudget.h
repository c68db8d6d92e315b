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

  // Bytes one production holds; given back to the budget when the charge goes.
  class Charge {
   public:
    explicit Charge(PageBudget& budget) : budget_(budget) {}
    ~Charge() { budget_.used_.fetch_sub(bytes_, std::memory_order_relaxed); }
    Charge(const Charge&) = delete;
    Charge& operator=(const Charge&) = delete;
    // Takes up to `bytes` more from the budget; how many it got.
    std::size_t Take(std::size_t bytes);
    std::size_t Bytes() const { return bytes_; }

   private:
    PageBudget& budget_;
    std::size_t bytes_ = 0;  // only the owning production's thread changes it
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

inline std::size_t PageBudget::Charge::Take(std::size_t bytes) {
  std::size_t free = bytes_ < kSmallPage ? std::min(bytes, kSmallPage - bytes_) : 0;
  if (free > 0) {
    budget_.used_.fetch_add(free, std::memory_order_relaxed);
    bytes_ += free;
    bytes -= free;
    if (bytes == 0) return free;
  }
  const std::size_t limit = budget_.limit_.load(std::memory_order_relaxed);
  std::size_t used = budget_.used_.load(std::memory_order_relaxed);
  std::size_t granted;
  do {
    granted = used >= limit ? 0 : std::min(bytes, limit - used);
    if (granted == 0) return free;
  } while (!budget_.used_.compare_exchange_weak(used, used + granted, std::memory_order_relaxed));
  bytes_ += granted;
  return free + granted;
}

}  // namespace qf
