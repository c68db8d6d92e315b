#include "core/loginthrottle.h"

namespace qf {

bool LoginThrottle::Blocked(const std::string& address, Clock::time_point now) {
  std::lock_guard guard(lock_);
  auto found = records_.find(address);
  return found != records_.end() && now < found->second.blockedUntil;
}

bool LoginThrottle::Failed(const std::string& address, Clock::time_point now) {
  std::lock_guard guard(lock_);
  if (records_.size() >= limits_.addresses && !records_.count(address)) {
    Forget(now);
    // Every remembered address is blocked: the memory stays bounded, this one goes uncounted.
    if (records_.size() >= limits_.addresses) return false;
  }
  Record& record = records_[address];
  if (now < record.blockedUntil) return false;
  while (!record.failures.empty() && now - record.failures.front() >= limits_.window) record.failures.pop_front();
  record.failures.push_back(now);
  if (record.failures.size() < limits_.failures) return false;
  // The block starts afresh: the failures that earned it are spent.
  record.failures.clear();
  record.blockedUntil = now + limits_.block;
  return true;
}

// Makes room for one more address: first those with nothing to remember, then, when every address is
// busy failing (many addresses at once), the one whose last failure is oldest, unless it is blocked.
void LoginThrottle::Forget(Clock::time_point now) {
  for (auto i = records_.begin(); i != records_.end();) {
    const Record& record = i->second;
    bool stale = record.failures.empty() || now - record.failures.back() >= limits_.window;
    if (stale && now >= record.blockedUntil)
      i = records_.erase(i);
    else
      ++i;
  }
  if (records_.size() < limits_.addresses) return;
  auto oldest = records_.end();
  for (auto i = records_.begin(); i != records_.end(); ++i) {
    if (now < i->second.blockedUntil || i->second.failures.empty()) continue;
    if (oldest == records_.end() || i->second.failures.back() < oldest->second.failures.back()) oldest = i;
  }
  if (oldest != records_.end()) records_.erase(oldest);
}

}  // namespace qf
