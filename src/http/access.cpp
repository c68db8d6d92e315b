#include "http/access.h"

#include <cmath>
#include <cstring>
#include <utility>

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

// Both texts are compared whatever the first gives, so the time taken tells nothing about either.
bool Matches(const UserClass& user, std::string_view login, std::string_view password) {
  bool loginMatches = SameText(user.Login, login);
  bool passwordMatches = SameTextConstantTime(user.Password, password);
  return loginMatches & passwordMatches;
}

// The host and port a URL names ("http://a:8080/x" gives "a:8080"), lower case, without the scheme's
// default port; empty when it names none.
std::string AuthorityOf(std::string_view url) {
  std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string();
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest = rest.substr(at + 1);
  std::string authority = LowerCase(rest);
  std::string_view name = url.substr(0, scheme);
  for (auto [prefix, port] : {std::pair{"http", ":80"}, std::pair{"https", ":443"}})
    if (SameText(name, prefix) && EndsText(authority, port)) authority.resize(authority.size() - std::strlen(port));
  return authority;
}

std::string HostOf(std::string_view host) {
  std::string authority = LowerCase(Trim(host));
  if (EndsText(authority, ":80")) authority.resize(authority.size() - 3);
  return authority;
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

bool SameTextConstantTime(std::string_view stored, std::string_view given) {
  unsigned difference = stored.size() != given.size();
  for (std::size_t i = 0; i < stored.size(); ++i) {
    char other = given.empty() ? '\0' : given[i % given.size()];
    difference |= static_cast<unsigned char>(LowerChar(stored[i]) ^ LowerChar(other));
  }
  return difference == 0;
}

bool FromAnotherSite(std::string_view host, std::string_view secFetchSite, std::string_view origin,
                     std::string_view referer) {
  secFetchSite = Trim(secFetchSite);
  if (SameText(secFetchSite, "cross-site") || SameText(secFetchSite, "same-site")) return true;
  origin = Trim(origin);
  std::string_view source = origin.empty() ? Trim(referer) : origin;
  if (source.empty()) return false;
  std::string authority = AuthorityOf(source);
  return authority.empty() || authority != HostOf(host);
}

}  // namespace qf
