// The playlist listing: reading the player's file, the window around the current track, the item and
// whole-list tags. Against the stand-in player.

#include <gtest/gtest.h>

#include "pageproducer/playlist.h"
#include "pageproducer/producer.h"
#include "plugin_fixture.h"

namespace qf {
namespace {

class PlaylistTest : public qftest::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    session.SkinName = "base";
    session.TemplatePath = std::string(kPlugins) + "\\quenforth\\base\\page.html";
    Skin("item.html", "<#playlist_index>,");
  }
  void Skin(const std::string& name, const std::string& text) {
    qftest::WriteFile(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/base" / name, text);
  }
  std::string Produce(const std::string& text) {
    return TMyPageProducer(nullptr, *core->Player, *core, session).Produce(text);
  }
  // A playlist of `count` entries whose files need not exist, with the player at `current`.
  void StartWithEntries(int count, int current) {
    StartPlugin(0);
    player_->Call([&](::host::PlayerState& state) {
      for (int i = 0; i < count; ++i)
        state.playlist.push_back(::host::PlaylistEntry{"C:\\Music\\e" + std::to_string(i) + ".mp3",
                                                       "Artist - Song " + std::to_string(i), 61000, 0, 0, 0});
      state.current = current;
    });
  }

  SessionData session;
};

TEST_F(PlaylistTest, WindowsAroundTheCurrentTrack) {
  struct Case {
    int count, current;
    const char* parameters;
    int first, last;  // 1-based indices shown
  };
  const Case cases[] = {
      {3, 0, "length=10", 1, 3},
      {100, 95, "length=10", 91, 100},
      {100, 20, "length=10 offset=-3", 18, 27},
      {100, 2, "length=10 offset=-5", 1, 10},
      {100, 50, "", 1, 100},
      {100, 50, "length=10 offset=abc", 51, 60},
      {100, 50, "length=x offset=0", 1, 100},
      // Numbers at the ends of the 32-bit range: the window is pulled back to the end of the list.
      {100, 50, "length=10 offset=2147483647", 91, 100},
      {100, 50, "length=2147483647 offset=-2147483648", 1, 100},
  };
  for (const Case& c : cases) {
    StartWithEntries(c.count, c.current);
    std::string expected;
    for (int i = c.first; i <= c.last; ++i) expected += std::to_string(i) + ",";
    EXPECT_EQ(Produce(std::string("<#playlist template=item.html ") + c.parameters + ">"), expected)
        << c.count << " " << c.current << " " << c.parameters;
    TearDown();
  }
}

TEST_F(PlaylistTest, ALengthThatIsNoNumberWithoutOffsetShowsNothing) {
  StartWithEntries(5, 0);
  EXPECT_EQ(Produce("<#playlist template=item.html length=many>"), "");
}

TEST_F(PlaylistTest, HighlightTheCurrentEntryWhenItsTemplateExists) {
  StartWithEntries(3, 1);
  EXPECT_EQ(Produce("<#playlist template=item.html highlight=cur.html>"), "1,2,3,");
  Skin("cur.html", "[<#playlist_index>],");
  EXPECT_EQ(Produce("<#playlist template=item.html highlight=cur.html next=cur.html>"), "1,[2],3,");
}

TEST_F(PlaylistTest, EmptyListsAndMissingTemplates) {
  StartWithEntries(0, 0);
  EXPECT_EQ(Produce("<#playlist>"), "");  // emptiness first: no template error
  EXPECT_EQ(Produce("<#playlist template=nothing.html>"), "");
  Skin("none.html", "nothing queued");
  EXPECT_EQ(Produce("<#playlist empty=none.html>"), "nothing queued");
  EXPECT_EQ(Produce("<#playlist empty=gone.html>"), "<font color=\"ff0000\">playlist: template '<i>" +
                                                        std::string(kPlugins) +
                                                        "\\quenforth\\base\\gone.html'</i> not found</font>");
  TearDown();
  StartWithEntries(2, 0);
  EXPECT_EQ(Produce("<#playlist>"), "<font color=\"ff0000\">playlist: template not specified</font>");
  EXPECT_EQ(Produce("<#Playlist template=missing.html>"), "<font color=\"ff0000\">Playlist: template '<i>" +
                                                              std::string(kPlugins) +
                                                              "\\quenforth\\base\\missing.html'</i> not found</font>");
}

TEST_F(PlaylistTest, TheFilterShowsMatchesAmongTheWindow) {
  StartWithEntries(30, 0);
  session.PlaylistFilter = "SONG 1";
  EXPECT_EQ(Produce("<#playlist template=item.html length=15>"), "2,11,12,13,14,15,");
  EXPECT_EQ(Produce("<#search_playlist_string>"), "SONG 1");
}

TEST_F(PlaylistTest, ItemTags) {
  StartPlugin(0);
  player_->Call([](::host::PlayerState& state) {
    state.playlist = {{"C:\\Music\\Rock\\a.mp3", "Copper Kites - Rain", 185000, 0, 0, 0},
                      {"C:\\Music\\Song", "Plain title", 65000, 0, 0, 0}};
  });
  Skin("item.html",
       "<#playlist_index>|<#playlist_filename>|<#playlist_directory>|<#playlist_title>|<#playlist_songtitle>|"
       "<#playlist_artist>|<#playlist_enc_songtitle>|<#playlist_songlengthmin>:<#playlist_songlengthsec>|"
       "<#playlist_songid>|<#playlist_addedby>|<#playlist_addedby default=nobody>\n");
  Modify(core->TrackOwners, [&](TextList& owners) { SetValueOfName(owners, core->CrcKey("C:\\Music\\Song"), "eve"); });
  EXPECT_EQ(Produce("<#playlist template=item.html>"),
            "1|C:\\Music\\Rock\\a.mp3|C:\\Music\\Rock|Copper Kites - Rain|Copper Kites - Rain|Copper Kites|"
            "Copper+Kites+-+Rain|3:05|" +
                core->CrcKey("C:\\Music\\Rock\\a.mp3") + "0|Admin|nobody\n" +
                "2|C:\\Music\\Song|C:\\Music|Plain title|Plain title||Plain+title|1:05|" +
                core->CrcKey("C:\\Music\\Song") + "1|eve|eve\n");
  EXPECT_EQ(Produce("<#playlist_numtracks>|<#playlist_length>"), "02| 0:04:10");

  // The register as a hand-edited file may hold it: keys in any case, and the first line of a key wins.
  std::string key = core->CrcKey("C:\\Music\\Rock\\a.mp3");
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  core->TrackOwners.Set(std::make_shared<const TextList>(TextList{"no equals sign", key + "=ann", key + "=bob"}));
  EXPECT_EQ(Produce("<#playlist template=item.html length=1 offset=-1>"),
            "1|C:\\Music\\Rock\\a.mp3|C:\\Music\\Rock|Copper Kites - Rain|Copper Kites - Rain|Copper Kites|"
            "Copper+Kites+-+Rain|3:05|" +
                core->CrcKey("C:\\Music\\Rock\\a.mp3") + "0|ann|ann\n");
}

TEST_F(PlaylistTest, ReadingThePlaylistFile) {
  StartPlugin(0);
  // A folder of its own, so the player does not rewrite the file the test wrote.
  core->PlaylistFolder.Set("C:\\Lists");
  qftest::WriteFile(folder_.Path() / "Lists/winamp.m3u",
                    "#EXTM3U\r\n#EXTINF:-1,Radio\r\nhttp://radio.example/live\r\nC:\\Music\\Song\r\n"
                    "C:\\Music\\Rock\\b.flac\r\n#EXTINF:3725,Long one\r\nC:\\x.mp3\r\n#EXTINF:12,dangling\r\n");
  Snapshot<PlaylistEntryList> entries = ReadPlaylistShared(*core);
  ASSERT_EQ(entries->size(), 4u);
  EXPECT_EQ((*entries)[0].DisplayTitle, "Radio");
  EXPECT_EQ((*entries)[0].Seconds, 0);  // streams are written with -1
  EXPECT_EQ((*entries)[0].FileName, "http://radio.example/live");
  EXPECT_EQ((*entries)[1].DisplayTitle, "");  // a path without an extension
  EXPECT_EQ((*entries)[2].DisplayTitle, "b");
  EXPECT_EQ((*entries)[3].Seconds, 3725);
  EXPECT_EQ(Produce("<#playlist_numtracks>|<#playlist_length>"), "04| 1:02:05");
  core->PlaylistFolder.Set("C:\\Nowhere");
  EXPECT_TRUE(ReadPlaylistShared(*core)->empty());
  EXPECT_EQ(Produce("<#playlist_numtracks>"), "00");
}

TEST_F(PlaylistTest, APageListsWhatItsOwnCommandsAdded) {
  StartWithEntries(3, 0);
  EXPECT_EQ(Produce("<#playlist template=item.html>"), "1,2,3,");
  player_->Call([](::host::PlayerState& state) { state.playlist.push_back(state.playlist.front()); });
  EXPECT_EQ(Produce("<#playlist template=item.html>"), "1,2,3,4,");
  EXPECT_FALSE(core->PlaylistBusy);
}

// Each read has the player write the whole list to disk: a page of many list tags (a parsed setting can
// repeat one a million times) must not cost a read each.
TEST_F(PlaylistTest, APageReadsThePlaylistOnceForAllItsListTags) {
  StartWithEntries(3, 0);
  Skin("again.html", "<#playlist template=item.html>");
  std::uint64_t before = core->PlaylistReadsStarted();
  EXPECT_EQ(Produce("<#playlist template=item.html>|<#include file=again.html>|<#playlist template=item.html>"),
            "1,2,3,|1,2,3,|1,2,3,");
  EXPECT_EQ(core->PlaylistReadsStarted(), before + 1);
  EXPECT_EQ(Produce("<#playlist template=item.html>"), "1,2,3,");
  EXPECT_EQ(core->PlaylistReadsStarted(), before + 2);
}

// A count and a total above the list describe the list below them: whichever tag of the page comes first
// reads the playlist, and the page reads it once.
TEST_F(PlaylistTest, CountsAboveTheListCountTheList) {
  StartWithEntries(3, 0);
  std::uint64_t before = core->PlaylistReadsStarted();
  EXPECT_EQ(Produce("<#playlist_numtracks>|<#playlist_length>|<#playlist template=item.html>|<#playlist_numtracks>"),
            "03| 0:03:03|1,2,3,|03");
  EXPECT_EQ(core->PlaylistReadsStarted(), before + 1);
  // A page of its own sees the player's list as it is now, with no list tag on it at all.
  player_->Call([](::host::PlayerState& state) { state.playlist.push_back(state.playlist.front()); });
  EXPECT_EQ(Produce("<#playlist_numtracks urlencoded=1> tracks,<#playlist_length urlencoded=1>"),
            "04 tracks,+0%3a04%3a04");
  EXPECT_EQ(core->PlaylistReadsStarted(), before + 2);
  player_->Call([](::host::PlayerState& state) { state.playlist.clear(); });
  EXPECT_EQ(Produce("<#playlist_length>|<#playlist_numtracks>"), " 0:00:00|00");
}

// Between two items, never before the first or after the last: a list can be a JSON array.
TEST_F(PlaylistTest, ASeparatorStandsBetweenTheItems) {
  StartWithEntries(3, 1);
  Skin("id.json", "<#playlist_index>");
  Skin("cur.json", "[<#playlist_index>]");
  EXPECT_EQ(Produce("[<#playlist template=id.json separator=\",\">]"), "[1,2,3]");
  EXPECT_EQ(Produce("[<#playlist template=id.json highlight=cur.json separator=\", \">]"), "[1, [2], 3]");
  EXPECT_EQ(Produce("[<#playlist template=id.json length=1 separator=,>]"), "[2]");
  session.PlaylistFilter = "song 2";
  EXPECT_EQ(Produce("[<#playlist template=id.json separator=,>]"), "[3]");
  session.PlaylistFilter = "nothing like it";
  EXPECT_EQ(Produce("[<#playlist template=id.json separator=,>]"), "[]");
}

}  // namespace
}  // namespace qf
