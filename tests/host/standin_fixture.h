#pragma once
// A stand-in player on an emulated C: drive in a temporary folder, for tests of both sides of the
// player's message protocol. One player per process at a time: TPlayer finds it by its window class.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "demomusic.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"
#include "standin.h"

namespace qftest {

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::emulation::UnmapAllDrives();
    platform::emulation::MapDrive('C', folder_.Path().string());
    platform::emulation::SetModuleFileName("C:\\Program Files\\Winamp\\winamp.exe");
    platform::emulation::SetEnvironmentVariable("APPDATA", "C:\\Users\\Quenforth\\AppData\\Roaming");
    std::filesystem::create_directories(folder_.Path() / "Program Files/Winamp/Plugins");
  }

  void TearDown() override {
    if (player_) player_->Close();
    player_.reset();
  }

  // Writes an MP3 of `seconds` as C:\Music\<name>.mp3, tagged "Artist <name>" / "Title <name>".
  std::string AddTrack(const std::string& name, int seconds, bool tagged = true) {
    std::optional<host::TrackTags> tags;
    if (tagged) {
      tags = host::TrackTags{};
      tags->title = "Title " + name;
      tags->artist = "Artist " + name;
      tags->album = "Album";
      tags->genre = "Rock";
      tags->track = 1;
      tags->year = 2001;
    }
    WriteFile(folder_.Path() / "Music" / (name + ".mp3"), host::MakeMp3(seconds, tags, ""));
    return "C:\\Music\\" + name + ".mp3";
  }

  // Starts a player whose playlist holds `paths`, with its library on C:\Music.
  void StartPlayer(const std::vector<std::string>& paths, host::PlayerOptions options = {}) {
    std::string m3u = "#EXTM3U\r\n";
    for (const std::string& path : paths) m3u += path + "\r\n";
    WriteFile(folder_.Path() / "Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u", m3u);
    if (options.libraryFolders.empty()) options.libraryFolders = {"C:\\Music"};
    player_ = std::make_unique<host::StandInPlayer>(options);
    player_->Start();
  }

  // Reads the player's state on its own thread.
  template <class Result, class Read>
  Result Look(Read read) {
    Result result{};
    player_->Call([&](host::PlayerState& state) { result = read(state); });
    return result;
  }

  std::string ReadDrive(const std::string& relative) { return ReadFile(folder_.Path() / relative); }

  TempFolder folder_;
  std::unique_ptr<host::StandInPlayer> player_;
};

}  // namespace qftest
