#include "http/access.h"

#include <cmath>

#include "platform/system.h"

namespace qf {

std::uint32_t DottedToNumber(std::string_view address) {
  address = Trim(address);
  std::uint32_t value = 0;
  int parts = 0;
  std::size_t start = 0;
  while (start <= address.size()) {
    std::size_t end = address.find('.', start);
    if (end == std::string_view::npos) end = address.size();
    std::optional<int> octet = ParseInt(address.substr(start, end - start));
    if (!octet || *octet < 0 || *octet > 255 || address[start] == '+' || address[start] == '-' || ++parts > 4)
      return 0xFFFFFFFFu;
    value = value << 8 | static_cast<std::uint32_t>(*octet);
    start = end + 1;
  }
  return parts == 4 ? value : 0xFFFFFFFFu;
}

bool CheckIpWhitelist(const TextList& whitelist, std::string_view remote) {
  std::uint32_t address = DottedToNumber(remote);
  for (const std::string& entry : whitelist) {
    std::size_t dash = entry.find('-');
    if (dash == std::string::npos) {
      if (DottedToNumber(entry) == address) return true;
    } else if (DottedToNumber(std::string_view(entry).substr(0, dash)) <= address &&
               address <= DottedToNumber(std::string_view(entry).substr(dash + 1))) {
      return true;
    }
  }
  return false;
}

LocalMoment CurrentMoment() {
  platform::SYSTEMTIME now;
  platform::GetLocalTime(&now);
  double milliseconds = ((now.wHour * 60.0 + now.wMinute) * 60.0 + now.wSecond) * 1000.0 + now.wMilliseconds;
  return LocalMoment{now.wDayOfWeek, milliseconds / 86400000.0};
}

namespace {

// Times compared at millisecond resolution, so that stored fractions and the clock agree exactly.
long long Milliseconds(double dayFraction) { return std::llround(dayFraction * 86400000.0); }

bool Matches(const UserClass& user, std::string_view login, std::string_view password) {
  return SameText(user.Login, login) && SameText(user.Password, password);
}

}  // namespace

std::shared_ptr<UserClass> AdmittedUser(const UserList& users, std::string_view login, std::string_view password,
                                        LocalMoment now) {
  if (now.weekday < 0 || now.weekday > 6) return nullptr;
  long long time = Milliseconds(now.dayFraction);
  for (const auto& user : users) {
    if (!user || !Matches(*user, login, password)) continue;
    auto day = static_cast<std::size_t>(now.weekday);
    if (user->DayAllowed[day] && Milliseconds(user->DayFrom[day]) <= time && time <= Milliseconds(user->DayTo[day]))
      return user;
  }
  return nullptr;
}

bool CheckUserAccess(const UserList& users, std::string_view login, std::string_view password, LocalMoment now) {
  return AdmittedUser(users, login, password, now) != nullptr;
}

}  // namespace qf
