// The stand-in player on its own: playback on the clock, the playlist file, the media library.

#include <gtest/gtest.h>

#include <thread>

#include "platform/window.h"
#include "player/host_interface.h"
#include "standin_fixture.h"

namespace host {
namespace {

using namespace std::chrono_literals;
using qf::host::WM_WA_IPC;

class StandInPlayerTest : public qftest::StandInTest {
 protected:
  platform::LRESULT Ipc(platform::LPARAM code, platform::WPARAM argument = 0) {
    return platform::SendMessageA(player_->MainWindow(), WM_WA_IPC, argument, code);
  }
  void Button(platform::WPARAM id) { platform::SendMessageA(player_->MainWindow(), platform::WM_COMMAND, id, 0); }

  // Waits (bounded) until the player's state satisfies `done`.
  template <class Done>
  bool WaitFor(Done done, std::chrono::milliseconds limit = 10s) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      if (Look<bool>([&](PlayerState& state) { return done(state); })) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  // Three 20-second tracks played a hundred times faster than real time.
  void StartFast(bool repeat, bool manualAdvance = false) {
    std::vector<std::string> paths{AddTrack("a", 20), AddTrack("b", 20), AddTrack("c", 20)};
    PlayerOptions options;
    options.speed = 100;
    StartPlayer(paths, options);
    player_->Call([&](PlayerState& state) {
      state.repeat = repeat;
      state.manualAdvance = manualAdvance;
    });
  }
};

TEST_F(StandInPlayerTest, APlaylistPlaysThroughAndStopsAtTheEnd) {
  StartFast(false);
  Button(qf::host::WINAMP_BUTTON2);
  EXPECT_TRUE(WaitFor([](PlayerState& s) { return s.current == 2 && s.state == PlayState::Playing; }));
  EXPECT_TRUE(WaitFor([](PlayerState& s) { return s.state == PlayState::Stopped; }));
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.current; }), 2);
  // Every track that played to its end was counted.
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.library.Find("C:\\Music\\a.mp3")->playCount; }), 1);
  EXPECT_GT(
      Look<long>([](PlayerState& s) { return static_cast<long>(s.library.Find("C:\\Music\\c.mp3")->lastPlayed); }), 0);
}

TEST_F(StandInPlayerTest, RepeatAllWrapsToTheFirstEntry) {
  StartFast(true);
  Ipc(qf::host::IPC_SETPLAYLISTPOS, 2);
  Button(qf::host::WINAMP_BUTTON2);
  EXPECT_TRUE(WaitFor([](PlayerState& s) { return s.current == 0 && s.state == PlayState::Playing; }));
}

TEST_F(StandInPlayerTest, ManualAdvanceStopsAfterTheTrack) {
  StartFast(false, true);
  Button(qf::host::WINAMP_BUTTON2);
  EXPECT_TRUE(WaitFor([](PlayerState& s) { return s.state == PlayState::Stopped; }));
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.current; }), 0);
}

TEST_F(StandInPlayerTest, PositionAdvancesWithTheClockAndClampsAtTheLength) {
  StartFast(false, true);
  Button(qf::host::WINAMP_BUTTON2);
  std::this_thread::sleep_for(50ms);
  EXPECT_GT(Ipc(qf::host::IPC_GETOUTPUTTIME, 0), 2000);  // 50 ms at a hundred times real time
  Button(qf::host::WINAMP_BUTTON3);                      // pause: the position stands still
  auto paused = Ipc(qf::host::IPC_GETOUTPUTTIME, 0);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(Ipc(qf::host::IPC_GETOUTPUTTIME, 0), paused);
  EXPECT_EQ(Ipc(qf::host::IPC_JUMPTOTIME, 25000), 1);                                   // beyond the end
  EXPECT_EQ(Ipc(qf::host::IPC_GETOUTPUTTIME, 0), Ipc(qf::host::IPC_GETOUTPUTTIME, 2));  // at the length
}

TEST_F(StandInPlayerTest, PlaylistFileRoundTripsTitlesAndLengths) {
  std::string a = AddTrack("a", 185), untagged = AddTrack("plain", 42, false);
  StartPlayer({a, untagged, "http://radio.example/stream"});
  Ipc(qf::host::IPC_WRITEPLAYLIST);
  std::string written = ReadDrive("Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u");
  EXPECT_EQ(
      written,
      "#EXTM3U\r\n#EXTINF:185,Artist a - Title a\r\nC:\\Music\\a.mp3\r\n#EXTINF:42,plain\r\nC:\\Music\\plain.mp3\r\n"
      "#EXTINF:-1,http://radio.example/stream\r\nhttp://radio.example/stream\r\n");
  player_->Close();
  // The next start reads the file back, titles and all; closing writes it again unchanged.
  player_ = std::make_unique<StandInPlayer>(PlayerOptions{});
  player_->Start();
  EXPECT_EQ(Look<std::string>([](PlayerState& s) { return s.playlist[0].title; }), "Artist a - Title a");
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.playlist[0].lengthMs / 1000; }), 185);
  player_->Close();
  EXPECT_EQ(ReadDrive("Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u"), written);
}

// The player keeps the tags of a bounded number of files: a longer playlist still has every entry's
// title and length, and a file's tags are read again once they were let go.
TEST_F(StandInPlayerTest, ALongPlaylistOutgrowsTheKeptTagsAndLosesNothing) {
  std::string a = AddTrack("a", 185), b = AddTrack("b", 42);
  std::vector<std::string> paths{a};
  for (std::size_t i = 0; i < StandInPlayer::kMetadataKept + 10; ++i)
    paths.push_back("C:\\Gone\\" + std::to_string(i) + ".mp3");
  paths.push_back(b);
  StartPlayer(paths);
  EXPECT_EQ(Look<std::string>([](PlayerState& s) { return s.playlist.front().title; }), "Artist a - Title a");
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.playlist.back().lengthMs / 1000; }), 42);
  for (const auto& [file, artist] : {std::pair{a, "Artist a"}, std::pair{b, "Artist b"}}) {
    char answer[64] = "";
    qf::host::extendedFileInfoStruct request{file.c_str(), "Artist", answer, sizeof answer};
    Ipc(qf::host::IPC_GET_EXTENDED_FILE_INFO, reinterpret_cast<platform::WPARAM>(&request));
    EXPECT_STREQ(answer, artist);
  }
}

TEST_F(StandInPlayerTest, SendsWithEmptyArgumentsAnswerNothing) {
  StartPlayer({});
  EXPECT_EQ(Ipc(qf::host::IPC_GETPLAYLISTFILE, 0), 0);
  EXPECT_EQ(Ipc(qf::host::IPC_GETOUTPUTTIME, 1), -1);
  EXPECT_EQ(Ipc(qf::host::IPC_GET_EXTENDED_FILE_INFO, 0), 0);
  Button(qf::host::WINAMP_BUTTON2);
  Button(qf::host::WINAMP_BUTTON5);
  EXPECT_EQ(Ipc(qf::host::IPC_ISPLAYING), 0);
}

}  // namespace
}  // namespace host
