#include "prefix.h"

#include <fstream>
#include <stdexcept>

#include "demomusic.h"
#include "platform/posix/emulation.h"

namespace host {

namespace fs = std::filesystem;

void Install(const Prefix& prefix, const fs::path& dataSource, const fs::path& tagLibrary) {
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
  // The demo music and a first playlist of it, on the first install only: the user's own music and
  // playlist are never touched again.
  fs::path music = prefix.DriveC() / "Users/Quenforth/Music";
  fs::path playlist = prefix.DriveC() / "Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u";
  if (fs::is_empty(music)) {
    std::string m3u = "#EXTM3U\r\n";
    for (std::string path : WriteDemoLibrary(music)) {
      for (char& c : path)
        if (c == '/') c = '\\';
      m3u += std::string(kMusicFolder) + "\\" + path + "\r\n";
    }
    if (!fs::exists(playlist)) {
      std::ofstream file(playlist, std::ios::binary);
      file << m3u;
      if (!file) throw std::runtime_error("cannot write " + playlist.string());
    }
  }

  if (!tagLibrary.empty()) {
    if (!fs::exists(tagLibrary)) throw std::runtime_error("ID3v2Library.dll not found at " + tagLibrary.string());
    fs::copy_file(tagLibrary, prefix.DataFolder() / "ID3v2Library.dll", fs::copy_options::overwrite_existing);
  }

  fs::path settings = prefix.DataFolder() / "quenforth.ini";
  if (!fs::exists(settings)) {
    std::ofstream file(settings, std::ios::binary);
    file << "[Setup]\r\nServerPort=8080\r\n";
    if (!file) throw std::runtime_error("cannot write " + settings.string());
  }
}

void EmulateWindowsOn(const Prefix& prefix) {
  namespace emulation = platform::emulation;
  emulation::MapDrive('C', prefix.DriveC().string(), "Quenforth");
  emulation::SetModuleFileName(kPlayerProgram);
  emulation::SetEnvironmentVariable("OS", "Windows_NT");
  emulation::SetEnvironmentVariable("USERNAME", "Quenforth");
  emulation::SetEnvironmentVariable("USERPROFILE", kUserProfile);
  emulation::SetEnvironmentVariable("APPDATA", kAppData);
  emulation::SetEnvironmentVariable("SystemDrive", "C:");
}

}  // namespace host
