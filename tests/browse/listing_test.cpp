#include "browse/listing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;
namespace emulation = platform::emulation;

SortedTextList Extensions(std::initializer_list<const char*> items) {
  SortedTextList list;
  for (const char* item : items) list.Add(item);
  return list;
}

TEST(SplitExtensions, SplitsAtColonsSortedWithoutDuplicates) {
  struct Case {
    const char* text;
    TextList expected;
  };
  const Case cases[] = {
      {"mp3", {"mp3"}},   {"mp3:MP3", {"mp3"}}, {":", {}},    {"", {}}, {"ogg:mp3:", {"mp3", "ogg"}},
      {"::x", {"", "x"}}, {"mp3::", {"mp3"}},   {"::", {""}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitExtensions(c.text).Items(), c.expected) << c.text;
}

TEST(HideExtension, CutsBeforeTheFirstOccurrenceOfEachExtension) {
  SortedTextList extensions = Extensions({"mp3", "ogg"});
  EXPECT_EQ(HideExtension("Song.mp3", extensions), "Song");
  EXPECT_EQ(HideExtension("My.mp3.Song.mp3", extensions), "My");
  EXPECT_EQ(HideExtension("Loud.MP3", extensions), "Loud");
  EXPECT_EQ(HideExtension("x.ogg.mp3", extensions), "x");
  EXPECT_EQ(HideExtension("cover.jpg", extensions), "cover.jpg");
  EXPECT_EQ(HideExtension("Rock\\a.mp3", extensions), "Rock\\a");
}

TEST(MebibyteText, TwoDecimalsWithAPoint) {
  EXPECT_EQ(MebibyteText(3'000'000), "2.86");
  EXPECT_EQ(MebibyteText(0), "0.00");
  EXPECT_EQ(MebibyteText(1'048'576), "1.00");
  EXPECT_EQ(MebibyteText(3'639'607), "3.47");
  EXPECT_EQ(MebibyteText(5'000'000'000LL), "4768.37");
}

class Listing : public ::testing::Test {
 protected:
  void SetUp() override {
    emulation::UnmapAllDrives();
    emulation::MapDrive('D', (folder_.Path() / "d").string(), "Music");
    emulation::MapDrive('E', (folder_.Path() / "e").string());
    for (const char* folder : {"d/Music/Rock", "d/Music/Jazz", "d/Music/a..b", "e/Audio/Sub"})
      fs::create_directories(folder_.Path() / folder);
    for (const char* file :
         {"Song.mp3", "My.mp3.Song.mp3", "other.ogg", "cover.jpg", "NOEXT", "Loud.MP3", ".hidden.mp3"})
      qftest::WriteFile(folder_.Path() / "d/Music" / file, "x");
    qftest::WriteFile(folder_.Path() / "d/Music/big.mp3", std::string(3'000'000, 'x'));
    qftest::WriteFile(folder_.Path() / "e/Audio/e.mp3", "x");
    state_.current = state_.root = "D:\\Music";
    state_.useFullPath = false;
  }
  void TearDown() override { emulation::UnmapAllDrives(); }

  qftest::TempFolder folder_;
  BrowseState state_;
};

TEST_F(Listing, FoldersAreSortedWithTheParentFirst) {
  EXPECT_EQ(DirectoryEntries(state_, {}),
            (TextList{"D:\\Music\\..", "D:\\Music\\a..b", "D:\\Music\\Jazz", "D:\\Music\\Rock"}));
  state_.current = "D:";  // a drive's root has no parent entry
  EXPECT_EQ(DirectoryEntries(state_, {}), (TextList{"D:\\Music"}));
}

TEST_F(Listing, AdditionalFoldersFollowAtTheRootWithFullPaths) {
  state_.additionalFolders = {"E:\\Audio", ""};
  TextList plain{"D:\\Music\\..", "D:\\Music\\a..b", "D:\\Music\\Jazz", "D:\\Music\\Rock"};
  EXPECT_EQ(DirectoryEntries(state_, {}), plain);
  state_.useFullPath = true;
  TextList withAdditional = plain;
  withAdditional.push_back("E:\\Audio\\Sub");
  EXPECT_EQ(DirectoryEntries(state_, {}), withAdditional);
  state_.root = "d:\\MUSIC";  // the root compares without regard to case
  EXPECT_EQ(DirectoryEntries(state_, {}), withAdditional);
  state_.root = "D:";
  EXPECT_EQ(DirectoryEntries(state_, {}), plain);
}

TEST_F(Listing, FilesMatchTheExtensionsOnceEachSortedByPath) {
  EXPECT_EQ(FileEntries(state_, {}, Extensions({"mp3", "ogg"})),
            (TextList{"D:\\Music\\.hidden.mp3", "D:\\Music\\big.mp3", "D:\\Music\\Loud.MP3",
                      "D:\\Music\\My.mp3.Song.mp3", "D:\\Music\\other.ogg", "D:\\Music\\Song.mp3"}));
  EXPECT_EQ(FileEntries(state_, {}, SplitExtensions("mp3:MP3")).size(), 5u);
  EXPECT_TRUE(FileEntries(state_, {}, SplitExtensions(":")).empty());
  EXPECT_EQ(FileEntries(state_, {}, SplitExtensions("::")), TextList{"D:\\Music\\NOEXT"});
  EXPECT_EQ(FileEntries(state_, {}, SplitExtensions("*")).size(), 8u);  // a wildcard extension, folders excluded
  state_.useFullPath = true;
  state_.additionalFolders = {"E:\\Audio"};
  EXPECT_EQ(FileEntries(state_, {}, SplitExtensions("jpg:mp3")).back(), "E:\\Audio\\e.mp3");
}

TEST_F(Listing, AFolderThatCannotBeUsedListsNothing) {
  state_.current.clear();
  EXPECT_TRUE(DirectoryEntries(state_, {}).empty());
  EXPECT_TRUE(FileEntries(state_, {}, Extensions({"mp3"})).empty());
  state_.current = "D:\\Missing";
  EXPECT_TRUE(DirectoryEntries(state_, {}).empty());
  EXPECT_TRUE(FileEntries(state_, {}, Extensions({"mp3"})).empty());
}

TEST_F(Listing, SearchResultsReplaceTheFolderContents) {
  const TextList cache{"D:\\Music\\Rock\\b.mp3", "D:\\Music\\Rock\\a.mp3", "E:\\Audio\\Bock\\rock.mp3",
                       "D:\\Other\\rock.mp3"};
  state_.searchText = "ROCK";
  state_.searchDepth = SearchDepth::AllLevels;
  EXPECT_TRUE(DirectoryEntries(state_, cache).empty());  // folders not searched for
  EXPECT_TRUE(FileEntries(state_, cache, Extensions({"mp3"})).empty());
  state_.searchForDirectories = state_.searchForFiles = true;
  EXPECT_EQ(DirectoryEntries(state_, cache), TextList{"D:\\Music\\Rock"});
  state_.useFullPath = true;
  state_.additionalFolders = {"E:\\Audio"};
  state_.searchText = "b";  // files sorted, folders in cache order
  EXPECT_EQ(FileEntries(state_, cache, Extensions({"ogg"})), TextList{"D:\\Music\\Rock\\b.mp3"});
  state_.searchText = "ock";
  EXPECT_EQ(DirectoryEntries(state_, cache), (TextList{"D:\\Music\\Rock", "E:\\Audio\\Bock"}));
  state_.searchDepth = SearchDepth::DirectContent;
  state_.searchText = "b";
  EXPECT_EQ(DirectoryEntries(state_, cache), (TextList{"E:\\Audio\\Bock"}));
}

TEST_F(Listing, DisplayNamesAreNamesOrPathsBelowTheSearchedFolder) {
  EXPECT_EQ(DisplayName(state_, EntryKind::Folder, "D:\\Music\\.."), "..");
  EXPECT_EQ(DisplayName(state_, EntryKind::File, "D:\\Music\\Rock\\a.mp3"), "a.mp3");
  state_.searchText = "a";
  state_.searchForFiles = true;
  state_.additionalFolders = {"E:\\Audio", "E:\\Audio\\Sub"};
  EXPECT_EQ(DisplayName(state_, EntryKind::File, "D:\\Music\\Rock\\a.mp3"), "Rock\\a.mp3");
  EXPECT_EQ(DisplayName(state_, EntryKind::File, "E:\\Audio\\Sub\\a.mp3"), "a.mp3");  // the last folder wins
  EXPECT_EQ(DisplayName(state_, EntryKind::File, "F:\\a.mp3"), "");
  EXPECT_EQ(DisplayName(state_, EntryKind::Folder, "D:\\Music\\Rock\\Live"), "Live");  // folders not searched
}

TEST_F(Listing, FormValuesFollowFullPathsAndTheSearch) {
  struct Case {
    bool useFullPath;
    bool searching;
    EntryKind kind;
    const char* entry;
    const char* expected;
  };
  const Case cases[] = {
      {true, false, EntryKind::Folder, "D:\\Music\\..", "D:"},
      {true, false, EntryKind::Folder, "D:\\Music\\a..b", "D:"},
      {true, false, EntryKind::Folder, "D:\\Music\\Rock", "D:\\Music\\Rock"},
      {true, true, EntryKind::File, "D:\\Music\\Rock\\a.mp3", "D:\\Music\\Rock\\a.mp3"},
      {false, false, EntryKind::Folder, "D:\\Music\\..", ".."},
      {false, false, EntryKind::File, "D:\\Music\\Rock\\a.mp3", "a.mp3"},
      {false, true, EntryKind::File, "D:\\Music\\Rock\\a.mp3", "Rock\\a.mp3"},
      {false, true, EntryKind::Folder, "D:\\Music\\Rock\\Live", "Rock\\Live"},
  };
  for (const Case& c : cases) {
    state_.useFullPath = c.useFullPath;
    state_.searchText = c.searching ? "x" : "";
    state_.searchForDirectories = state_.searchForFiles = c.searching;
    EXPECT_EQ(FormValue(state_, c.kind, c.entry), c.expected) << c.entry << " full paths " << c.useFullPath;
  }
  state_.useFullPath = false;
  state_.searchText = "x";
  state_.searchForFiles = false;
  EXPECT_EQ(FileFormValue(state_, "D:\\Music\\Rock\\a.mp3"), "a.mp3");
}

TEST_F(Listing, FileSizeIsReadFromTheFile) {
  EXPECT_EQ(FileSizeText("D:\\Music\\big.mp3"), "2.86");
  EXPECT_EQ(FileSizeText("D:\\Music\\missing.mp3"), "0.00");
  EXPECT_EQ(FileSizeText("D:\\Music\\Rock"), "0.00");
}

}  // namespace
}  // namespace qf
