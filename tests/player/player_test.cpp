// TPlayer against the stand-in player, over the real message path.

#include "player/player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/window.h"
#include "player/mlquery.h"
#include "standin_fixture.h"

namespace qf {
namespace {

using namespace std::chrono_literals;
using ::host::PlayerState;

class PlayerTest : public qftest::StandInTest {
 protected:
  void StartWith(int tracks, ::host::PlayerOptions options = {}) {
    std::vector<std::string> paths;
    for (int i = 0; i < tracks; ++i) paths.push_back(AddTrack("t" + std::to_string(i), 20 + i));
    StartPlayer(paths, options);
    player = std::make_unique<TPlayer>();
  }

  std::vector<std::string> Playlist() {
    return Look<std::vector<std::string>>([](PlayerState& state) {
      std::vector<std::string> paths;
      for (auto& entry : state.playlist) paths.push_back(entry.path);
      return paths;
    });
  }

  std::unique_ptr<TPlayer> player;
};

TEST_F(PlayerTest, VersionWordsBecomeVersionTexts) {
  for (auto [word, text] : {std::pair{0x5056u, "5.56"}, std::pair{0x2091u, "2.91"}, std::pair{0x5066u, "5.66"}}) {
    ::host::PlayerOptions options;
    options.version = word;
    StartPlayer({}, options);
    EXPECT_EQ(TPlayer().GetVersionString(), text);
    player_->Close();
  }
  EXPECT_EQ(TPlayer().GetVersionString(), "");  // no player window: reads give ""
  EXPECT_EQ(TPlayer().GetListLength(), 0);
}

TEST_F(PlayerTest, AsksThePlayerForItsFolderAndWindows) {
  StartWith(1);
  EXPECT_EQ(player->GetPluginDirectory(), "C:\\Program Files\\Winamp\\Plugins");
  EXPECT_NE(player->PlaylistWindow(), nullptr);
  EXPECT_NE(player->EqualizerWindow(), nullptr);
  EXPECT_NE(player->GetMediaLibraryWindow(), nullptr);
  EXPECT_EQ(player->GetMediaLibraryWindow(), player->GetMediaLibraryWindow());
}

TEST_F(PlayerTest, VolumeAndBalanceUsePercentages) {
  StartWith(1);
  player->SetVolume(100);
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.volume; }), 255);
  EXPECT_EQ(player->GetVolume(), 100);
  player->SetVolume(0);
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.volume; }), 1);
  player->SetVolume(50);
  EXPECT_EQ(player->GetVolume(), 50);
  for (auto [raw, percent] : {std::pair{1, 1}, std::pair{-1, -1}, std::pair{0, 0}, std::pair{127, 100},
                              std::pair{-127, -100}, std::pair{64, 51}}) {
    player_->Call([raw = raw](PlayerState& s) { s.panning = raw; });
    EXPECT_EQ(player->GetBalance(), percent) << raw;
  }
  player->SetBalance(100);
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.panning; }), 127);
  player->SetBalance(-50);
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.panning; }), -63);
}

TEST_F(PlayerTest, EqualiserBandsReadAsPercentages) {
  StartWith(1);
  for (auto [raw, percent] : {std::pair{0, 100}, std::pair{31, 0}, std::pair{62, -100}, std::pair{63, -100}}) {
    player_->Call([raw = raw](PlayerState& s) { s.bands[3] = raw; });
    EXPECT_EQ(player->GetEqBand(3), percent) << raw;
  }
  player->SetEqBand(4, 10);
  player->SetEqBand(10, 5);
  player->SetEqBand(11, 1);
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.bands[4]; }), 10);
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.preamp; }), 5);
  EXPECT_EQ(player->GetEqBand(11), 1);
  EXPECT_EQ(player->GetEqBand(12), 0);
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.requests.equalizerRefreshes; }), 6);  // two per change
}

TEST_F(PlayerTest, PositionsAndLengths) {
  StartWith(2);
  EXPECT_EQ(player->GetPosition(), 0);  // stopped: the player answers -1
  EXPECT_EQ(player->GetLength(-1), 20);
  EXPECT_EQ(player->GetLength(5), 0);
  EXPECT_EQ(player->GetLength(0), 0);
  player->Play();
  EXPECT_EQ(player->IsPlaying(), 1);
  EXPECT_EQ(player->GetPosition(), 0);  // 0 ms
  player->SetPositionMs(12500);
  EXPECT_EQ(player->GetPosition(), 12);
  EXPECT_EQ(player->GetRemaining(), 8);
  EXPECT_EQ(player->GetSampleRate(), 32);
  EXPECT_EQ(player->GetBitrate(), 32);
  EXPECT_EQ(player->GetChannels(), 2);
  player->Pause();
  EXPECT_EQ(player->IsPlaying(), 3);
  player->Stop();
  EXPECT_EQ(player->IsPlaying(), 0);
  EXPECT_EQ(player->GetChannels(), 0);
}

TEST_F(PlayerTest, ShuffleAndRepeatModes) {
  StartWith(1);
  EXPECT_FALSE(player->GetShuffle());
  player->SetShuffle(true);
  EXPECT_TRUE(player->GetShuffle());
  for (int mode : {1, 2, 0, 2}) {
    player->SetRepeatMode(mode);
    EXPECT_EQ(player->GetRepeatMode(), mode);
  }
  player->SetRepeatMode(7);  // nothing is sent
  EXPECT_EQ(player->GetRepeatMode(), 2);
}

TEST_F(PlayerTest, PlaylistEntriesAndInfo) {
  StartWith(3);
  EXPECT_EQ(player->GetListLength(), 3);
  EXPECT_EQ(player->GetPlaylistFile(1), "C:\\Music\\t1.mp3");
  EXPECT_EQ(player->GetPlaylistTitle(1), "Artist t1 - Title t1");
  EXPECT_EQ(player->GetPlaylistFile(9), "");
  EXPECT_EQ(player->GetExtendedFileInfo("C:\\Music\\t2.mp3", "Artist"), "Artist t2");
  EXPECT_EQ(player->GetExtendedFileInfo("C:\\Music\\t2.mp3", "title"), "Title t2");
  EXPECT_EQ(player->GetExtendedFileInfo("C:\\Music\\t2.mp3", "Year"), "2001");
  EXPECT_EQ(std::stoi(player->GetExtendedFileInfo("C:\\Music\\t2.mp3", "Length")) / 1000, 22);  // milliseconds
  EXPECT_EQ(player->GetExtendedFileInfo("C:\\Music\\missing.mp3", "Artist"), "");
  player->PlayIndex(2);
  EXPECT_EQ(player->GetListPos(), 2);
  EXPECT_EQ(player->IsPlaying(), 1);
  player->Next();
  EXPECT_EQ(player->GetListPos(), 0);  // the button wraps
  player->Previous();
  EXPECT_EQ(player->GetListPos(), 2);
}

TEST_F(PlayerTest, InsertLandsAfterTheCurrentEntry) {
  StartWith(3);
  std::string added = AddTrack("added", 30);
  player->PlayIndex(1);
  EXPECT_TRUE(player->InsertFile(TPlayer::InsertAt::AfterCurrent, added));
  EXPECT_EQ(Playlist(),
            (std::vector<std::string>{"C:\\Music\\t0.mp3", "C:\\Music\\t1.mp3", added, "C:\\Music\\t2.mp3"}));
  EXPECT_TRUE(player->InsertFile(TPlayer::InsertAt::End, added));
  EXPECT_EQ(Playlist().back(), added);
  // A long path does not fit the insert record, but appending has no such limit.
  std::string longPath = "C:\\" + std::string(300, 'x') + ".mp3";
  EXPECT_FALSE(player->InsertFile(TPlayer::InsertAt::AfterCurrent, longPath));
  EXPECT_EQ(player->GetListLength(), 5);
  EXPECT_TRUE(player->InsertFile(TPlayer::InsertAt::End, longPath));
  EXPECT_EQ(Playlist().back(), longPath);
  EXPECT_EQ(player->GetListPos(), 1);
}

TEST_F(PlayerTest, SwapDeleteAndClear) {
  StartWith(3);
  player->SwapIndex(0, 1);
  EXPECT_EQ(Playlist(), (std::vector<std::string>{"C:\\Music\\t1.mp3", "C:\\Music\\t0.mp3", "C:\\Music\\t2.mp3"}));
  player->SwapIndex(1, 2);
  EXPECT_EQ(Playlist(), (std::vector<std::string>{"C:\\Music\\t1.mp3", "C:\\Music\\t2.mp3", "C:\\Music\\t0.mp3"}));
  player->SwapIndex(2, 0);  // entry 0 as the second of the pair
  EXPECT_EQ(Playlist(), (std::vector<std::string>{"C:\\Music\\t0.mp3", "C:\\Music\\t2.mp3", "C:\\Music\\t1.mp3"}));
  player->DeleteIndex(0);
  EXPECT_EQ(Playlist(), (std::vector<std::string>{"C:\\Music\\t2.mp3", "C:\\Music\\t1.mp3"}));
  player->ClearPlaylist();
  EXPECT_EQ(player->GetListLength(), 0);
}

TEST_F(PlayerTest, ExtensionListHasNoLeadingOrTrailingColon) {
  StartWith(1);
  std::string list = player->GetExtensionList();
  EXPECT_FALSE(list.empty());
  EXPECT_NE(list.front(), ':');
  EXPECT_NE(list.back(), ':');
  EXPECT_EQ(list.find("::"), std::string::npos);
  EXPECT_NE(list.find("MP3"), std::string::npos);
  EXPECT_EQ(player->GetExtensionList(), list);  // kept
}

TEST_F(PlayerTest, WindowsRequestsAndLocking) {
  StartWith(1);
  EXPECT_TRUE(player->IsUnlocked());
  player->SetUnlocked(false);
  EXPECT_FALSE(player->IsUnlocked());
  EXPECT_FALSE(Look<bool>([](PlayerState& s) { return s.windowsEnabled; }));
  EXPECT_FALSE(platform::IsWindowEnabled(player->PlaylistWindow()));
  player->SetUnlocked(true);
  EXPECT_TRUE(Look<bool>([](PlayerState& s) { return s.windowsEnabled; }));
  player->Minimize();
  player->RestartPlayer();
  player->StartVisualization();
  player->ToggleFullscreen();
  auto requests = Look<::host::PlayerRequests>([](PlayerState& s) { return s.requests; });
  EXPECT_EQ(requests.minimizes, 1);
  EXPECT_EQ(requests.restarts, 1);
  EXPECT_EQ(requests.visualizations, 1);
  EXPECT_EQ(requests.fullscreens, 1);
}

TEST_F(PlayerTest, MediaLibraryRatingThroughAnItemRecord) {
  StartWith(2);
  player->SetMediaLibraryItemField("c:\\music\\T1.MP3", "RATING", "4");
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.library.Find("C:\\Music\\t1.mp3")->rating; }), 4);
}

TEST_F(PlayerTest, WritePlaylistWritesThePlayersFile) {
  StartWith(2);
  player->WritePlaylist();
  EXPECT_EQ(ReadDrive("Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u"),
            "#EXTM3U\r\n#EXTINF:20,Artist t0 - Title t0\r\nC:\\Music\\t0.mp3\r\n"
            "#EXTINF:21,Artist t1 - Title t1\r\nC:\\Music\\t1.mp3\r\n");
}

class ConcurrentPlayerTest : public PlayerTest {};

TEST_F(ConcurrentPlayerTest, RequestThreadsReadStableTexts) {
  StartWith(4);
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      TPlayer mine;
      for (int i = 0; i < 300; ++i) {
        std::string file = mine.GetPlaylistFile(i % 4);
        if (file.rfind("C:\\Music\\t", 0) != 0) ++wrong;
        mine.SwapIndex(0, 1 + i % 3);
      }
    });
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(wrong, 0);
}

// Pages that query the whole library at once: the player never holds more than two result sets for
// them, a query made inside another one on the same thread does not wait for itself, and each result
// set is released.
TEST_F(ConcurrentPlayerTest, AtMostTwoLargeResultSetsAreHeldAtOnce) {
  StartWith(3);
  std::atomic<int> found{0};
  std::vector<std::thread> pages;
  for (int t = 0; t < 6; ++t)
    pages.emplace_back([&, t] {
      TPlayer mine;
      for (int i = 0; i < 20; ++i) {
        // Each thread its own query, matching every track: queries of the same text would share.
        MediaLibraryQuery outer(mine, MediaLibraryQuery::Kind::Query, "year != " + std::to_string(1000 + t));
        MediaLibraryQuery inner(mine, MediaLibraryQuery::Kind::Search, "t1");
        found += outer.Size() + inner.Size();
        std::this_thread::yield();  // hold the results while the others ask
      }
    });
  for (auto& page : pages) page.join();
  EXPECT_EQ(found, 6 * 20 * (3 + 1));
  auto [held, most] = Look<std::pair<int, int>>([](PlayerState& s) {
    return std::pair{s.resultSetsHeld, s.mostResultSetsHeld};
  });
  EXPECT_EQ(held, 0);
  EXPECT_LE(most, 2 * MediaLibraryQuery::kHeldAtOnce);  // each thread's outer and inner set
  EXPECT_GE(most, 2);
}

// Pages that wait for their turn with the same query share one result set, asked for once they have all
// been made; a query made while that set is still held asks the player again and sees what changed.
TEST_F(ConcurrentPlayerTest, LargeQueriesThatWaitTogetherShareOneResultSet) {
  StartWith(3);
  const int asked = Look<int>([](PlayerState& s) { return s.queriesAnswered; });
  std::vector<std::thread> threads;
  std::mutex lock;
  std::condition_variable changed;
  bool release = false;
  int holding = 0;
  // Two pages hold every turn there is.
  for (int t = 0; t < MediaLibraryQuery::kHeldAtOnce; ++t)
    threads.emplace_back([&, t] {
      TPlayer mine;
      MediaLibraryQuery held(mine, MediaLibraryQuery::Kind::Search, "holder " + std::to_string(t));
      std::unique_lock guard(lock);
      ++holding;
      changed.notify_all();
      changed.wait(guard, [&] { return release; });
    });
  {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return holding == MediaLibraryQuery::kHeldAtOnce; });
  }
  constexpr int kPages = 5;
  std::atomic<int> found{0};
  for (int t = 0; t < kPages; ++t)
    threads.emplace_back([&] {
      TPlayer mine;
      MediaLibraryQuery query(mine, MediaLibraryQuery::Kind::Query, "rating > 0");
      found += query.Size();
    });
  for (int polls = 0; MediaLibraryQuery::Waiting() < kPages && polls < 5000; ++polls) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(MediaLibraryQuery::Waiting(), kPages);
  {
    std::lock_guard guard(lock);
    release = true;
  }
  changed.notify_all();
  for (auto& thread : threads) thread.join();
  // No track is rated yet: every page saw the library as it was, from one search.
  EXPECT_EQ(found, 0);
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.queriesAnswered; }), asked + MediaLibraryQuery::kHeldAtOnce + 1);

  MediaLibraryQuery before(*player, MediaLibraryQuery::Kind::Query, "rating < 4");
  player->SetMediaLibraryItemField("C:\\Music\\t1.mp3", "rating", "4");
  std::thread later([&] {
    TPlayer mine;
    found = MediaLibraryQuery(mine, MediaLibraryQuery::Kind::Query, "rating < 4").Size();
  });
  later.join();
  EXPECT_EQ(before.Size(), 3);
  EXPECT_EQ(found, 2);
  auto [held, answered] = Look<std::pair<int, int>>([](PlayerState& s) {
    return std::pair{s.resultSetsHeld, s.queriesAnswered};
  });
  EXPECT_EQ(held, 1);  // `before`, still here
  EXPECT_EQ(answered, asked + MediaLibraryQuery::kHeldAtOnce + 3);
}

}  // namespace
}  // namespace qf

namespace qf {
namespace {

// The player closes its window while the plug-in still asks it things: every read answers 0 or "", every
// change does nothing, and nothing waits for a window that is gone.
TEST_F(PlayerTest, APlayerWindowThatIsGoneAnswersZeroAndEmptyTexts) {
  StartWith(3);
  player->Play();
  ASSERT_EQ(player->GetListLength(), 3);
  player_->Close();
  player_.reset();
  EXPECT_EQ(player->IsPlaying(), 0);
  EXPECT_EQ(player->GetVolume(), 0);
  EXPECT_EQ(player->GetListLength(), 0);
  EXPECT_EQ(player->GetListPos(), 0);
  EXPECT_EQ(player->GetPosition(), 0);
  EXPECT_EQ(player->GetLength(-1), 0);
  EXPECT_EQ(player->GetBitrate(), 0);
  EXPECT_EQ(player->GetEqBand(3), 0);
  EXPECT_EQ(player->GetPlaylistFile(0), "");
  EXPECT_EQ(player->GetPlaylistTitle(0), "");
  EXPECT_EQ(player->GetExtendedFileInfo("C:\\Music\\t0.mp3", "Artist"), "");
  EXPECT_EQ(player->GetVersionString(), "");
  EXPECT_EQ(player->GetMediaLibraryWindow(), nullptr);
  player->Play();
  player->SetVolume(50);
  player->DeleteIndex(0);
  player->ClearPlaylist();
  player->WritePlaylist();
  EXPECT_FALSE(player->InsertFile(TPlayer::InsertAt::End, "C:\\Music\\t0.mp3"));
  player->SetMediaLibraryItemField("C:\\Music\\t0.mp3", "rating", "3");
}

}  // namespace
}  // namespace qf
