// The folder browser over HTTP against quenforth: a music tree on mapped drives, a page with every
// browser tag, and the folder commands moving the shared current folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::Encoded;
using qftest::Get;
using qftest::QuenforthProcess;

constexpr char kBrowsePage[] =
    "Current=<#CurrentBrowserDirectory>\n"
    "Drives=<#browser_drives template=drive.html>\n"
    "Dirs=<#browser_directories template=dir.html>\n"
    "Files=<#browser_files template=file.html>\n"
    "Mp3=<#browser_files template=file.html extension=mp3:MP3>\n"
    "None=<#browser_files template=file.html extension=:>\n"
    "Search=<#search_files_string>\n"
    "Missing=<#browser_directories template=missing.html>\n";

std::map<std::string, std::string> Fields(const std::string& page) {
  std::map<std::string, std::string> fields;
  std::size_t start = 0;
  while (start < page.size()) {
    std::size_t end = page.find('\n', start);
    if (end == std::string::npos) end = page.size();
    std::string line = page.substr(start, end - start);
    if (std::size_t equals = line.find('='); equals != std::string::npos)
      fields[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return fields;
}

class BrowseTest : public ::testing::Test {
 protected:
  // Starts the player with D: (Music) and E: (Backup) and these [Setup] lines after the common ones.
  void Start(const std::string& setup) {
    for (const char* folder : {"Music/Rock/Live", "Music/Jazz", "Music/a..b", "Music2"})
      fs::create_directories(driveD_.Path() / folder);
    for (const char* file :
         {"Music/Rock/a.mp3", "Music/Rock/Live/b.mp3", "Music/Jazz/c.mp3", "Music/Song.mp3", "Music/My.mp3.Song.mp3",
          "Music/other.ogg", "Music/cover.jpg", "Music/Tom & Jerry's 100%+.mp3", "Music2/x.mp3"})
      qftest::WriteFile(driveD_.Path() / file, "x");
    qftest::WriteFile(driveD_.Path() / "Music/big.mp3", std::string(3'000'000, 'x'));
    fs::create_directories(driveE_.Path() / "Audio/Sub");
    qftest::WriteFile(driveE_.Path() / "Audio/e.mp3", "x");
    quenforth_ = std::make_unique<QuenforthProcess>(
        [&](const fs::path& data) {
          qftest::WriteFile(data / "quenforth.ini",
                            "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\nRootDirectory=D:\\Music\r\n"
                            "CurrentDirectory=D:\\Music\r\n" +
                                setup);
          qftest::WriteFile(data / "base/browse.html", kBrowsePage);
          qftest::WriteFile(data / "base/drive.html", "[<#browser_drivename>|<#browser_enc_drivename>]");
          qftest::WriteFile(data / "base/dir.html",
                            "[<#browser_directoryname>|<#browser_form_directoryname>|<#browser_enc_directoryname>]");
          qftest::WriteFile(data / "base/file.html",
                            "[<#browser_filename>|<#browser_filename hideextension=1>|<#browser_form_filename>|"
                            "<#browser_enc_filename>|<#browser_filesize>]");
        },
        std::vector<std::string>{"--drive", "D=" + driveD_.Path().string() + ":Music", "--drive",
                                 "E=" + driveE_.Path().string() + ":Backup"});
  }

  std::map<std::string, std::string> Browse(const std::string& query = "") {
    auto response = Get(quenforth_->Port(), "/browse.html" + query);
    EXPECT_TRUE(response);
    EXPECT_EQ(response ? response->status : 0, 200);
    return Fields(response ? response->body : "");
  }
  std::string Current(const std::string& query = "") { return Browse(query)["Current"]; }

  qftest::TempFolder driveD_;
  qftest::TempFolder driveE_;
  std::unique_ptr<QuenforthProcess> quenforth_;
};

TEST_F(BrowseTest, TheParentOfTheRootIsRefusedUnlessBrowsingAboveIt) {
  Start("useFullPath=0\r\n");
  EXPECT_EQ(Current("?dir=.."), "D:\\Music");
  quenforth_.reset();
  Start("useFullPath=0\r\nallowBrowseAboveRoot=1\r\n");
  EXPECT_EQ(Current("?dir=.."), "D:");
  EXPECT_EQ(Browse()["Dirs"], "[Music|Music|Music][Music2|Music2|Music2]");
}

TEST_F(BrowseTest, DirFollowsThePathRules) {
  Start("useFullPath=0\r\nAdditionalFolder=E:\\Audio;\r\n");
  EXPECT_EQ(Current("?dir=" + Encoded("D:\\Music2")), "D:\\Music2");  // d:\music2 contains d:\music
  EXPECT_EQ(Current("?home"), "D:\\Music");
  EXPECT_EQ(Current("?dir=" + Encoded("Rock\\")), "D:\\Music\\Rock");
  EXPECT_EQ(Current("?dir=" + Encoded("Rock/../..")), "D:\\Music\\Rock");
  EXPECT_EQ(Current("?dir=" + Encoded("..\\x")), "D:\\Music\\Rock");
  EXPECT_EQ(Current("?dir=" + Encoded("Live.lnk")), "D:\\Music\\Rock");
  EXPECT_EQ(Current("?dir=" + Encoded("C:\\Program Files")), "D:\\Music");  // outside: back to the root
  EXPECT_EQ(Current("?dir=" + Encoded("E:\\Audio")), "E:\\Audio");          // an additional folder
  EXPECT_EQ(Current("?drive=" + Encoded("E: (Backup)")), "D:\\Music");      // E: itself is in no allowed folder
  EXPECT_EQ(Current("?dir=" + Encoded("D:\\Music\\Jazz") + "&drive=" + Encoded("D: (Music)")), "D:\\Music");
}

TEST_F(BrowseTest, DrivesAreListedWithLabelsWhenShown) {
  Start("displayDrives=1\r\nallowBrowseAboveRoot=1\r\n");
  std::string drives = Browse()["Drives"];
  EXPECT_NE(drives.find("[D: (Music)|D%3a+(Music)][E: (Backup)|E%3a+(Backup)]"), std::string::npos) << drives;
  EXPECT_EQ(drives.find("[A:"), std::string::npos);
  EXPECT_EQ(Current("?drive=" + Encoded("E: (Backup)")), "E:");
  EXPECT_EQ(Browse("?search_files_string=x")["Drives"], "");  // no drives during a search
}

TEST_F(BrowseTest, NoDrivesUnlessShown) {
  Start("");
  EXPECT_EQ(Browse()["Drives"], "");
  EXPECT_EQ(Current("?drive=" + Encoded("E: (Backup)")), "D:\\Music");
}

TEST_F(BrowseTest, ListingsWithNamesOnly) {
  Start("useFullPath=0\r\nAdditionalFolder=E:\\Audio;\r\n");
  auto fields = Browse();
  EXPECT_EQ(fields["Current"], "D:\\Music");
  EXPECT_EQ(fields["Dirs"], "[..|..|..][a..b|a..b|a..b][Jazz|Jazz|Jazz][Rock|Rock|Rock]");
  EXPECT_EQ(fields["Mp3"],
            "[big.mp3|big|big.mp3|big.mp3|2.86]"
            "[My.mp3.Song.mp3|My|My.mp3.Song.mp3|My.mp3.Song.mp3|0.00]"
            "[Song.mp3|Song|Song.mp3|Song.mp3|0.00]"
            "[Tom & Jerry's 100%+.mp3|Tom & Jerry's 100%+|Tom & Jerry's 100%+.mp3|Tom+%26+Jerry's+100%25%2b.mp3|0.00]");
  EXPECT_NE(fields["Files"].find("[other.ogg|other|"), std::string::npos);
  EXPECT_EQ(fields["Files"].find("cover.jpg"), std::string::npos);
  EXPECT_EQ(fields["None"], "");
  EXPECT_EQ(fields["Missing"].rfind("<font color=\"ff0000\">browser_directories: template '<i>", 0), 0u)
      << fields["Missing"];
}

TEST_F(BrowseTest, ListingsWithFullPathsAddTheAdditionalFoldersAtTheRoot) {
  Start("useFullPath=1\r\nAdditionalFolder=E:\\Audio;\r\n");
  auto fields = Browse();
  EXPECT_EQ(fields["Dirs"],
            "[..|D:|D%3a][a..b|D:|D%3a][Jazz|D:\\Music\\Jazz|D%3a%5cMusic%5cJazz]"
            "[Rock|D:\\Music\\Rock|D%3a%5cMusic%5cRock][Sub|E:\\Audio\\Sub|E%3a%5cAudio%5cSub]");
  EXPECT_EQ(fields["Mp3"].rfind("[big.mp3|big|D:\\Music\\big.mp3|D%3a%5cMusic%5cbig.mp3|2.86]", 0), 0u);
  EXPECT_NE(fields["Mp3"].find("[e.mp3|e|E:\\Audio\\e.mp3|"), std::string::npos);  // sorted by full path: last
  fields = Browse("?dir=Rock");
  EXPECT_EQ(fields["Dirs"], "[..|D:\\Music|D%3a%5cMusic][Live|D:\\Music\\Rock\\Live|D%3a%5cMusic%5cRock%5cLive]");
  EXPECT_EQ(fields["Mp3"], "[a.mp3|a|D:\\Music\\Rock\\a.mp3|D%3a%5cMusic%5cRock%5ca.mp3|0.00]");
}

TEST_F(BrowseTest, ASearchWithoutItsSwitchesListsNothing) {
  Start("useFullPath=0\r\n");
  auto fields = Browse("?search_files_string=" + Encoded("Ro\"ck"));
  EXPECT_EQ(fields["Search"], "Ro\"ck");
  EXPECT_EQ(fields["Dirs"], "");
  EXPECT_EQ(fields["Files"], "");
}

// The search reads the file cache, which the cache thread fills after start-up: it waits (bounded) for
// the first scan's results.
TEST_F(BrowseTest, SearchResultsReplaceTheListings) {
  Start("useFullPath=0\r\n");
  const std::string folders = "?search_files_string=rock&search_for_directories=true&search_in_subdirs=true";
  std::map<std::string, std::string> fields;
  for (auto deadline = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < deadline;) {
    fields = Browse(folders);
    if (!fields["Dirs"].empty()) break;
    std::this_thread::sleep_for(200ms);
  }
  // Folder results keep the cache's order: a folder's subfolders are scanned before its own files.
  EXPECT_EQ(fields["Dirs"], "[Rock\\Live|Rock\\Live|Rock%5cLive][Rock|Rock|Rock]");
  EXPECT_EQ(Browse("?search_files_string=live&search_for_directories=true")["Dirs"], "");
  fields = Browse("?search_files_string=mp3&search_for_files=true&dir=Rock");
  EXPECT_EQ(fields["Files"], "[a.mp3|a|a.mp3|a.mp3|0.00]");
  fields = Browse("?search_files_string=b&search_for_files=true&search_in_subdirs=true&home");
  EXPECT_EQ(
      fields["Files"],
      "[big.mp3|big|big.mp3|big.mp3|2.86][Rock\\Live\\b.mp3|Rock\\Live\\b|Rock\\Live\\b.mp3|Rock%5cLive%5cb.mp3|0.00]");
}

}  // namespace
