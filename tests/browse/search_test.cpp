#include "browse/search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/text.h"

namespace qf {
namespace {

const TextList kCache{
    "D:\\Music\\Rock\\a.mp3", "D:\\Music\\Rock\\Live\\b.mp3", "D:\\Music\\Jazz\\c.mp3",
    "D:\\Music\\loose.mp3",   "D:\\Music\\Rock\\x.mp3.lnk",   "D:\\Music\\Rock\\Live\\d.ogg",
};

struct SearchCase {
  const char* name;
  const char* folder;
  SearchDepth depth;
  const char* text;
  TextList expected;
};

class FolderSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(FolderSearch, FindsTheFoldersOfCachedFiles) {
  const SearchCase& c = GetParam();
  TextList results;
  SearchFolders(kCache, c.folder, c.depth, c.text, results);
  EXPECT_EQ(results, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderSearch,
    ::testing::Values(
        SearchCase{"DirectSubfolderOnce", "D:\\Music", SearchDepth::DirectContent, "rock", {"D:\\Music\\Rock"}},
        SearchCase{"EveryLevelTheFolderHoldingTheFile",
                   "D:\\Music",
                   SearchDepth::AllLevels,
                   "rock",
                   {"D:\\Music\\Rock", "D:\\Music\\Rock\\Live"}},
        SearchCase{"DeeperFolderIsNoDirectSubfolder", "D:\\Music", SearchDepth::DirectContent, "live", {}},
        SearchCase{"DeeperFolderAtAllLevels", "D:\\Music", SearchDepth::AllLevels, "live", {"D:\\Music\\Rock\\Live"}},
        SearchCase{"UpperCaseTextFindsTheSame",
                   "D:\\Music",
                   SearchDepth::AllLevels,
                   "ROCK",
                   {"D:\\Music\\Rock", "D:\\Music\\Rock\\Live"}},
        SearchCase{"FileDirectlyInTheFolderIsNoFolder", "D:\\Music", SearchDepth::DirectContent, "loose", {}},
        SearchCase{"FileDirectlyInTheFolderIsNoFolderAtAnyDepth", "D:\\Music", SearchDepth::AllLevels, "loose", {}},
        SearchCase{"FolderOutsideTheCacheFindsNothing", "E:\\Audio", SearchDepth::AllLevels, "rock", {}}),
    [](const auto& info) { return std::string(info.param.name); });

class FileSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(FileSearch, FindsCachedFilesByName) {
  const SearchCase& c = GetParam();
  TextList results;
  SearchFiles(kCache, c.folder, c.depth, c.text, results);
  EXPECT_EQ(results, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileSearch,
    ::testing::Values(
        // Without subfolders the extension is part of the name matched.
        SearchCase{"ExtensionMatchesInTheFolderItself",
                   "D:\\Music\\Rock",
                   SearchDepth::DirectContent,
                   "mp3",
                   {"D:\\Music\\Rock\\a.mp3", "D:\\Music\\Rock\\x.mp3.lnk"}},
        SearchCase{"ExtensionNeverMatchesAtAllLevels", "D:\\Music\\Rock", SearchDepth::AllLevels, "mp3", {}},
        SearchCase{"ShortcutIsMatchedWithoutBothExtensions",
                   "D:\\Music",
                   SearchDepth::AllLevels,
                   "x",
                   {"D:\\Music\\Rock\\x.mp3.lnk"}},
        SearchCase{"FilesBelowSubfoldersAtAllLevels",
                   "D:\\Music",
                   SearchDepth::AllLevels,
                   "B",
                   {"D:\\Music\\Rock\\Live\\b.mp3"}},
        SearchCase{"OnlyTheFolderOwnFilesWithoutSubfolders",
                   "D:\\Music",
                   SearchDepth::DirectContent,
                   "o",
                   {"D:\\Music\\loose.mp3"}},
        SearchCase{"CacheOrderIsKept",
                   "D:\\Music\\Rock\\Live",
                   SearchDepth::DirectContent,
                   ".",
                   {"D:\\Music\\Rock\\Live\\b.mp3", "D:\\Music\\Rock\\Live\\d.ogg"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Search, FolderResultsAlreadyPresentAreNotAddedAgain) {
  TextList results{"d:\\music\\rock"};
  SearchFolders(kCache, "D:\\Music", SearchDepth::AllLevels, "rock", results);
  EXPECT_EQ(results, (TextList{"d:\\music\\rock", "D:\\Music\\Rock\\Live"}));
}

TEST(Search, ResultsAreAppendedToWhatTheListHolds) {
  TextList results{"E:\\Audio\\e.mp3"};
  SearchFiles(kCache, "D:\\Music\\Jazz", SearchDepth::DirectContent, "c", results);
  EXPECT_EQ(results, (TextList{"E:\\Audio\\e.mp3", "D:\\Music\\Jazz\\c.mp3"}));
}

TEST(Search, NameWithoutDotIsMatchedAsEmptyAtAllLevels) {
  TextList cache{"D:\\Music\\README", "D:\\Music\\song.mp3"};
  TextList results;
  SearchFiles(cache, "D:\\Music", SearchDepth::AllLevels, "read", results);
  EXPECT_TRUE(results.empty());
  SearchFiles(cache, "D:\\Music", SearchDepth::AllLevels, "song", results);
  EXPECT_EQ(results, TextList{"D:\\Music\\song.mp3"});
}

TEST(Search, EmptyCacheFindsNothing) {
  TextList results;
  SearchFiles({}, "D:\\Music", SearchDepth::AllLevels, "a", results);
  SearchFolders({}, "D:\\Music", SearchDepth::AllLevels, "a", results);
  EXPECT_TRUE(results.empty());
}

// Names are searched eight characters at a time: a match must be found at every place in a long name,
// in either case, and nothing may match a character that only differs from a letter above 0x7F or in
// bit 0x20 while not being that letter in the other case.
TEST(Search, FindsTheTextAtEveryPlaceOfALongName) {
  const std::string filler = "0123456789-_~\xd4\xf4[{`+=,;!#$%&()";
  for (std::string text : {"tItle 12", "T", "@1", "\xe9t"}) {
    for (std::size_t at = 0; at <= filler.size(); ++at) {
      std::string name = filler.substr(0, at) + UpperCase(text) + filler.substr(at);
      TextList cache{"D:\\Music\\" + name + ".mp3"}, results;
      SearchFiles(cache, "D:\\Music", SearchDepth::AllLevels, text, results);
      EXPECT_EQ(results, cache) << text << " at " << at;
    }
  }
  // Characters that a careless fold would take for the first letter or for one another.
  for (const char* text : {"t", "`", "{", "\xf4"}) {
    TextList cache{"D:\\Music\\ABCDEFGHIJKLMNOPQRS\xd4UVWXYZ@[.mp3"}, results;
    SearchFiles(cache, "D:\\Music", SearchDepth::AllLevels, text, results);
    EXPECT_TRUE(results.empty()) << text;
  }
  TextList cache{"D:\\Music\\0123456789ABCDEFGHIJ.mp3"}, results;
  SearchFiles(cache, "D:\\Music", SearchDepth::AllLevels, "hij", results);
  SearchFiles(cache, "D:\\Music", SearchDepth::AllLevels, "hijk", results);
  EXPECT_EQ(results, cache) << "a match ending with the name is found, one going past it is not";
}

// The name is what follows the last "\\", which is looked for eight characters at a time from the end: it
// must be found at every place, and the folder part before it, whatever it holds, never matched.
TEST(Search, MatchesOnlyTheNameAfterTheLastSeparatorWhereverItIs) {
  for (std::size_t folder = 0; folder <= 17; ++folder) {
    for (std::size_t name = 0; name <= 17; ++name) {
      // Bytes that differ from "\\" by one bit or in the top bit, next to it and around it.
      std::string entry = "D:\\" + std::string(folder, '\xdc') + "title\\" + std::string(name, '|') + ".mp3";
      TextList cache{entry}, results;
      SearchFiles(cache, "D:", SearchDepth::AllLevels, "title", results);
      EXPECT_TRUE(results.empty()) << folder << " " << name;
      SearchFiles(cache, "D:", SearchDepth::AllLevels, std::string(name, '|'), results);
      EXPECT_EQ(results, cache) << folder << " " << name;
    }
  }
  TextList cache{"title.mp3"}, results;  // no separator at all: the whole entry is the name
  SearchFiles(cache, "", SearchDepth::AllLevels, "title", results);
  EXPECT_EQ(results, cache);
}

// A search of all levels looks only into the entries that hold the text somewhere in the cache's text:
// it must find what a test of every entry finds, with matches that run from one entry into the next,
// several in one entry, at either end of the cache, in short and empty entries and in either case.
TEST(Search, FindsWhatATestOfEveryEntryFinds) {
  std::mt19937 random(7);
  auto pick = [&](const std::string& from, std::size_t length) {
    std::string picked;
    while (picked.size() < length) picked += from[random() % from.size()];
    return picked;
  };
  auto nameOf = [](std::string_view entry) {
    std::size_t slash = entry.rfind('\\');
    std::string_view name = slash == std::string_view::npos ? entry : entry.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(0, dot);
  };
  for (int round = 0; round < 2000; ++round) {
    TextList cache, expected, results;
    for (std::size_t i = random() % 8; i > 0; --i) cache.push_back(pick("aAbB1 .\\-", random() % 12));
    std::string text = pick("aAb1 .-", 1 + random() % 3);
    for (const std::string& entry : cache)
      if (ContainsText(nameOf(entry), text)) expected.push_back(entry);
    SearchFiles(cache, "", SearchDepth::AllLevels, text, results);
    std::string described;
    for (const std::string& entry : cache) described += "[" + entry + "]";
    ASSERT_EQ(results, expected) << "'" << text << "' in " << described;
  }
}

}  // namespace
}  // namespace qf
