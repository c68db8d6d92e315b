// The media-library listing: the window and page arithmetic, the fields of one result and their formats,
// and the `medialibrary` tag against the stand-in's library, with every query's results released once.

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <limits>

#include "browse/listing.h"
#include "core/guarded.h"
#include "core/settingsdata.h"
#include "pageproducer/medialibrary.h"
#include "pageproducer/producer.h"
#include "platform/window.h"
#include "player/mlquery.h"
#include "plugin_fixture.h"

namespace qf {
namespace {

TEST(MediaLibraryWindow, PagesOffsetsAndTheirEdges) {
  struct Case {
    std::int64_t count;
    const char *length, *offset, *page;
    std::int64_t start, end;  // an end at or before the start shows nothing
    std::int32_t pages;
    bool failed;
  };
  const Case cases[] = {
      {25, "10", "", "2", 15, 25, 3, false},
      {25, "10", "7", "", 7, 17, 3, false},
      {25, "10", "20", "", 15, 25, 3, false},
      {25, "10", "", "", 0, 10, 3, false},
      {5, "10", "", "1", 0, 5, 1, false},
      {100, "10", "", "0", 0, 10, 11, false},
      {95, "10", "", "9", 85, 95, 10, false},
      {100, "10", "", "10", 90, 100, 11, false},  // the page of index N / length: the last full window
      {25, "10", "7", "1", 10, 20, 3, false},     // page mode wins over offset mode
      {25, "", "7", "2", 0, 25, 1, false},        // no length: everything, one page
      {25, "0", "", "", 0, 0, 1, true},
      {25, "0", "", "1", 0, 0, 1, true},
      {25, "x", "", "", 0, 0, 26, true},  // not a number and neither page nor offset
      {25, "x", "", "1", 0, 25, 26, false},
      {25, "x", "7", "", 0, 25, 26, false},
      {25, "-5", "", "", 0, -5, -4, false},
      {25, "-5", "", "2", 0, -5, -4, false},
      {25, "10", "", "abc", 0, 10, 3, false},
      {25, "10", "", "-3", 0, 10, 3, false},
      {25, "10", "-4", "", 0, 10, 3, false},
      // Hostile numbers: a huge page is past the end, never a wrapped product.
      {25, "10", "", "2147483647", 15, 25, 3, false},
      {25, "10", "", "99999999999999999999", 15, 25, 3, false},
      {25, "2147483647", "", "2147483647", 0, 25, 1, false},
      {25, "-2147483648", "", "-2147483648", 2147483673LL, 25, 1, false},
      {25, "10", "99999999999", "", 15, 25, 3, false},
      {50000, "1", "", "49999", 49999, 50000, 50001, false},
  };
  for (const Case& c : cases) {
    MediaLibraryWindow window = ChooseMediaLibraryWindow(c.count, c.length, c.offset, c.page);
    std::string label = std::to_string(c.count) + " length=" + c.length + " offset=" + c.offset + " page=" + c.page;
    EXPECT_EQ(window.failed, c.failed) << label;
    EXPECT_EQ(window.pages, c.pages) << label;
    if (c.failed) continue;
    EXPECT_EQ(window.start, c.start) << label;
    EXPECT_EQ(window.end, c.end) << label;
  }
}

TEST(MediaLibraryWindow, NumbersAreReadWithinTheThirtyTwoBitRange) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"12", 12},
      {"+3", 3},
      {"-7", -7},
      {"2147483648", std::numeric_limits<std::int32_t>::max()},
      {"-99999999999999999999999", std::numeric_limits<std::int32_t>::min()},
      {"", std::nullopt},
      {"-", std::nullopt},
      {" 1", std::nullopt},
      {"1x", std::nullopt},
      {"0x10", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadClampedNumber(c.text), c.value) << c.text;
}

// A result record of the host's layout, built from texts the test keeps alive.
struct Record {
  explicit Record(std::vector<std::string> extended) : pairs(std::move(extended)) {
    for (std::string& pair : pairs) table.push_back(pair.data());
    table.push_back(nullptr);
    record.extended_info = table.data();
  }
  std::vector<std::string> pairs;
  std::vector<char*> table;
  host::itemRecord record{};
};

std::string Pair(const std::string& name, const std::string& value) { return name + std::string(1, '\0') + value; }

TEST(MediaLibraryItem, ExtendedFieldsAreFoundByNameWithoutRegardToCaseFirstMatchWins) {
  Record item({Pair("FileSize", "2048"), Pair("RATING", "4"), Pair("rating", "1"), Pair("EMPTY", "")});
  EXPECT_EQ(MediaLibraryQuery::Extended(item.record, "FILESIZE"), "2048");
  EXPECT_EQ(MediaLibraryQuery::Extended(item.record, "rating"), "4");
  EXPECT_EQ(MediaLibraryQuery::Extended(item.record, "empty"), "");
  EXPECT_EQ(MediaLibraryQuery::Extended(item.record, "PLAYCOUNT"), std::nullopt);
  EXPECT_EQ(MediaLibraryQuery::Extended(item.record, "RATIN"), std::nullopt);
  host::itemRecord bare{};
  EXPECT_EQ(MediaLibraryQuery::Extended(bare, "RATING"), std::nullopt);
}

TEST(MediaLibraryItem, FieldsOfOneResult) {
  Record item({Pair("FILESIZE", "2048"), Pair("PLAYCOUNT", "x"), Pair("LASTPLAY", "4102444800")});
  std::string name = "C:\\Lib\\a.mp3", title = "A";
  item.record.filename = name.data();
  item.record.title = title.data();
  item.record.year = 1999;
  item.record.track = -1;
  item.record.length = 185;
  SessionData session;
  session.ItemArtist = "left over";
  session.ItemRating = 5;
  SetMediaLibraryItem(session, item.record, 7);
  EXPECT_EQ(session.ItemIndex, 7);
  EXPECT_EQ(session.ItemPath, name);
  EXPECT_EQ(session.ItemTitle, title);
  EXPECT_EQ(session.ItemArtist, "");  // a null text is an empty one
  EXPECT_EQ(session.ItemAlbum, "");
  EXPECT_EQ(session.ItemYear, 1999);
  EXPECT_EQ(session.ItemTrack, -1);
  EXPECT_EQ(session.ItemSeconds, 185);
  EXPECT_EQ(session.ItemFileSize, 2048 * 1024);
  EXPECT_EQ(session.ItemPlayCount, 0);  // not a number
  EXPECT_EQ(session.ItemRating, 0);     // absent
  EXPECT_EQ(session.ItemLastPlayed, 4102444800);

  Record large({Pair("FILESIZE", "3145728")});  // 3 GiB
  SetMediaLibraryItem(session, large.record, 0);
  EXPECT_EQ(session.ItemFileSize, 3221225472);
  EXPECT_EQ(MebibyteText(session.ItemFileSize), "3072.00");
}

TEST(MediaLibraryItem, Formats) {
  EXPECT_EQ(MebibyteText(2048 * 1024), "2.00");
  EXPECT_EQ(MebibyteText(3000000), "2.86");
  EXPECT_EQ(MebibyteText(0), "0.00");
  for (std::int64_t moment : {std::int64_t{1}, std::int64_t{1700000000}, std::int64_t{4102444800}}) {
    std::time_t time = static_cast<std::time_t>(moment);
    char expected[64];
    ASSERT_NE(::ctime_r(&time, expected), nullptr);
    EXPECT_EQ(CTimeText(moment), expected);
    EXPECT_EQ(CTimeText(moment).size(), 25u);
  }
}

// ---- The tag against the stand-in player.

std::atomic<int> queries{0};
std::atomic<int> releases{0};
platform::WNDPROC libraryProcedure = nullptr;

platform::LRESULT QF_CALLBACK CountingProcedure(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                                platform::LPARAM lParam) {
  if (message == host::WM_ML_IPC) {
    if (lParam == host::ML_IPC_DB_RUNQUERY || lParam == host::ML_IPC_DB_RUNQUERY_SEARCH) ++queries;
    if (lParam == host::ML_IPC_DB_FREEQUERYRESULTS) ++releases;
  }
  return platform::CallWindowProcA(libraryProcedure, window, message, wParam, lParam);
}

class MediaLibraryTagTest : public qftest::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    session.SkinName = "base";
    session.TemplatePath = std::string(kPlugins) + "\\quenforth\\base\\page.html";
    Skin("item.html", "<#medialibrary_title>,");
    queries = 0;
    releases = 0;
  }
  void Skin(const std::string& name, const std::string& text) {
    qftest::WriteFile(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/base" / name, text);
  }
  std::string Produce(const std::string& text) {
    return TMyPageProducer(nullptr, *core->Player, *core, session).Produce(text);
  }
  // A library of `count` records titled t00, t01, ..., and a count of the queries sent to it and of the
  // results released.
  void StartWithRecords(int count) {
    StartPlugin(0);
    player_->Call([count](::host::PlayerState& state) {
      state.library = ::host::MediaLibrary();
      for (int i = 0; i < count; ++i) {
        const std::string filename = Format("C:\\Lib\\Artist %d\\t%02d.mp3", i % 3, i);
        const std::string title = Format("t%02d", i), artist = Format("Artist %d", i % 3);
        ::host::LibraryItem item;
        item.filename = filename;
        item.title = title;
        item.artist = artist;
        item.length = 185;
        item.fileSize = 2048 * 1024;
        item.rating = i % 2 ? 4 : 0;
        state.library.Add(std::move(item));
      }
    });
    platform::HWND library = core->Player->GetMediaLibraryWindow();
    ASSERT_NE(library, nullptr);
    libraryProcedure = reinterpret_cast<platform::WNDPROC>(platform::SetWindowLongPtrA(
        library, platform::GWL_WNDPROC, reinterpret_cast<platform::LONG_PTR>(&CountingProcedure)));
  }
  static std::string Titles(int first, int last) {
    std::string titles;
    for (int i = first; i <= last; ++i) titles += Format("t%02d,", i);
    return titles;
  }

  SessionData session;
};

TEST_F(MediaLibraryTagTest, ListsTheWindowAndSetsResultsAndPages) {
  StartWithRecords(25);
  session.MediaLibraryPage = "2";
  EXPECT_EQ(Produce("<#medialibrary template=item.html length=10>|<#ml_results>|<#ml_pages>|<#ml_page>"),
            Titles(15, 24) + "|25|3|2");
  session.MediaLibraryPage.clear();
  EXPECT_EQ(Produce("<#medialibrary template=item.html length=10 offset=7>"), Titles(7, 16));
  EXPECT_EQ(Produce("<#medialibrary template=item.html>|<#ml_pages>"), Titles(0, 24) + "|1");
  EXPECT_EQ(queries, 3);
  EXPECT_EQ(releases, 3);
}

TEST_F(MediaLibraryTagTest, ResultsAreReleasedOnceWhicheverWayTheTagEnds) {
  StartWithRecords(5);
  const std::string kMissing = "<font color=\"ff0000\">medialibrary: template not specified</font>";
  struct Case {
    const char* tag;
    std::string output;
  };
  Skin("broken.html", "<#medialibrary_title x=%zz>");
  const Case cases[] = {
      {"<#medialibrary>", kMissing},
      {"<#medialibrary template=gone.html>", "<font color=\"ff0000\">medialibrary: template '<i>" +
                                                 std::string(kPlugins) +
                                                 "\\quenforth\\base\\gone.html'</i> not found</font>"},
      {"<#medialibrary template=item.html length=0>", ""},
      {"<#medialibrary template=item.html length=x>", ""},
      {"<#medialibrary template=item.html length=-3>", ""},
      {"<#medialibrary template=broken.html>", ""},  // the first item fails: the tag ends there
      {"<#medialibrary template=item.html basequery=\"no such field = 1\">", ""},
      {"<#medialibrary template=item.html length=2>", "t00,t01,"},
  };
  for (const Case& c : cases) {
    queries = 0;
    releases = 0;
    EXPECT_EQ(Produce(c.tag), c.output) << c.tag;
    EXPECT_EQ(queries, 1) << c.tag;
    EXPECT_EQ(releases, 1) << c.tag;
  }
}

TEST_F(MediaLibraryTagTest, AFailedPageCountStillCountsTheResults) {
  StartWithRecords(5);
  session.MediaLibraryPages = 9;
  EXPECT_EQ(Produce("<#medialibrary template=item.html length=0><#ml_results>/<#ml_pages>"), "5/1");
  EXPECT_EQ(Produce("<#medialibrary template=item.html length=x><#ml_results>/<#ml_pages>"), "5/6");
}

TEST_F(MediaLibraryTagTest, AQueryWithoutRecordsLeavesTheNumbersAndShowsTheEmptyTemplate) {
  StartWithRecords(5);
  Skin("none.html", "nothing found");
  EXPECT_EQ(Produce("<#ml_results>/<#ml_pages>;<#medialibrary template=item.html length=2>"
                    "<#medialibrary query=x basequery=\"title = zz\" empty=none.html>"
                    "<#medialibrary basequery=\"title = zz\">;<#ml_results>/<#ml_pages>"),
            "0/0;t00,t01,nothing found;5/3");
  EXPECT_EQ(Produce("<#medialibrary basequery=\"title = zz\" empty=gone.html>"),
            "<font color=\"ff0000\">medialibrary: template '<i>" + std::string(kPlugins) +
                "\\quenforth\\base\\gone.html'</i> not found</font>");
}

TEST_F(MediaLibraryTagTest, SearchReplacesTheQueryAndBaseQueryJoinsWithAnd) {
  StartWithRecords(25);
  session.MediaLibraryQuery = "title = t03";
  EXPECT_EQ(Produce("<#medialibrary template=item.html>"), "t03,");
  EXPECT_EQ(Produce("<#medialibrary template=item.html basequery=\"artist = %22Artist 0%22\">"), "t03,");
  EXPECT_EQ(Produce("<#medialibrary template=item.html basequery=\"artist = %22Artist 1%22\">"), "");
  session.MediaLibraryQuery.clear();
  // "basequery && " with nothing after it: the stand-in reads it as the base query alone.
  EXPECT_EQ(Produce("<#medialibrary template=item.html basequery=\"title < t02\">"), "t00,t01,");
  session.MediaLibraryQuery = "title = t03";
  session.MediaLibrarySearch = "t1";
  EXPECT_EQ(Produce("<#medialibrary template=item.html basequery=\"title = t00\">"), Titles(10, 19));
  EXPECT_EQ(Produce("<#query>|<#search_ml>"), "title = t03|t1");
}

TEST_F(MediaLibraryTagTest, ItemTags) {
  StartWithRecords(2);
  Skin("item.html",
       "<#medialibrary_filename>|<#medialibrary_artist>|<#medialibrary_songlengthmin>:"
       "<#medialibrary_songlengthsec>|<#medialibrary_rating>|<#medialibrary_filesize>|<#medialibrary_year>|"
       "<#medialibrary_tracknumber>|<#medialibrary_playcount>|<#medialibrary_lastplayed>\n");
  EXPECT_EQ(Produce("<#medialibrary template=item.html>"),
            "C:\\Lib\\Artist 0\\t00.mp3|Artist 0|3:05||2.00||||\n"
            "C:\\Lib\\Artist 1\\t01.mp3|Artist 1|3:05|4|2.00||||\n");
  session.ItemSeconds = -1;
  EXPECT_EQ(Produce("<#medialibrary_songlengthmin>:<#medialibrary_songlengthsec>"), "0:-1");
  session.ItemPath = "C:\\Lib\\it's \"x\".mp3";
  EXPECT_EQ(Produce("<#medialibrary_filename escape=1>"), "C:\\\\Lib\\\\it\\'s &quot;x&quot;.mp3");
  EXPECT_EQ(Produce("<#medialibrary_filename urlencoded=1 maxlength=7>"), "C%3a%5cLib%5c");
}

TEST_F(MediaLibraryTagTest, FormFileNameFollowsTheFolderBrowsersRule) {
  StartWithRecords(0);
  session.ItemPath = "C:\\Music\\Rock\\a b.mp3";
  Modify(core->CurrentSettings, [](Settings& s) { s.useFullPath = true; });
  EXPECT_EQ(Produce("<#medialibrary_form_filename>"), "C:\\Music\\Rock\\a b.mp3");
  EXPECT_EQ(Produce("<#medialibrary_form_filename urlencoded=1>"), "C%3a%5cMusic%5cRock%5ca+b.mp3");
  Modify(core->CurrentSettings, [](Settings& s) { s.useFullPath = false; });
  EXPECT_EQ(Produce("<#medialibrary_form_filename>"), "a b.mp3");
  session.SearchString = "a";
  EXPECT_EQ(Produce("<#medialibrary_form_filename>"), "a b.mp3");  // a search of folders only
  session.SearchForFiles = true;
  EXPECT_EQ(Produce("<#medialibrary_form_filename>"), "Rock\\a b.mp3");
  session.ItemPath = "C:";
  EXPECT_EQ(Produce("<#medialibrary_form_filename>"), "");
}

TEST_F(MediaLibraryTagTest, WithoutALibraryWindowTheQueryFindsNothing) {
  // No player at all: every message goes nowhere and answers 0.
  player = std::make_unique<TPlayer>();
  core = std::make_unique<TQuenforth>();
  core->Player = player.get();
  core->PluginFolder.Set(kPlugins);
  Skin("none.html", "no library");
  EXPECT_EQ(Produce("<#medialibrary template=item.html empty=none.html>"), "no library");
  EXPECT_EQ(Produce("<#medialibrary template=item.html>|<#ml_results>"), "|0");
}

}  // namespace
}  // namespace qf
