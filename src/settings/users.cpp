#include "settings/users.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/dimime.h"
#include "core/inifile.h"

namespace qf {
namespace {

constexpr char kSeparator = '\xB7';
constexpr char kIpSection[] = "IPAddressManagement";
constexpr std::array<const char*, 7> kDays{"Su", "Mo", "Tu", "We", "Th", "Fr", "Sa"};
constexpr double kDayEnd = (23 * 3600 + 59 * 60 + 59) / 86400.0;

double ReadTime(const IniFile& ini, const std::string& section, const std::string& key, double fallback) {
  return ParseTimeOfDay(ini.ReadString(section, key, "")).value_or(fallback);
}

}  // namespace

std::string EncodeLogin(std::string_view login, std::string_view password) {
  std::string text(login);
  text += kSeparator;
  text += password;
  return MimeEncodeString(text);
}

void DecodeLogin(std::string_view value, std::string* login, std::string* password) {
  std::string text = MimeDecodeString(value);
  std::size_t separator = text.find(kSeparator);
  if (separator == std::string::npos) {
    login->clear();
    *password = text;
    return;
  }
  *login = text.substr(0, separator);
  *password = text.substr(separator + 1);
}

std::string FormatTimeOfDay(double dayFraction) {
  long long seconds = std::llround(dayFraction * 86400000.0) / 1000;
  seconds = std::clamp<long long>(seconds, 0, 86399);
  return Format("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::optional<double> ParseTimeOfDay(std::string_view text) {
  text = Trim(text);
  int parts[3] = {0, 0, 0};
  int milliseconds = 0;
  int count = 0;
  std::size_t start = 0;
  while (count < 3) {
    std::size_t end = text.find_first_of(":.", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = text.substr(start, end - start);
    if (piece.empty() || piece.size() > 2 || piece.find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    parts[count++] = *ParseInt(piece);
    if (end == text.size()) break;
    if (text[end] == '.') {
      if (count != 3) return std::nullopt;
      std::string_view fraction = text.substr(end + 1);
      if (fraction.empty() || fraction.size() > 3 || fraction.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
      milliseconds = *ParseInt(fraction);
      for (std::size_t digits = fraction.size(); digits < 3; ++digits) milliseconds *= 10;
      break;
    }
    start = end + 1;
    if (count == 3) return std::nullopt;
  }
  if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
  double total = ((parts[0] * 60.0 + parts[1]) * 60.0 + parts[2]) * 1000.0 + milliseconds;
  return total / 86400000.0;
}

UserList ReadUsers(const IniFile& ini, const std::string& playerFolder) {
  UserList users;
  for (int n = 0;; ++n) {
    std::string section = std::to_string(n);
    std::string encoded = ini.ReadString(section, "Login", "");
    if (encoded.empty()) break;
    auto user = std::make_shared<UserClass>();
    DecodeLogin(encoded, &user->Login, &user->Password);
    for (std::size_t day = 0; day < kDays.size(); ++day) {
      std::string name = kDays[day];
      user->DayAllowed[day] = ini.ReadBool(section, name, true);
      user->DayFrom[day] = ReadTime(ini, section, name + "From", 0.0);
      user->DayTo[day] = ReadTime(ini, section, name + "To", kDayEnd);
    }
    std::string root = ini.ReadString(section, "RootDirectory", playerFolder);
    user->RootDirectory.Set(root);
    user->CurrentDirectory.Set(ini.ReadString(section, "CurrentDirectory", root));
    user->Skin.Set(ini.ReadString(section, "Skin", "base"));
    user->ChangeSkin = ini.ReadBool(section, "ChangeSkin", true);
    user->Charset.Set(ini.ReadString(section, "Charset", "iso-8859-1"));
    user->INISection.Set(ini.ReadString(section, "INISection", ""));
    user->allowBrowseAboveRoot = ini.ReadBool(section, "allowBrowseAboveRoot", true);
    user->displayDrives = ini.ReadBool(section, "displayDrives", true);
    user->add_files = ini.ReadBool(section, "add_files", false);
    user->change_state = ini.ReadBool(section, "change_state", false);
    user->download = ini.ReadBool(section, "download", false);
    user->remove_his = ini.ReadBool(section, "remove_his", false);
    user->remove_all = ini.ReadBool(section, "remove_all", false);
    user->admin = ini.ReadBool(section, "admin", false);
    user->tracks_per_hour = ini.ReadInteger(section, "tracks_per_hour", 0);
    user->uploadmode = ini.ReadInteger(section, "uploadmode", 0);
    int limit = ini.ReadInteger(section, "uploadlimit", 1);
    user->uploadlimit = limit <= 0 ? 1 : limit;
    user->currentupload = user->uploadmode == 3 ? 0 : ini.ReadInteger(section, "currentupload", 0);
    users.push_back(std::move(user));
  }
  return users;
}

void WriteUsers(IniFile& ini, const UserList& users) {
  int n = 0;
  for (const auto& user : users) {
    if (!user) continue;
    std::string section = std::to_string(n++);
    ini.WriteString(section, "Login", EncodeLogin(user->Login, user->Password));
    for (std::size_t day = 0; day < kDays.size(); ++day) {
      std::string name = kDays[day];
      ini.WriteBool(section, name, user->DayAllowed[day]);
      ini.WriteString(section, name + "From", FormatTimeOfDay(user->DayFrom[day]));
      ini.WriteString(section, name + "To", FormatTimeOfDay(user->DayTo[day]));
    }
    ini.WriteString(section, "RootDirectory", user->RootDirectory.Get());
    ini.WriteString(section, "CurrentDirectory", user->CurrentDirectory.Get());
    ini.WriteString(section, "Skin", user->Skin.Get());
    ini.WriteBool(section, "ChangeSkin", user->ChangeSkin);
    ini.WriteString(section, "Charset", user->Charset.Get());
    ini.WriteString(section, "INISection", user->INISection.Get());
    ini.WriteBool(section, "allowBrowseAboveRoot", user->allowBrowseAboveRoot);
    ini.WriteBool(section, "displayDrives", user->displayDrives);
    ini.WriteBool(section, "add_files", user->add_files);
    ini.WriteBool(section, "change_state", user->change_state);
    ini.WriteBool(section, "download", user->download);
    ini.WriteBool(section, "remove_his", user->remove_his);
    ini.WriteBool(section, "remove_all", user->remove_all);
    ini.WriteBool(section, "admin", user->admin);
    ini.WriteInteger(section, "tracks_per_hour", user->tracks_per_hour);
    ini.WriteInteger(section, "uploadmode", user->uploadmode);
    ini.WriteInteger(section, "uploadlimit", user->uploadlimit);
    ini.WriteInteger(section, "currentupload", user->currentupload);
  }
}

TextList ReadIpList(const IniFile& ini) {
  TextList whitelist;
  for (int n = 0;; ++n) {
    std::string entry = ini.ReadString(kIpSection, std::to_string(n), "");
    if (entry.empty()) break;
    whitelist.push_back(std::move(entry));
  }
  return whitelist;
}

void WriteIpList(IniFile& ini, const TextList& whitelist) {
  int n = 0;
  // An empty entry would end the list when it is read again, losing every entry after it.
  for (const std::string& entry : whitelist)
    if (!Trim(entry).empty()) ini.WriteString(kIpSection, std::to_string(n++), entry);
}

}  // namespace qf
