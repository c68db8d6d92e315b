#pragma once
// The runner's prefix: a host folder that holds the emulated C: drive with the player's folder, the
// plug-in's data folder and the user's application-data folder.
//
//   PREFIX/drive_c/Program Files/Winamp/                      the player folder (C:\Program Files\Winamp)
//   PREFIX/drive_c/Program Files/Winamp/Plugins/quenforth/    the plug-in's data folder
//   PREFIX/drive_c/Users/Quenforth/AppData/Roaming/Winamp/    where the player writes winamp.m3u
//   PREFIX/drive_c/Users/Quenforth/Music/                     the demo music, artist/album folders

#include <filesystem>
#include <string>

namespace host {

inline constexpr char kPlayerFolder[] = "C:\\Program Files\\Winamp";
inline constexpr char kPlayerProgram[] = "C:\\Program Files\\Winamp\\winamp.exe";
inline constexpr char kPluginFolder[] = "C:\\Program Files\\Winamp\\Plugins";
inline constexpr char kDataFolder[] = "C:\\Program Files\\Winamp\\Plugins\\quenforth";
inline constexpr char kUserProfile[] = "C:\\Users\\Quenforth";
inline constexpr char kAppData[] = "C:\\Users\\Quenforth\\AppData\\Roaming";
inline constexpr char kMusicFolder[] = "C:\\Users\\Quenforth\\Music";

struct Prefix {
  std::filesystem::path root;
  std::filesystem::path DriveC() const { return root / "drive_c"; }
  std::filesystem::path DataFolder() const { return DriveC() / "Program Files/Winamp/Plugins/quenforth"; }
  bool Installed() const { return std::filesystem::exists(DataFolder() / "quenforth.ini"); }
};

// Lays the prefix out and copies the installation data (skins, mime.ini, ...) from `dataSource` into the
// data folder. Settings the user changed (quenforth.ini, user.ini, iplist.ini) are kept; a new
// quenforth.ini serves on port 8080. The first install also writes the demo music library into the
// user's music folder and a playlist of it. Throws std::exception on failure.
// `tagLibrary` is the built ID3v2Library.dll, copied into the data folder when given.
void Install(const Prefix& prefix, const std::filesystem::path& dataSource, const std::filesystem::path& tagLibrary);

// The emulated Windows of a player on the prefix: its drive C:, the player's program file and the
// environment of its user. Other drives are the caller's to map.
void EmulateWindowsOn(const Prefix& prefix);

}  // namespace host
