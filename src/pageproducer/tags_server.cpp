// Server and session tags: the clock, uptime, a random number, versions, the user and the charset.

#include <cstdint>
#include <ctime>

#include "core/quenforth.h"
#include "core/records.h"
#include "core/text.h"
#include "pageproducer/datetime.h"
#include "pageproducer/tags.h"
#include "platform/locale.h"
#include "platform/system.h"
#include "player/player.h"

namespace qf {
namespace {

void DateOrTime(Tag& tag, bool date) {
  platform::SYSTEMTIME now;
  platform::GetLocalTime(&now);
  const platform::LocaleFormats& locale = platform::UserLocaleFormats();
  std::string format = tag.Given("format") ? tag.Param("format") : (date ? locale.shortDate : locale.longTime);
  tag.Write(FormatDateTime(format, now, locale), kUrlEncoded | kEscape);
}

void Time(Tag& tag) { DateOrTime(tag, false); }
void Date(Tag& tag) { DateOrTime(tag, true); }

void ServerUptime(Tag& tag) {
  int seconds = tag.Core().UptimeSeconds;
  tag.Write(Format("%02d:%02d:%02d", seconds / 3600, (seconds / 60) % 60, seconds % 60), kUrlEncoded | kEscape);
}

// Seeded from the clock's whole seconds, then one draw: every random tag within one second agrees.
void Random(Tag& tag) {
  auto seed = static_cast<std::uint32_t>(std::time(nullptr));
  seed = seed * 0x08088405u + 1;
  auto value = static_cast<unsigned>((static_cast<std::uint64_t>(seed) * 65535u) >> 32);
  tag.output = Format("%04X", value);
}

void PlayerVersion(Tag& tag) { tag.Write(tag.Player().GetVersionString(), kUrlEncoded | kEscape); }
void QuenforthVersion(Tag& tag) { tag.Write(tag.Core().VersionText.Get(), kUrlEncoded | kEscape); }

void CurrentUser(Tag& tag) { tag.Write(tag.User() ? tag.User()->Login : "user management disabled", kTextOptions); }

void UserTracksAdded(Tag& tag) { tag.output = tag.User() ? std::to_string(tag.User()->TracksThisHour.load()) : "-"; }

void UserTracksLimit(Tag& tag) { tag.output = tag.User() ? std::to_string(tag.User()->tracks_per_hour) : "-"; }

void RootDirectory(Tag& tag) {
  tag.Write(tag.User() ? tag.User()->RootDirectory.Get() : tag.Core().CurrentSettings.Get()->RootDirectory,
            kPathOptions);
}

void Charset(Tag& tag) {
  tag.Write(tag.User() ? tag.User()->Charset.Get() : tag.Core().CurrentSettings.Get()->Charset, kUrlEncoded | kEscape);
}

}  // namespace

void AddServerTags(TagTable& table) {
  table["time"] = Time;
  table["date"] = Date;
  table["server_uptime"] = ServerUptime;
  table["random"] = Random;
  table["playerversion"] = PlayerVersion;
  table["quenforthversion"] = QuenforthVersion;
  table["currentuser"] = CurrentUser;
  table["user_tracks_added"] = UserTracksAdded;
  table["user_tracks_limit"] = UserTracksLimit;
  table["rootdirectory"] = RootDirectory;
  table["charset"] = Charset;
}

}  // namespace qf
