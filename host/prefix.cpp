#include "prefix.h"

#include <fstream>
#include <stdexcept>

namespace host {

namespace fs = std::filesystem;

void Install(const Prefix& prefix, const fs::path& dataSource) {
  if (!fs::is_directory(dataSource / "quenforth"))
    throw std::runtime_error("installation data not found in " + dataSource.string());
  fs::create_directories(prefix.DataFolder());
  fs::create_directories(prefix.DriveC() / "Users/Quenforth/AppData/Roaming/Winamp");
  fs::create_directories(prefix.DriveC() / "Users/Quenforth/Music");

  const fs::path source = dataSource / "quenforth";
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    fs::path target = prefix.DataFolder() / fs::relative(entry.path(), source);
    if (entry.is_directory()) {
      fs::create_directories(target);
    } else {
      std::string name = entry.path().filename().string();
      bool userSetting = name == "quenforth.ini" || name == "user.ini" || name == "iplist.ini";
      if (userSetting && fs::exists(target)) continue;
      fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
    }
  }
  fs::path settings = prefix.DataFolder() / "quenforth.ini";
  if (!fs::exists(settings)) {
    std::ofstream file(settings, std::ios::binary);
    file << "[Setup]\r\nServerPort=8080\r\n";
    if (!file) throw std::runtime_error("cannot write " + settings.string());
  }
}

}  // namespace host
