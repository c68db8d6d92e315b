// The media library over HTTP: skin pages list windows of the player's library by page and by offset,
// search and query it, show every field of a result, and rate a track; against a library of described
// records, and against a library with nothing in it.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/text.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using qftest::Encoded;
using qftest::Get;
using qftest::QuenforthProcess;

// C: of the prefix, from the data folder the fixture hands to its preparation.
fs::path DriveOf(const fs::path& data) { return data.parent_path().parent_path().parent_path().parent_path(); }

void WritePages(const fs::path& data) {
  const std::pair<const char*, const char*> pages[] = {
      {"mli.html", "<#medialibrary_title>,"},
      {"none.html", "nothing found"},
      {"page.html", "<#medialibrary template=mli.html length=10>|<#ml_results>|<#ml_pages>|<#ml_page>"},
      {"offset7.html", "<#medialibrary template=mli.html length=10 offset=7>"},
      {"offset20.html", "<#medialibrary template=mli.html length=10 offset=20>"},
      {"first.html", "<#medialibrary template=mli.html length=10>"},
      {"five.html",
       "<#medialibrary template=mli.html basequery=\"artist = Five\" length=10>|<#ml_results>|<#ml_pages>"},
      {"all.html", "<#medialibrary template=mli.html empty=none.html>|<#ml_results>|<#query>|<#search_ml>"},
      {"two.html",
       "<#medialibrary template=mli.html length=3>|<#medialibrary template=mli.html basequery=\"title = none\" "
       "empty=none.html>|<#ml_results>"},
      {"fields.html", "<#medialibrary template=field.html>"},
      {"field.html",
       "file=<#medialibrary_filename>\ntitle=<#medialibrary_title>\nartist=<#medialibrary_artist>\n"
       "album=<#medialibrary_album>\ngenre=<#medialibrary_genre>\nmin=<#medialibrary_songlengthmin>\n"
       "sec=<#medialibrary_songlengthsec>\ntrack=<#medialibrary_tracknumber>\nyear=<#medialibrary_year>\n"
       "rating=<#medialibrary_rating>\nplays=<#medialibrary_playcount>\nsize=<#medialibrary_filesize>\n"
       "form=<#medialibrary_form_filename urlencoded=1>\nlast=<#medialibrary_lastplayed urlencoded=1>\n"},
  };
  for (const auto& [name, text] : pages) qftest::WriteFile(data / "base" / name, text);
}

// 25 records "Song 00" to "Song 24" in C:\Lib: the first five by the artist Five, track i + 1, year
// 2000 + i, rating i mod 5 (none for 0), played i times, 2048 KB and 185 seconds long but Song 01 (-1).
std::string Records() {
  std::string records = "# test library\r\n";
  for (int i = 0; i < 25; ++i) {
    records += qf::Format("filename=C:\\Lib\\t%02d.mp3\ttitle=Song %02d\tartist=%s\talbum=Album\tgenre=Rock\t", i, i,
                          i < 5 ? "Five" : "Many");
    records +=
        qf::Format("track=%d\tyear=%d\tlength=%d\tfilesize=2048\tplaycount=%d", i + 1, 2000 + i, i == 1 ? -1 : 185, i);
    if (i % 5) records += qf::Format("\trating=%d", i % 5);
    if (i == 2) records += "\tlastplay=1700000000";
    records += "\r\n";
  }
  return records;
}

std::string Titles(int first, int last) {
  std::string titles;
  for (int i = first; i <= last; ++i) titles += qf::Format("Song %02d,", i);
  return titles;
}

class MediaLibraryPages : public ::testing::Test {
 protected:
  // One player for the suite: starting one under Wine takes seconds. Only the rating test changes the
  // library, on a record no other test reads.
  static void SetUpTestSuite() {
    quenforth_ = std::make_unique<QuenforthProcess>(
        [](const fs::path& data) {
          WritePages(data);
          qftest::WriteFile(DriveOf(data) / "mlrecords.txt", Records());
        },
        std::vector<std::string>{"--library", "C:\\mlrecords.txt"});
  }
  static void TearDownTestSuite() { quenforth_.reset(); }

  static std::string Page(const std::string& target) {
    auto response = Get(quenforth_->Port(), target);
    EXPECT_TRUE(response) << target;
    if (!response) return "";
    EXPECT_EQ(response->status, 200) << target;
    return response->body;
  }
  static std::string Query(const std::string& query) { return "query=" + Encoded(query); }

  static inline std::unique_ptr<QuenforthProcess> quenforth_;
};

TEST_F(MediaLibraryPages, PageWindows) {
  struct Case {
    const char* target;
    std::string body;
  };
  const Case cases[] = {
      {"/page.html", Titles(0, 9) + "|25|3|0"},
      {"/page.html?ml_page=1", Titles(10, 19) + "|25|3|1"},
      {"/page.html?ml_page=2", Titles(15, 24) + "|25|3|2"},
      {"/page.html?ml_page=99999999999", Titles(15, 24) + "|25|3|2147483647"},
      {"/page.html?ml_page=-4", Titles(0, 9) + "|25|3|-4"},
      {"/offset7.html", Titles(7, 16)},
      {"/offset20.html", Titles(15, 24)},
      {"/offset7.html?ml_page=0", Titles(0, 9)},
      {"/first.html", Titles(0, 9)},
      {"/five.html", Titles(0, 4) + "|5|1"},
      {"/five.html?ml_page=1", Titles(0, 4) + "|5|1"},
  };
  for (const Case& c : cases) EXPECT_EQ(Page(c.target), c.body) << c.target;
}

TEST_F(MediaLibraryPages, SearchReplacesTheQueryAndBaseQueryIsJoinedWithAnd) {
  EXPECT_EQ(Page("/all.html?" + Query("title = \"Song 03\"")), "Song 03,|1|title = \"Song 03\"|");
  EXPECT_EQ(Page("/all.html?" + Query("title = \"Song 03\"") + "&search_ml=Song%201"),
            Titles(10, 19) + "|10|title = \"Song 03\"|Song 1");
  EXPECT_EQ(Page("/five.html?" + Query("track > 3")), "Song 03,Song 04,|2|1");
  EXPECT_EQ(Page("/all.html?" + Query("title = nothing")), "nothing found|0|title = nothing|");
}

TEST_F(MediaLibraryPages, ASecondQueryFindingNothingLeavesTheResults) {
  EXPECT_EQ(Page("/two.html"), "Song 00,Song 01,Song 02,|nothing found|25");
}

TEST_F(MediaLibraryPages, FieldsOfAResult) {
  EXPECT_EQ(Page("/fields.html?" + Query("title = \"Song 00\"")),
            "file=C:\\Lib\\t00.mp3\ntitle=Song 00\nartist=Five\nalbum=Album\ngenre=Rock\nmin=3\nsec=05\ntrack=1\n"
            "year=2000\nrating=\nplays=\nsize=2.00\nform=C%3a%5cLib%5ct00.mp3\nlast=\n");
  std::string song01 = Page("/fields.html?" + Query("title = \"Song 01\""));
  EXPECT_NE(song01.find("\nmin=0\nsec=-1\n"), std::string::npos) << song01;
  EXPECT_NE(song01.find("\nrating=1\nplays=1\n"), std::string::npos) << song01;
  // Local time of the player: 14 or 15 November 2023 in any time zone.
  std::string song02 = Page("/fields.html?" + Query("title = \"Song 02\""));
  std::size_t last = song02.find("\nlast=");
  ASSERT_NE(last, std::string::npos) << song02;
  std::string text = qf::UrlDecode(song02.substr(last + 6, song02.size() - last - 7), qf::PlusMeans::Blank);
  EXPECT_EQ(text.size(), 25u) << text;
  EXPECT_TRUE(text.find(" Nov 14 ") == 3 || text.find(" Nov 15 ") == 3) << text;
  EXPECT_EQ(text.substr(19), " 2023\n") << text;
}

TEST_F(MediaLibraryPages, RatingATrackShowsOnLaterPages) {
  std::string song05 = "/fields.html?" + Query("title = \"Song 05\"");
  EXPECT_NE(Page(song05).find("\nrating=\n"), std::string::npos);
  Page("/none.html?usefile=" + Encoded("C:\\Lib\\t05.mp3") + "&rating=4");
  EXPECT_NE(Page(song05).find("\nrating=4\n"), std::string::npos);
  Page("/none.html?rating=2");  // no file named: nothing changes
  EXPECT_NE(Page(song05).find("\nrating=4\n"), std::string::npos);
}

TEST(MediaLibraryWithoutRecords, ShowsTheEmptyTemplate) {
  QuenforthProcess quenforth(WritePages, {"--library", "C:\\no library here"});
  auto response = Get(quenforth.Port(), "/all.html?search_ml=Song");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "nothing found|0||Song");
  response = Get(quenforth.Port(), "/page.html");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "|0|0|0");
}

}  // namespace
