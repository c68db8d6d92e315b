// Playlist maintenance against the stand-in player: the tick arithmetic, the quota resets, the cache
// period, removing played tracks, random tracks and keeping the playlist alive.

#include "commands/maintenance.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/guarded.h"
#include "plugin_fixture.h"
#include "settings/settings.h"

namespace qf {
namespace {

class MaintenanceTest : public qftest::PluginTest {
 protected:
  void Configure(int timerInterval, int cacheTimeoutMs) {
    Modify(core->CurrentSettings, [&](Settings& s) {
      s.TimerInterval = timerInterval;
      s.CacheTimeoutMs = cacheTimeoutMs;
    });
  }
  // One tick as the main form runs it, the cache's part and then the pass.
  std::string Tick() {
    std::string label = TickFileCache(*core);
    MaintainPlaylist(*core);
    return label;
  }
};

TEST(MaintenancePeriods, FollowTheTimerInterval) {
  struct Case {
    int interval, cacheTimeoutMs;
    MaintenancePeriods expected;
  };
  const Case cases[] = {
      {100, 600000, {36000, 864000, 6000}}, {300, 600000, {10800, 259200, 1800}},  // k = 3: the "hour" is 54 minutes
      {1000, 60000, {3600, 86400, 60}},     {100, 0, {36000, 864000, 0}},          // no periodic refresh
      {100, 999, {36000, 864000, 0}},                                              // less than a second is none either
      {2000, 600000, {1800, 43200, 0}},  // above a second: real hours, no periodic refresh
      {0, 600000, {36000, 864000, 6000}},
  };
  for (const Case& c : cases) {
    MaintenancePeriods periods = PeriodsFor(c.interval, c.cacheTimeoutMs);
    EXPECT_EQ(periods.hourTicks, c.expected.hourTicks) << c.interval;
    EXPECT_EQ(periods.dayTicks, c.expected.dayTicks) << c.interval;
    EXPECT_EQ(periods.cacheRefreshTicks, c.expected.cacheRefreshTicks) << c.interval << " " << c.cacheTimeoutMs;
  }
}

TEST_F(MaintenanceTest, QuotasResetOnTheHourAndUploadsOnTheDay) {
  StartPlugin(1);
  auto counted = std::make_shared<UserClass>();
  counted->uploadmode = 3;
  auto other = std::make_shared<UserClass>();
  other->uploadmode = 1;
  core->Users.Set(std::make_shared<const UserList>(UserList{counted, other}));
  struct Case {
    int interval;
    std::uint64_t hour, day;
  };
  for (const Case& c : {Case{100, 36000, 864000}, Case{300, 10800, 259200}}) {
    SCOPED_TRACE(c.interval);
    Configure(c.interval, 600000);
    counted->TracksThisHour = 5;
    counted->currentupload = 70;
    other->currentupload = 70;
    core->TimerTicks = c.hour - 2;
    MaintainPlaylist(*core);
    EXPECT_EQ(counted->TracksThisHour, 5);
    MaintainPlaylist(*core);
    EXPECT_EQ(core->TimerTicks, c.hour);
    EXPECT_EQ(counted->TracksThisHour, 0);
    EXPECT_EQ(counted->currentupload, 70);
    core->TimerTicks = c.day - 1;
    MaintainPlaylist(*core);
    EXPECT_EQ(counted->currentupload, 0);
    EXPECT_EQ(other->currentupload, 70);  // only the mode that counts per day
  }
}

TEST_F(MaintenanceTest, TheCacheIsRefreshedAfterAWholePeriodOfTicks) {
  StartPlugin(1);
  Configure(100, 600000);
  core->FileCache.Set(std::make_shared<const PackedTextList>(TextList{"C:\\Music\\t0.mp3", "C:\\Music\\x.mp3"}));
  core->CacheAgeTicks = 5998;
  EXPECT_EQ(Tick(), "2");
  EXPECT_EQ(core->CacheAgeTicks, 5999);
  EXPECT_FALSE(core->CacheRefreshPending);
  EXPECT_EQ(Tick(), "2");
  EXPECT_EQ(core->CacheAgeTicks, 6000);
  EXPECT_TRUE(core->CacheRefreshPending);
  // While the rebuild is pending the age stands still and the label says so.
  EXPECT_EQ(Tick(), "2 working...");
  EXPECT_EQ(core->CacheAgeTicks, 6000);
  // The rebuild ends: the period starts again from there.
  core->CacheRefreshPending = false;
  core->CacheAgeTicks = 0;
  for (int i = 0; i < 5999; ++i) core->CacheAgeTicks++;
  MaintainPlaylist(*core);
  EXPECT_FALSE(core->CacheRefreshPending);
  Tick();
  EXPECT_TRUE(core->CacheRefreshPending);
}

TEST_F(MaintenanceTest, NoPeriodicRefreshWithoutAPeriod) {
  StartPlugin(1);
  struct Case {
    int interval, cacheTimeoutMs;
  };
  for (const Case& c : {Case{2000, 600000}, Case{100, 0}}) {
    Configure(c.interval, c.cacheTimeoutMs);
    for (int age : {1, 60, 6000, 12000, 36000}) {
      core->CacheAgeTicks = age - 1;
      Tick();
      EXPECT_FALSE(core->CacheRefreshPending) << c.interval << " " << c.cacheTimeoutMs << " " << age;
    }
  }
}

TEST_F(MaintenanceTest, ARebuildEndingWithinATickIsNotAWholePeriod) {
  StartPlugin(1);
  Configure(100, 600000);
  core->CacheAgeTicks = 0;  // as the cache thread leaves it, after the tick counted
  MaintainPlaylist(*core);
  EXPECT_FALSE(core->CacheRefreshPending);
}

TEST_F(MaintenanceTest, LoadingTheSettingsAsksForACacheRebuildUnlessTheCacheIsOff) {
  StartPlugin(0);
  struct Case {
    const char* setup;
    bool pending;
  };
  for (const Case& c : {Case{"", true}, Case{"useCache=0\r\n", false}, Case{"CacheTimeout=0\r\n", false}}) {
    qftest::WriteFile(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/quenforth.ini",
                      std::string("[Setup]\r\n") + c.setup);
    core->CacheRefreshPending = false;
    LoadSettings(*core);
    EXPECT_EQ(core->CacheRefreshPending, c.pending) << c.setup;
  }
}

TEST_F(MaintenanceTest, KeepPlaylistAliveAddsRandomTracksAndPlays) {
  StartPlugin(0);
  std::string a = AddTrack("a", 30), b = AddTrack("b", 30), list = AddTrack("list.m3u", 1);
  core->FileCache.Set(std::make_shared<PackedTextList>(TextList{a, b, list}));
  Configure(100, 600000);
  Modify(core->CurrentSettings, [](Settings& s) { s.KeepPlaylistAlive = true; });
  MaintainPlaylist(*core);
  std::vector<std::string> paths = PlaylistPaths();
  ASSERT_EQ(paths.size(), 2u);
  for (const std::string& path : paths) EXPECT_EQ(path.find("m3u"), std::string::npos);
  EXPECT_EQ(core->Player->IsPlaying(), 1);
  core->FileCache.Set(std::make_shared<PackedTextList>(TextList{list}));  // only playlists: nothing to draw
  core->Player->ClearPlaylist();
  MaintainPlaylist(*core);
  EXPECT_TRUE(PlaylistPaths().empty());
}

TEST_F(MaintenanceTest, RemovePlayedDeletesTheTrackThatEnded) {
  StartPlugin(3);
  Configure(100, 600000);
  Modify(core->CurrentSettings, [](Settings& s) { s.RemovePlayed = true; });
  core->Player->PlayIndex(1);
  core->Player->SetPositionMs(15000);
  MaintainPlaylist(*core);
  core->Player->Next();  // track 2 ends, track 3 starts
  MaintainPlaylist(*core);
  EXPECT_EQ(PlaylistPaths(), (std::vector<std::string>{"C:\\Music\\t0.mp3", "C:\\Music\\t2.mp3"}));
  // A seek backwards within a track is no track change.
  core->Player->SetPositionMs(15000);
  MaintainPlaylist(*core);
  core->Player->SetPositionMs(5000);
  MaintainPlaylist(*core);
  EXPECT_EQ(PlaylistPaths().size(), 2u);
}

TEST_F(MaintenanceTest, RemovePlayedStopsAndEmptiesAPlaylistWhoseOnlyEntryStartsAgain) {
  StartPlugin(1);
  Configure(100, 600000);
  Modify(core->CurrentSettings, [](Settings& s) { s.RemovePlayed = true; });
  core->Player->Play();
  core->Player->SetPositionMs(15000);
  MaintainPlaylist(*core);
  core->Player->SetPositionMs(0);  // as repeat starts it again
  MaintainPlaylist(*core);
  EXPECT_TRUE(PlaylistPaths().empty());
  EXPECT_NE(core->Player->IsPlaying(), 1);
}

TEST_F(MaintenanceTest, ATrackChangeAddsARandomTrackWhenSwitchedOn) {
  StartPlugin(3);
  std::string extra = AddTrack("extra", 30);
  core->FileCache.Set(std::make_shared<PackedTextList>(TextList{extra}));
  Configure(100, 600000);
  core->Player->Play();
  core->Player->SetPositionMs(10000);
  MaintainPlaylist(*core);
  core->Player->Next();
  MaintainPlaylist(*core);
  EXPECT_EQ(PlaylistPaths().size(), 3u);  // switched off: nothing added
  Modify(core->CurrentSettings, [](Settings& s) { s.AddRandomTrack = true; });
  core->Player->SetPositionMs(10000);
  MaintainPlaylist(*core);
  core->Player->Next();
  MaintainPlaylist(*core);
  EXPECT_EQ(PlaylistPaths(),
            (std::vector<std::string>{"C:\\Music\\t0.mp3", "C:\\Music\\t1.mp3", "C:\\Music\\t2.mp3", extra}));
}

TEST_F(MaintenanceTest, RandomTracksAreNeverPlaylistsAndNoneComeFromPlaylistsAlone) {
  StartPlugin(3);
  TextList cache;
  for (int i = 0; i < 50; ++i) cache.push_back("C:\\Music\\list" + std::to_string(i) + ".m3u");
  std::string song = AddTrack("song", 30);
  cache.push_back(song);
  core->FileCache.Set(std::make_shared<const PackedTextList>(cache));
  for (int i = 0; i < 20; ++i) AppendRandomTracks(*core);
  std::vector<std::string> paths = PlaylistPaths();
  ASSERT_EQ(paths.size(), 23u);
  for (std::size_t i = 3; i < paths.size(); ++i) EXPECT_EQ(paths[i], song);
  cache.pop_back();
  core->FileCache.Set(std::make_shared<const PackedTextList>(cache));
  AppendRandomTracks(*core);
  EXPECT_EQ(PlaylistPaths().size(), 23u);
}

}  // namespace
}  // namespace qf
