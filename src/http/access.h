#pragma once
// Access control: the IP whitelist and the user accounts a request may enter with.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/records.h"
#include "core/text.h"

namespace qf {

// A dotted IPv4 address as a number, first octet most significant; 255.255.255.255 for a text that is
// no dotted address.
std::uint32_t DottedToNumber(std::string_view address);

// True when an entry matches: an address equal to `remote`, or a range "low - high" holding it (both
// ends included). An empty list admits nobody.
bool CheckIpWhitelist(const TextList& whitelist, std::string_view remote);

// A weekday (0 = Sunday) and a time of day as a fraction of a day.
struct LocalMoment {
  int weekday = 0;
  double dayFraction = 0;
};
LocalMoment CurrentMoment();

// The first user with this login and password (both compared without regard to case) who may enter at
// `now`: the weekday is allowed and its from/to window holds the time, both ends included. Two accounts
// may share login and password with different windows; the request runs with the rights of the one
// that admitted it.
std::shared_ptr<UserClass> AdmittedUser(const UserList& users, std::string_view login, std::string_view password,
                                        LocalMoment now = CurrentMoment());
bool CheckUserAccess(const UserList& users, std::string_view login, std::string_view password,
                     LocalMoment now = CurrentMoment());

// Texts compared without regard to ASCII case in a time that depends on the length of `stored` alone,
// never on where `given` differs or how long it is.
bool SameTextConstantTime(std::string_view stored, std::string_view given);

// Whether a browser sent the request for a page of another site: Sec-Fetch-Site says "cross-site" or
// "same-site", or else Origin (without Origin, Referer) names another host and port than Host, or an
// opaque origin ("null"). A request without any of these (a script, a bookmark, an address typed in) is
// from no other site.
bool FromAnotherSite(std::string_view host, std::string_view secFetchSite, std::string_view origin,
                     std::string_view referer);

}  // namespace qf
