// The file cache: the scan order on a real tree, links never followed, the folders it covers, the swap of
// a finished list, and the thread's start and stop.

#include "browse/cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "browse/extensionmatcher.h"
#include "core/quenforth.h"
#include "platform/files.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;

// The extensions as the settings build them from "m3u:mp3:ogg::" with links enabled.
SortedTextList Extensions() {
  SortedTextList extensions;
  for (const char* extension : {"m3u", "mp3", "ogg", ""}) {
    extensions.Add(extension);
    extensions.Add(std::string(extension) + ".lnk");
  }
  return extensions;
}

// The scan written the slow way: every folder enumerated once for its subfolders and once per extension.
void ScanOnePatternAtATime(const std::string& folder, const SortedTextList& extensions, TextList& files) {
  for (const platform::FindData& entry : platform::FindFiles(folder + "\\*"))
    if (entry.info.IsDirectory() && entry.name != "." && entry.name != ".." && !entry.info.IsLink())
      ScanOnePatternAtATime(folder + "\\" + entry.name, extensions, files);
  for (const std::string& extension : extensions)
    for (const platform::FindData& entry : platform::FindFiles(folder + "\\*." + extension))
      if (!entry.info.IsDirectory()) files.push_back(folder + "\\" + entry.name);
}

std::ptrdiff_t PositionOf(const TextList& files, const std::string& path) {
  auto found = std::find(files.begin(), files.end(), path);
  return found == files.end() ? -1 : found - files.begin();
}

TextList Sorted(TextList files) {
  std::sort(files.begin(), files.end());
  return files;
}

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::emulation::UnmapAllDrives();
    platform::emulation::MapDrive('D', Drive().string());
    for (const char* file :
         {"Music/top.mp3", "Music/top.ogg", "Music/Top2.MP3", "Music/link.mp3.lnk", "Music/README", "Music/notes.txt",
          "Music/.hidden.mp3", "Music/list.m3u", "Music/Rock/r.mp3", "Music/Rock/r.ogg", "Music/Rock/Live/l.mp3",
          "Music/Empty/cover.jpg", "Music/.Hidden Folder/h.mp3"})
      qftest::WriteFile(Drive() / file, "x");
    core_.MusicExtensions.Set(std::make_shared<const SortedTextList>(Extensions()));
    UseFolders("D:\\Music", {});
  }
  void TearDown() override { platform::emulation::UnmapAllDrives(); }

  fs::path Drive() const { return folder_.Path() / "d"; }
  void UseFolders(const std::string& root, const TextList& additional) {
    Settings settings;
    settings.RootDirectory = root;
    settings.AdditionalFolders = additional;
    core_.CurrentSettings.Set(std::make_shared<const Settings>(settings));
  }
  TextList Scan(const std::string& folder) {
    PackedTextList files;
    EXPECT_TRUE(ScanFolder(
        folder, ExtensionMatcher(Extensions().Items()), [] { return false; }, files));
    return files.ToTextList();
  }
  // Waits for the cache thread to finish the rebuild that was asked for.
  void WaitForRebuild() {
    for (int i = 0; i < 60000 && core_.CacheRefreshPending; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(core_.CacheRefreshPending);
  }

  qftest::TempFolder folder_;
  TQuenforth core_;
};

TEST_F(CacheTest, ScanListsDeepestFoldersFirstAndEachFoldersFilesByExtension) {
  TextList files = Scan("D:\\Music");
  TextList expected;
  ScanOnePatternAtATime("D:\\Music", Extensions(), expected);
  EXPECT_EQ(files, expected);
  EXPECT_EQ(Sorted(files),
            Sorted({"D:\\Music\\top.mp3", "D:\\Music\\top.ogg", "D:\\Music\\Top2.MP3", "D:\\Music\\link.mp3.lnk",
                    "D:\\Music\\README", "D:\\Music\\.hidden.mp3", "D:\\Music\\list.m3u", "D:\\Music\\Rock\\r.mp3",
                    "D:\\Music\\Rock\\r.ogg", "D:\\Music\\Rock\\Live\\l.mp3", "D:\\Music\\.Hidden Folder\\h.mp3"}));
  // A folder after its subfolders; its own files grouped in the extensions' order ("", m3u, mp3, mp3.lnk, ogg).
  const char* inOrder[] = {
      "D:\\Music\\Rock\\Live\\l.mp3", "D:\\Music\\Rock\\r.mp3", "D:\\Music\\Rock\\r.ogg",  "D:\\Music\\README",
      "D:\\Music\\list.m3u",          "D:\\Music\\top.mp3",     "D:\\Music\\link.mp3.lnk", "D:\\Music\\top.ogg"};
  for (std::size_t i = 1; i < std::size(inOrder); ++i)
    EXPECT_LT(PositionOf(files, inOrder[i - 1]), PositionOf(files, inOrder[i])) << inOrder[i];
  EXPECT_LT(PositionOf(files, "D:\\Music\\Top2.MP3"), PositionOf(files, "D:\\Music\\link.mp3.lnk"));
  EXPECT_LT(PositionOf(files, "D:\\Music\\.hidden.mp3"), PositionOf(files, "D:\\Music\\link.mp3.lnk"));
}

TEST_F(CacheTest, ADriveRootGivesPathsWithOneDelimiter) {
  TextList files = Scan("D:\\");
  EXPECT_NE(PositionOf(files, "D:\\Music\\top.mp3"), -1);
  EXPECT_NE(PositionOf(files, "D:\\Music\\Rock\\Live\\l.mp3"), -1);
}

TEST_F(CacheTest, LinksToFoldersAreNotFollowedAndALoopEnds) {
  qftest::WriteFile(Drive() / "Loop/b.mp3", "x");
  qftest::WriteFile(Drive() / "Loop/A/a.mp3", "x");
  fs::create_directory_symlink(Drive() / "Loop", Drive() / "Loop/A/up");
  fs::create_directory_symlink(Drive() / "Loop/A", Drive() / "Loop/A/self");
  fs::create_directory_symlink(Drive() / "Music", Drive() / "Loop/music");
  EXPECT_EQ(Sorted(Scan("D:\\Loop")), Sorted({"D:\\Loop\\b.mp3", "D:\\Loop\\A\\a.mp3"}));
}

TEST_F(CacheTest, AFolderWithoutPlayableFilesAddsNothing) {
  EXPECT_TRUE(Scan("D:\\Music\\Empty").empty());
  EXPECT_TRUE(Scan("D:\\Nowhere").empty());
  EXPECT_TRUE(Scan("").empty());
}

TEST_F(CacheTest, RebuildCoversTheRootThenEachAdditionalFolderInOrder) {
  qftest::WriteFile(Drive() / "Extra/e.mp3", "x");
  UseFolders("D:\\Music", {"D:\\Extra", "", "D:\\Gone", "D:\\Music\\Rock"});
  core_.CacheRefreshPending = true;
  core_.CacheAgeTicks = 17;
  TCache cache(core_);
  ASSERT_TRUE(cache.Rebuild());
  TextList files = core_.FileCache.Get()->ToTextList();
  TextList expected = Scan("D:\\Music");
  expected.push_back("D:\\Extra\\e.mp3");
  for (const std::string& file : Scan("D:\\Music\\Rock")) expected.push_back(file);
  EXPECT_EQ(files, expected);
  EXPECT_EQ(std::count(files.begin(), files.end(), "D:\\Music\\Rock\\r.mp3"), 2);  // inside the root too
  EXPECT_FALSE(core_.CacheRefreshPending);
  EXPECT_EQ(core_.CacheAgeTicks, 0);
}

TEST_F(CacheTest, AMissingRootContributesNothingAndTheRebuildStillEnds) {
  UseFolders("D:\\Nothing", {});
  core_.FileCache.Set(std::make_shared<const PackedTextList>(PackedTextList{"D:\\Music\\top.mp3"}));
  core_.CacheRefreshPending = true;
  core_.CacheAgeTicks = 3;
  TCache cache(core_);
  EXPECT_TRUE(cache.Rebuild());
  EXPECT_TRUE(core_.FileCache.Get()->empty());
  EXPECT_FALSE(core_.CacheRefreshPending);
  EXPECT_EQ(core_.CacheAgeTicks, 0);
}

TEST_F(CacheTest, AReaderKeepsTheListItTookWhileARebuildSwapsInANewOne) {
  TCache cache(core_);
  ASSERT_TRUE(cache.Rebuild());
  Snapshot<PackedTextList> before = core_.FileCache.Get();
  const PackedTextList seen = *before;
  qftest::WriteFile(Drive() / "Music/new.mp3", "x");
  ASSERT_TRUE(cache.Rebuild());
  EXPECT_EQ(*before, seen);
  EXPECT_NE(core_.FileCache.Get(), before);
  EXPECT_EQ(core_.FileCache.Get()->size(), seen.size() + 1);
}

TEST_F(CacheTest, AStopBetweenFoldersEndsTheScanAndDropsTheList) {
  int asked = 0;
  PackedTextList files;
  EXPECT_FALSE(ScanFolder(
      "D:\\Music", ExtensionMatcher(Extensions().Items()), [&] { return ++asked == 2; }, files));
  EXPECT_EQ(asked, 2);

  core_.FileCache.Set(std::make_shared<const PackedTextList>(PackedTextList{"old"}));
  core_.CacheRefreshPending = true;
  TCache cache(core_);
  cache.Stop();
  EXPECT_FALSE(cache.Rebuild());
  EXPECT_EQ(*core_.FileCache.Get(), TextList{"old"});
  EXPECT_TRUE(core_.CacheRefreshPending);
}

TEST_F(CacheTest, TheThreadRebuildsEachTimeItIsAsked) {
  TCache cache(core_);
  cache.Start();
  core_.CacheRefreshPending = true;
  WaitForRebuild();
  EXPECT_EQ(*core_.FileCache.Get(), Scan("D:\\Music"));
  qftest::WriteFile(Drive() / "Music/Rock/later.mp3", "x");
  core_.CacheRefreshPending = true;
  WaitForRebuild();
  EXPECT_NE(PositionOf(core_.FileCache.Get()->ToTextList(), "D:\\Music\\Rock\\later.mp3"), -1);
  cache.Stop();
}

TEST_F(CacheTest, StopDuringARebuildOfABigTreeReturns) {
  for (int i = 0; i < 300; ++i)
    qftest::WriteFile(Drive() / ("Big/f" + std::to_string(i / 20) + "/g" + std::to_string(i) + "/s.mp3"), "x");
  UseFolders("D:\\Big", {});
  core_.CacheRefreshPending = true;
  TCache cache(core_);
  cache.Start();
  cache.Stop();
  cache.Stop();  // a second stop has nothing left to do
  // Whether the stop came before the end or not, no half-built list was swapped in.
  std::size_t cached = core_.FileCache.Get()->size();
  if (core_.CacheRefreshPending)
    EXPECT_EQ(cached, 0u);
  else
    EXPECT_EQ(cached, 300u);
}

}  // namespace
}  // namespace qf
