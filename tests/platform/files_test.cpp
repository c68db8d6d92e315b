#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class DriveMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emulation::UnmapAllDrives();
    emulation::MapDrive('C', (folder_.Path() / "c").string());
    emulation::MapDrive('d', (folder_.Path() / "d").string(), "Music");
    qftest::WriteFile(folder_.Path() / "c/Program Files/Winamp/Plugins/quenforth/base/index.html", "index");
    qftest::WriteFile(folder_.Path() / "c/Program Files/Winamp/Plugins/quenforth/quenforth.ini", "[Setup]");
    qftest::WriteFile(folder_.Path() / "d/Rock/Song.MP3", "mp3");
    qftest::WriteFile(folder_.Path() / "d/Rock/.hidden.mp3", "hidden");
    qftest::WriteFile(folder_.Path() / "d/Rock/README", "no extension");
    qftest::WriteFile(folder_.Path() / "d/Rock/cover.jpg", "jpg");
    fs::create_directories(folder_.Path() / "d/Rock/Live");
  }
  void TearDown() override {
    emulation::SetWriteBudget(std::nullopt);
    emulation::UnmapAllDrives();
  }

  std::vector<std::string> Names(const std::string& pattern) {
    std::vector<std::string> names;
    for (const FindData& entry : FindFiles(pattern)) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }

  qftest::TempFolder folder_;
};

TEST_F(DriveMapTest, ComponentsMatchExactlyFirstThenWithoutCase) {
  EXPECT_TRUE(FileExists("C:\\Program Files\\Winamp\\Plugins\\quenforth\\base\\index.html"));
  EXPECT_TRUE(FileExists("c:\\PROGRAM FILES\\winamp\\plugins\\QUENFORTH\\Base\\INDEX.HTML"));
  EXPECT_TRUE(FileExists("D:/Rock/song.mp3"));
  EXPECT_EQ(emulation::HostPath("D:\\ROCK\\song.mp3"), (folder_.Path() / "d/Rock/Song.MP3").string());
  // A name that does not exist keeps its spelling (a file about to be created).
  EXPECT_EQ(emulation::HostPath("D:\\rock\\New.mp3"), (folder_.Path() / "d/Rock/New.mp3").string());
  EXPECT_FALSE(FileExists("D:\\Rock"));  // a folder, not a file
  EXPECT_TRUE(DirectoryExists("D:\\rock"));
  EXPECT_TRUE(DirectoryExists("D:"));
  EXPECT_TRUE(DirectoryExists("D:\\"));
}

TEST_F(DriveMapTest, DotDotNeverClimbsAboveTheDriveRoot) {
  EXPECT_EQ(emulation::HostPath("D:\\..\\..\\Rock\\Song.MP3"), (folder_.Path() / "d/Rock/Song.MP3").string());
  EXPECT_EQ(emulation::HostPath("D:\\Rock\\..\\..\\..\\etc\\passwd"), (folder_.Path() / "d/etc/passwd").string());
  EXPECT_FALSE(FileExists("C:\\..\\d\\Rock\\Song.MP3"));
  EXPECT_TRUE(FileExists("D:\\Rock\\.\\Live\\..\\Song.MP3"));
}

TEST_F(DriveMapTest, UnmappedDrivesAndOtherFormsDoNotExist) {
  EXPECT_FALSE(emulation::HostPath("E:\\x"));
  EXPECT_FALSE(DirectoryExists("E:\\"));
  EXPECT_FALSE(emulation::HostPath("\\\\server\\share\\x"));
  EXPECT_FALSE(emulation::HostPath("Rock\\Song.MP3"));
  EXPECT_FALSE(emulation::HostPath("D:Rock"));
  EXPECT_FALSE(emulation::HostPath(std::string("D:\\Rock\0x", 10)));
  EXPECT_TRUE(FindFiles("E:\\*.*").empty());
  EXPECT_FALSE(File::Open("E:\\a.txt", File::Mode::CreateAlways).IsOpen());
}

TEST_F(DriveMapTest, EnumerationFollowsWindowsWildcards) {
  EXPECT_EQ(Names("D:\\Rock\\*.mp3"), (std::vector<std::string>{".hidden.mp3", "Song.MP3"}));
  EXPECT_EQ(Names("D:\\Rock\\*."), (std::vector<std::string>{"Live", "README"}));
  EXPECT_EQ(Names("D:\\Rock\\*.*"),
            (std::vector<std::string>{".", "..", ".hidden.mp3", "Live", "README", "Song.MP3", "cover.jpg"}));
  EXPECT_EQ(Names("D:\\rock\\s?ng.*"), (std::vector<std::string>{"Song.MP3"}));
  // A drive's root has no "." and "..".
  EXPECT_EQ(Names("D:\\*"), (std::vector<std::string>{"Rock"}));
}

TEST_F(DriveMapTest, EnumerationReportsAttributes) {
  for (const FindData& entry : FindFiles("D:\\Rock\\*")) {
    if (entry.name == ".hidden.mp3") {
      EXPECT_TRUE(entry.info.attributes & FILE_ATTRIBUTE_HIDDEN);
    } else if (entry.name == "Live") {
      EXPECT_TRUE(entry.info.IsDirectory());
    } else if (entry.name == "Song.MP3") {
      EXPECT_EQ(entry.info.size, 3u);
    }
  }
}

TEST_F(DriveMapTest, EnumerationMarksLinksWithWhatTheyPointTo) {
  fs::create_directory_symlink(folder_.Path() / "d/Rock/Live", folder_.Path() / "d/Rock/LiveLink");
  fs::create_symlink(folder_.Path() / "d/Rock/Song.MP3", folder_.Path() / "d/Rock/SongLink.mp3");
  fs::create_symlink(folder_.Path() / "d/Rock/gone.mp3", folder_.Path() / "d/Rock/Dangling.mp3");
  std::map<std::string, FileInfo> entries;
  for (const FindData& entry : FindFiles("D:\\Rock\\*")) entries[entry.name] = entry.info;
  ASSERT_TRUE(entries.count("LiveLink"));
  EXPECT_TRUE(entries["LiveLink"].IsDirectory());
  EXPECT_TRUE(entries["LiveLink"].IsLink());
  ASSERT_TRUE(entries.count("SongLink.mp3"));
  EXPECT_FALSE(entries["SongLink.mp3"].IsDirectory());
  EXPECT_TRUE(entries["SongLink.mp3"].IsLink());
  EXPECT_EQ(entries["SongLink.mp3"].size, 3u);  // the target's
  EXPECT_FALSE(entries["Live"].IsLink());
  EXPECT_FALSE(entries["Song.MP3"].IsLink());
  EXPECT_FALSE(entries.count("Dangling.mp3"));
}

TEST(Wildcard, WindowsRules) {
  struct Case {
    const char* mask;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.mp3", "a.mp3", true},  {"*.mp3", "a.MP3", true},       {"*.mp3", "a.mp3x", false}, {"*.mp3", ".mp3", true},
      {"*.", "README", true},    {"*.", "a.txt", false},         {"*.*", "README", true},    {"*", "anything.x", true},
      {"a*.*", "abc", true},     {"a?c", "abc", true},           {"a?c", "ac", false},       {"*b*", "abc", true},
      {"x*.txt", "x.txt", true}, {"*.tar.gz", "a.tar.gz", true}, {"abc.", "abc", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesWildcard(c.mask, c.name), c.matches) << c.mask << " " << c.name;
}

TEST_F(DriveMapTest, FilesReadWriteAndReplace) {
  ASSERT_TRUE(WriteFileReplacing("D:\\Rock\\list.m3u", "#EXTM3U\r\n"));
  EXPECT_EQ(ReadWholeFile("d:\\rock\\LIST.m3u"), "#EXTM3U\r\n");
  ASSERT_TRUE(WriteFileReplacing("D:\\Rock\\list.m3u", "second"));
  EXPECT_EQ(ReadWholeFile("D:\\Rock\\list.m3u"), "second");
  EXPECT_TRUE(CopyFileA("D:\\Rock\\list.m3u", "D:\\Rock\\copy.m3u", true));
  EXPECT_FALSE(CopyFileA("D:\\Rock\\list.m3u", "D:\\Rock\\copy.m3u", true));
  EXPECT_TRUE(DeleteFileA("D:\\Rock\\copy.m3u"));
  EXPECT_FALSE(DeleteFileA("D:\\Rock\\Live"));  // a folder is no file
  EXPECT_TRUE(CreateDirectoryA("D:\\Rock\\New"));
  EXPECT_TRUE(RemoveDirectoryA("D:\\Rock\\new"));
  EXPECT_FALSE(File::Open("D:\\Rock\\Live", File::Mode::Read).IsOpen());

  File append = File::Open("D:\\Rock\\log.txt", File::Mode::Append);
  ASSERT_TRUE(append.IsOpen());
  append.Write("a");
  append.Close();
  append = File::Open("D:\\Rock\\log.txt", File::Mode::Append);
  append.Write("b");
  append.Close();
  EXPECT_EQ(ReadWholeFile("D:\\Rock\\log.txt"), "ab");
}

TEST_F(DriveMapTest, AFullDiskFailsTheWriteThatCrossesItAndKeepsTheReplacedFile) {
  ASSERT_TRUE(WriteFileReplacing("D:\\Rock\\list.m3u", "previous"));
  emulation::SetWriteBudget(5);
  File file = File::Open("D:\\Rock\\part.txt", File::Mode::CreateAlways);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_TRUE(file.Write("abc"));
  EXPECT_FALSE(file.Write("defg"));  // "de" fits, then the disk is full
  EXPECT_FALSE(file.Write("h"));
  file.Close();
  EXPECT_EQ(ReadWholeFile("D:\\Rock\\part.txt"), "abcde");
  EXPECT_FALSE(WriteFileReplacing("D:\\Rock\\list.m3u", "the new contents"));
  emulation::SetWriteBudget(std::nullopt);
  EXPECT_EQ(ReadWholeFile("D:\\Rock\\list.m3u"), "previous");
  EXPECT_EQ(Names("D:\\Rock\\list*"), std::vector<std::string>{"list.m3u"});  // no temporary file is left
  EXPECT_TRUE(WriteFileReplacing("D:\\Rock\\list.m3u", "the new contents"));
  EXPECT_EQ(ReadWholeFile("D:\\Rock\\list.m3u"), "the new contents");
}

TEST_F(DriveMapTest, NewFilesAndMovesNeverReplaceWhatExists) {
  File created = File::Open("D:\\Rock\\new.bin", File::Mode::CreateNew);
  ASSERT_TRUE(created.IsOpen());
  created.Write("new");
  created.Close();
  EXPECT_FALSE(File::Open("D:\\Rock\\new.bin", File::Mode::CreateNew).IsOpen());
  EXPECT_FALSE(File::Open("d:\\rock\\SONG.mp3", File::Mode::CreateNew).IsOpen());
  EXPECT_EQ(ReadWholeFile("D:\\Rock\\Song.MP3"), "mp3");

  EXPECT_FALSE(MoveFileNoReplace("D:\\Rock\\new.bin", "D:\\Rock\\Song.MP3"));
  EXPECT_FALSE(MoveFileNoReplace("D:\\Rock\\new.bin", "D:\\ROCK\\song.mp3"));
  EXPECT_FALSE(MoveFileNoReplace("D:\\Rock\\new.bin", "D:\\Rock\\Live"));
  EXPECT_FALSE(MoveFileNoReplace("D:\\Rock\\missing.bin", "D:\\Rock\\other.bin"));
  EXPECT_EQ(ReadWholeFile("D:\\Rock\\Song.MP3"), "mp3");
  EXPECT_TRUE(MoveFileNoReplace("D:\\Rock\\new.bin", "D:\\Rock\\Live\\moved.bin"));
  EXPECT_FALSE(FileExists("D:\\Rock\\new.bin"));
  EXPECT_EQ(ReadWholeFile("D:\\Rock\\Live\\moved.bin"), "new");
}

TEST_F(DriveMapTest, WholeFilesLargerThanTheLimitAreNotRead) {
  // Sparse: no disk space and no memory for the bytes that are never read.
  qftest::WriteFile(folder_.Path() / "d/huge.bin", "x");
  fs::resize_file(folder_.Path() / "d/huge.bin", kMaxWholeFile + 1);
  EXPECT_FALSE(ReadWholeFile("D:\\huge.bin"));
}

TEST(TemporaryFile, IsPrivateScratchSpace) {
  File scratch = File::CreateTemporary();
  ASSERT_TRUE(scratch.IsOpen());
  ASSERT_TRUE(scratch.Write("hello world"));
  ASSERT_TRUE(scratch.Seek(6));
  char buffer[5];
  EXPECT_EQ(scratch.Read(buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(scratch.Size(), 11u);
}

}  // namespace
}  // namespace platform
