// The stand-in's media library: search, the query language, result records, updates.

#include "medialibrary.h"

#include <gtest/gtest.h>

#include "player/mlquery.h"

#include <cstring>

namespace host {
namespace {

MediaLibrary Sample() {
  MediaLibrary library;
  auto add = [&](std::string file, std::string title, std::string artist, std::string album, std::string genre,
                 int year, int track, int length, int rating, int plays) {
    LibraryItem item;
    item.filename = file;
    item.title = title;
    item.artist = artist;
    item.album = album;
    item.genre = genre;
    item.year = year;
    item.track = track;
    item.length = length;
    item.rating = rating;
    item.playCount = plays;
    item.fileSize = 2048 * 1024;
    library.Add(item);
  };
  add("C:\\Music\\Orchard\\Lanterns\\01 Dusk.mp3", "Dusk", "The Quiet Orchard", "Evening Lanterns", "Folk", 2011, 1,
      185, 4, 3);
  add("C:\\Music\\Orchard\\Lanterns\\02 Moths.mp3", "Moths", "The Quiet Orchard", "Evening Lanterns", "Folk", 2011, 2,
      95, 0, 0);
  add("C:\\Music\\Kites\\Static\\01 Rain.mp3", "Rain on Static", "Copper Kites", "Static Weather", "Rock", 2019, 1, 240,
      2, 7);
  add("C:\\Music\\Loose\\field.mp3", "field", "", "", "", -1, -1, 20, 0, 0);
  return library;
}

std::vector<std::string> Titles(const std::optional<std::vector<const LibraryItem*>>& items) {
  std::vector<std::string> titles;
  if (items)
    for (const LibraryItem* item : *items) titles.emplace_back(item->title);
  return titles;
}

TEST(MediaLibrary, SearchMatchesNameTitleArtistAlbumAndGenre) {
  MediaLibrary library = Sample();
  EXPECT_EQ(Titles(library.Search("orchard")), (std::vector<std::string>{"Dusk", "Moths"}));
  EXPECT_EQ(Titles(library.Search("STATIC")), (std::vector<std::string>{"Rain on Static"}));
  EXPECT_EQ(Titles(library.Search("folk")), (std::vector<std::string>{"Dusk", "Moths"}));
  EXPECT_EQ(Titles(library.Search("loose\\")), (std::vector<std::string>{"field"}));
  EXPECT_EQ(library.Search("").size(), 4u);
  EXPECT_TRUE(library.Search("nothing like it").empty());
  // A text never matches across two fields, and the next search sees what changed since the last.
  EXPECT_TRUE(library.Search(std::string("mp3\0", 4)).empty());
  EXPECT_TRUE(library.Search("mp3dusk").empty());
  char file[] = "c:\\music\\orchard\\lanterns\\02 moths.mp3";
  char title[] = "Moths at Noon";
  qf::host::itemRecord record{};
  record.filename = file;
  record.title = title;
  ASSERT_TRUE(library.Update(record));
  EXPECT_EQ(Titles(library.Search("noon")), (std::vector<std::string>{"Moths at Noon"}));
  library.Find("C:\\Music\\Orchard\\Lanterns\\02 Moths.mp3")->genre = "Ambient";
  EXPECT_EQ(Titles(library.Search("ambient")), (std::vector<std::string>{"Moths at Noon"}));
  LibraryItem added;
  added.filename = "C:\\New\\Noontide.mp3";
  added.title = "Noontide";
  library.Add(added);
  EXPECT_EQ(library.Search("NOON").size(), 2u);
}

TEST(MediaLibrary, QueryLanguage) {
  MediaLibrary library = Sample();
  struct Case {
    const char* query;
    std::vector<std::string> titles;
  };
  const Case cases[] = {
      {"artist HAS \"orchard\" && title BEGINS \"m\"", {"Moths"}},
      {"artist = \"the quiet orchard\"", {"Dusk", "Moths"}},
      {"artist != \"the quiet orchard\"", {"Rain on Static", "field"}},
      {"rating >= 2", {"Dusk", "Rain on Static"}},
      {"rating > 2 || playcount > 5", {"Dusk", "Rain on Static"}},
      {"length < 100", {"Moths", "field"}},
      {"length <= 95", {"Moths", "field"}},
      {"year = 2011 && !(track = 1)", {"Moths"}},
      {"NOT genre HAS folk AND title ENDS static", {"Rain on Static"}},
      {"album NOTHAS lanterns", {"Rain on Static", "field"}},
      {"filename = \"C:\\Music\\Loose\\field.mp3\"", {"field"}},
      {"FILENAME=\"c:\\music\\loose\\FIELD.MP3\"", {"field"}},
      {"filesize = 2048", {"Dusk", "Moths", "Rain on Static", "field"}},
      {"type = 0 && ", {"Dusk", "Moths", "Rain on Static", "field"}},
      {"type = 0 && (genre = rock)", {"Rain on Static"}},
      {"", {"Dusk", "Moths", "Rain on Static", "field"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Titles(library.Query(c.query)), c.titles) << c.query;
}

TEST(MediaLibrary, UnparsableQueriesMatchNothing) {
  MediaLibrary library = Sample();
  for (const char* query : {"artist HAS", "nosuchfield = 1", "(artist = a", "artist = a)", "title \"x\"", "&& a = 1",
                            "a = \"unclosed", "title = a & b", "rating >> 2", "!", "()"})
    EXPECT_FALSE(library.Query(query)) << query;
}

TEST(MediaLibrary, ResultRecordsCarryFieldsAndExtendedInfo) {
  MediaLibrary library = Sample();
  qf::host::mlQueryStruct query{};
  char text[] = "rating > 0";
  query.query = text;
  query.max_results = 1;
  MediaLibrary::Fill(query, *library.Query(query.query));
  ASSERT_EQ(query.results.Size, 1);  // max_results caps the list
  const qf::host::itemRecord& record = query.results.Items[0];
  EXPECT_STREQ(record.title, "Dusk");
  EXPECT_STREQ(record.artist, "The Quiet Orchard");
  EXPECT_EQ(record.length, 185);
  std::vector<std::string> extended;
  for (char** entry = record.extended_info; *entry; ++entry)
    extended.push_back(std::string(*entry) + "=" + (*entry + std::strlen(*entry) + 1));
  EXPECT_EQ(extended, (std::vector<std::string>{"FILESIZE=2048", "PLAYCOUNT=3", "RATING=4"}));
  MediaLibrary::Release(query);
  EXPECT_EQ(query.results.Size, 0);
  EXPECT_EQ(query.results.Items, nullptr);

  // Every record of a whole result set, with its texts and extended fields, is the item it copies.
  library.CountPlay(library.Items().back().filename, 1700000000);
  std::vector<const LibraryItem*> all;
  for (const LibraryItem& item : library.Items()) all.push_back(&item);
  query.max_results = 0;
  MediaLibrary::Fill(query, all);
  ASSERT_EQ(query.results.Size, static_cast<int>(all.size()));
  for (std::size_t i = 0; i < all.size(); ++i) {
    const qf::host::itemRecord& r = query.results.Items[i];
    EXPECT_EQ(
        std::string(r.filename) + "|" + r.title + "|" + r.album + "|" + r.artist + "|" + r.comment + "|" + r.genre,
        std::string(all[i]->filename) + "|" + std::string(all[i]->title) + "|" + std::string(all[i]->album) + "|" +
            std::string(all[i]->artist) + "|" + std::string(all[i]->comment) + "|" + std::string(all[i]->genre));
    EXPECT_EQ(r.year, all[i]->year);
    int fields = 0;
    for (char** entry = r.extended_info; *entry; ++entry) ++fields;
    EXPECT_EQ(fields, 1 + (all[i]->playCount > 0) + (all[i]->rating > 0) + (all[i]->lastPlayed > 0)) << i;
  }
  EXPECT_EQ(qf::MediaLibraryQuery::Extended(query.results.Items[all.size() - 1], "lastplay"), "1700000000");
  MediaLibrary::Release(query);
}

TEST(MediaLibrary, UpdatesChangeTheNextQuery) {
  MediaLibrary library = Sample();
  char file[] = "c:\\music\\orchard\\lanterns\\02 moths.mp3";
  char rating[] =
      "RATING\0"
      "5";
  char* table[] = {rating, nullptr};
  qf::host::itemRecord record{};
  record.filename = file;
  record.extended_info = table;
  EXPECT_TRUE(library.Update(record));
  EXPECT_EQ(Titles(library.Query("rating = 5")), (std::vector<std::string>{"Moths"}));
  char missing[] = "C:\\none.mp3";
  record.filename = missing;
  EXPECT_FALSE(library.Update(record));
}

// The items' texts lie in the library's own store: they outlive the texts they were given, a long text
// among many short ones, texts replaced again and again (the store is copied anew once what was
// replaced outweighs what is used) and a move of the library.
TEST(MediaLibrary, ItemTextsOutliveTheirSourcesReplacementsAndMoves) {
  const std::string longComment(300 * 1024, 'c');
  MediaLibrary library;
  for (int i = 0; i < 1000; ++i) {
    std::string file = "C:\\Music\\" + std::to_string(i) + ".mp3";
    LibraryItem item;
    item.filename = file;
    item.title = "first";
    if (i == 500) item.comment = longComment;
    library.Add(item);
  }
  for (char round : {'x', 'y', 'z'}) {
    for (int i = 0; i < 1000; ++i) {
      std::string file = "c:\\music\\" + std::to_string(i) + ".MP3";
      std::string title = std::string(2000, round) + std::to_string(i);
      qf::host::itemRecord record{};
      record.filename = file.data();
      record.title = title.data();
      ASSERT_TRUE(library.Update(record));
    }
  }
  MediaLibrary moved = std::move(library);
  ASSERT_EQ(moved.Items().size(), 1000u);
  for (int i = 0; i < 1000; ++i) {
    const LibraryItem& item = moved.Items()[static_cast<std::size_t>(i)];
    ASSERT_EQ(item.filename, "C:\\Music\\" + std::to_string(i) + ".mp3");
    ASSERT_EQ(item.title, std::string(2000, 'z') + std::to_string(i));
    ASSERT_EQ(item.comment, i == 500 ? std::string_view(longComment) : std::string_view());
  }
  EXPECT_EQ(moved.Search("zzz999").size(), 1u);
  EXPECT_EQ(moved.Search("first").size(), 0u);
}

TEST(MediaLibrary, DescribedRecordsCarryTheFieldsAsGiven) {
  MediaLibrary library;
  std::size_t added = library.Load(
      "# records for a test\r\n"
      "filename=C:\\Lib\\b.mp3\ttitle=B = b\tlength=-1\tfilesize=2048\trating=3\tlastplay=1700000000\r\n"
      "\n"
      "title=no file name\n"
      "filename=C:\\Lib\\a.mp3\tlength=185\tyear=x\tunknown=1\ttrack=99999999999\tplaycount=2");
  EXPECT_EQ(added, 2u);
  ASSERT_EQ(library.Items().size(), 2u);
  const LibraryItem& b = library.Items()[0];
  EXPECT_EQ(b.filename, "C:\\Lib\\b.mp3");
  EXPECT_EQ(b.title, "B = b");
  EXPECT_EQ(b.length, -1);
  EXPECT_EQ(b.fileSize, 2048 * 1024);
  EXPECT_EQ(b.rating, 3);
  EXPECT_EQ(b.lastPlayed, 1700000000);
  const LibraryItem& a = library.Items()[1];
  EXPECT_EQ(a.length, 185);
  EXPECT_EQ(a.year, -1);
  EXPECT_EQ(a.track, -1);
  EXPECT_EQ(a.playCount, 2);
  EXPECT_EQ(a.rating, 0);
  EXPECT_EQ(Titles(library.Query("filesize = 2048 && rating = 3")), (std::vector<std::string>{"B = b"}));
}

}  // namespace
}  // namespace host
