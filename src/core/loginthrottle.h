#pragma once
// LoginThrottle: failed logins counted per client address. An address with `failures` failures within
// `window` is refused without any check for `block`, so that nobody on the network can try passwords at
// the speed of the server. Successful logins and other addresses are not affected.
//
// Threads: any; one lock guards the records, held only while they are looked at or changed. At most
// `addresses` addresses are remembered: an address that has failed nothing lately is forgotten first.

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace qf {

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  struct Limits {
    std::size_t failures = 10;
    Clock::duration window = std::chrono::minutes(5);
    Clock::duration block = std::chrono::seconds(60);
    std::size_t addresses = 4096;
  };

  LoginThrottle() = default;
  explicit LoginThrottle(const Limits& limits) : limits_(limits) {}

  // Whether `address` is refused now without a check.
  bool Blocked(const std::string& address, Clock::time_point now = Clock::now());
  // Counts a failed login of `address`: true when this failure starts the address's block.
  bool Failed(const std::string& address, Clock::time_point now = Clock::now());

 private:
  struct Record {
    std::deque<Clock::time_point> failures;  // within the window, oldest first, at most Limits::failures
    Clock::time_point blockedUntil{};
  };
  void Forget(Clock::time_point now);

  const Limits limits_{};
  std::mutex lock_;  // guards records_
  std::unordered_map<std::string, Record> records_;
};

}  // namespace qf
