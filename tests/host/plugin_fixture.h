#pragma once
// The plug-in's side of a stand-in player: a core object set up as the start-up sequence sets it, with
// the data folder, the music folder and the player's playlist folder on the emulated drive.

#include <memory>

#include "core/quenforth.h"
#include "core/session.h"
#include "player/player.h"
#include "standin_fixture.h"

namespace qftest {

class PluginTest : public StandInTest {
 protected:
  static constexpr char kPlugins[] = "C:\\Program Files\\Winamp\\Plugins";
  static constexpr char kPlaylistFolder[] = "C:\\Users\\Quenforth\\AppData\\Roaming\\Winamp";

  // Starts the player with `tracks` MP3s (C:\Music\t0.mp3 ... of 20, 21, ... seconds) in its playlist,
  // then the core object.
  void StartPlugin(int tracks) {
    std::vector<std::string> paths;
    for (int i = 0; i < tracks; ++i) paths.push_back(AddTrack("t" + std::to_string(i), 20 + i));
    WriteFile(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/base/index.html", "index");
    StartPlayer(paths);
    player = std::make_unique<qf::TPlayer>();
    core = std::make_unique<qf::TQuenforth>();
    core->Player = player.get();
    core->PluginFolder.Set(kPlugins);
    core->PlaylistFolder.Set(kPlaylistFolder);
    core->CacheFolder.Set(std::string(kPlugins) + "\\Quenforth\\cache");
    core->RootDirectory.Set("C:\\Music");
    core->CurrentDirectory.Set("C:\\Music");
    Modify(core->CurrentSettings, [](qf::Settings& settings) {
      settings.RootDirectory = "C:\\Music";
      settings.CurrentDirectory = "C:\\Music";
    });
    core->SkinName.Set("base");
    core->Charset.Set("iso-8859-1");
    core->UseFullPath = true;
    core->AllowSkins = true;
    core->Player->SetPlayerFolder("C:\\Program Files\\Winamp");
  }

  void TearDown() override {
    core.reset();
    player.reset();
    StandInTest::TearDown();
  }

  std::vector<std::string> PlaylistPaths() {
    return Look<std::vector<std::string>>([](host::PlayerState& state) {
      std::vector<std::string> paths;
      for (auto& entry : state.playlist) paths.push_back(entry.path);
      return paths;
    });
  }

  std::unique_ptr<qf::TPlayer> player;  // lent to the core object
  std::unique_ptr<qf::TQuenforth> core;
};

}  // namespace qftest
