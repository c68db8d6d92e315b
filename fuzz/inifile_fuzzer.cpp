// libFuzzer target: the INI reader and writer (src/core/inifile.*) and the readers and writers of the
// settings files built on it (quenforth.ini through the settings table, user.ini, iplist.ini).
//
// Input: the text of an INI file, read as every settings file is.
//
// Oracles: a write of what was read reads back the same. No name or value read holds a line break; every
// key of every section, written into a new file and into the file it came from, reads back as it was
// read; the file's text read again reads the same;
// settings, accounts and whitelist written back into the file read back as they were read, and their
// writing is the same whether it comes from the first reading or the second.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/inifile.h"
#include "core/text.h"
#include "fuzzing.h"
#include "settings/settingstable.h"
#include "settings/users.h"

namespace {

// Every value of `ini` as section, key, value, in file order; sections and keys once each (the first of
// each name, without regard to case, is the one that is read).
struct Entry {
  std::string section, key, value;
};
std::vector<Entry> Entries(const qf::IniFile& ini) {
  std::vector<Entry> entries;
  std::set<std::string> sections;
  for (const std::string& section : ini.ReadSections()) {
    if (!sections.insert(qf::LowerCase(section)).second) continue;
    std::set<std::string> keys;
    for (const std::string& key : ini.ReadSection(section))
      if (keys.insert(qf::LowerCase(key)).second) entries.push_back({section, key, ini.ReadString(section, key, "")});
  }
  return entries;
}

std::string SettingsText(const qf::Settings& settings) {
  qf::IniFile ini("", "");
  qf::WriteSettings(ini, settings, "Quenforth KV7 (3.0)");
  return ini.Text() + "PortError=" + settings.PortError;
}

std::string UsersText(const qf::UserList& users) {
  qf::IniFile ini("", "");
  qf::WriteUsers(ini, users);
  return ini.Text();
}

std::string IpListText(const qf::TextList& whitelist) {
  qf::IniFile ini("", "");
  qf::WriteIpList(ini, whitelist);
  return ini.Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = qffuzz::Text(data, size);
  const qf::IniFile ini("C:\\fuzz.ini", text);
  const std::vector<Entry> entries = Entries(ini);
  for (const Entry& entry : entries) {
    QF_FUZZ_CHECK(ini.SectionExists(entry.section) && ini.ValueExists(entry.section, entry.key));
    QF_FUZZ_CHECK(entry.value == qf::Trim(entry.value));
    for (const std::string* part : {&entry.section, &entry.key, &entry.value})
      QF_FUZZ_CHECK(part->find_first_of("\r\n") == std::string::npos);
    ini.ReadInteger(entry.section, entry.key, 0);
    ini.ReadBool(entry.section, entry.key, false);
  }

  const qf::IniFile reread("C:\\fuzz.ini", ini.Text());
  QF_FUZZ_CHECK(reread.Text() == ini.Text());
  for (const Entry& entry : entries) QF_FUZZ_CHECK(reread.ReadString(entry.section, entry.key, "") == entry.value);

  qf::IniFile fresh("C:\\fuzz.ini", "");
  qf::IniFile inPlace("C:\\fuzz.ini", text);
  for (const Entry& entry : entries) {
    fresh.WriteString(entry.section, entry.key, entry.value);
    inPlace.WriteString(entry.section, entry.key, entry.value);
  }
  for (const Entry& entry : entries) {
    QF_FUZZ_CHECK(fresh.ReadString(entry.section, entry.key, "\n") == entry.value);
    QF_FUZZ_CHECK(inPlace.ReadString(entry.section, entry.key, "\n") == entry.value);
  }

  // The settings files: read, written back into the same file, read again.
  const qf::SettingsDefaults defaults{"C:\\Program Files\\Winamp",
                                      "C:\\Program Files\\Winamp\\Plugins\\quenforth\\logfile.txt"};
  qf::IniFile settingsFile("C:\\quenforth.ini", text);
  qf::Settings settings = qf::ReadSettings(settingsFile, defaults);
  qf::WriteSettings(settingsFile, settings, "Quenforth KV7 (3.0)");
  QF_FUZZ_CHECK(SettingsText(qf::ReadSettings(settingsFile, defaults)) == SettingsText(settings));

  qf::UserList users = qf::ReadUsers(ini, defaults.playerFolder);
  qf::IniFile usersFile("C:\\user.ini", "");
  qf::WriteUsers(usersFile, users);
  QF_FUZZ_CHECK(UsersText(qf::ReadUsers(usersFile, defaults.playerFolder)) == usersFile.Text());

  qf::TextList whitelist = qf::ReadIpList(ini);
  qf::IniFile ipFile("C:\\iplist.ini", "");
  qf::WriteIpList(ipFile, whitelist);
  QF_FUZZ_CHECK(qf::ReadIpList(ipFile) == whitelist);
  QF_FUZZ_CHECK(IpListText(qf::ReadIpList(ipFile)) == ipFile.Text());
  return 0;
}
