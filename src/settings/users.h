#pragma once
// user.ini and iplist.ini: the user accounts and the IP whitelist as the settings files hold them.

#include <optional>
#include <string>
#include <string_view>

#include "core/records.h"
#include "core/text.h"

namespace qf {

class IniFile;

// The Login value of user.ini: Base64 of login, byte 0xB7, password, on one line whatever the length.
std::string EncodeLogin(std::string_view login, std::string_view password);
// The login (before the first 0xB7) and the password (after it); without a 0xB7 the login is empty and
// the whole text is the password.
void DecodeLogin(std::string_view value, std::string* login, std::string* password);

// A time of day written hh:mm:ss, and read from "h:mm", "h:mm:ss" or "h:mm:ss.zzz"; nothing for other texts.
std::string FormatTimeOfDay(double dayFraction);
std::optional<double> ParseTimeOfDay(std::string_view text);

// Sections "0", "1", ... until one whose Login is empty or missing. Missing keys take their defaults
// (`playerFolder` for the root folder); an upload limit of 0 or less reads as 1, and a user with a daily
// upload limit starts the day at 0.
UserList ReadUsers(const IniFile& ini, const std::string& playerFolder);
// Every user as section "0", "1", ... with every key, into an empty `ini`.
void WriteUsers(IniFile& ini, const UserList& users);

// Keys "0", "1", ... of section IPAddressManagement until the first empty or missing one.
TextList ReadIpList(const IniFile& ini);
void WriteIpList(IniFile& ini, const TextList& whitelist);

}  // namespace qf
