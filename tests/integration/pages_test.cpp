// Skin pages over HTTP against quenforth and its demo music: the tags show the player's state, commands
// change it, album art goes through the cache, the playlist lists, close closes.

#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include "core/text.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::Get;
using qftest::QuenforthProcess;

// Every tag of the state page, "name=value" per line.
constexpr char kStatePage[] =
    "SongTitle=<#SongTitle>\n"
    "enc_SongTitle=<#enc_SongTitle>\n"
    "Artist=<#Artist>\n"
    "Title=<#Title>\n"
    "Album=<#MetaData field=Album>\n"
    "File=<#CurrentTrackFilename>\n"
    "Directory=<#CurrentTrackDirectory>\n"
    "Rating=<#CurrentFileInfo item=rating>\n"
    "LengthMin=<#SongLengthMin>\n"
    "LengthSec=<#SongLengthSec>\n"
    "TotalSec=<#SongTotalSec>\n"
    "PositionPercent=<#SongPositionPercent>\n"
    "PositionMin=<#SongPositionMin>\n"
    "PositionSec=<#SongPositionSec>\n"
    "RemainMin=<#SongRemainMin>\n"
    "RemainSec=<#SongRemainSec>\n"
    "TotalSecRemain=<#SongTotalSecRemain>\n"
    "Bitrate=<#Bitrate>\n"
    "Samplerate=<#Samplerate>\n"
    "CurrentIndex=<#CurrentIndex>\n"
    "Volume=<#Volume>\n"
    "Balance=<#Balance>\n"
    "EQ3=<#GetEQ band=3>\n"
    "EQx=<#GetEQ band=x>\n"
    "Status=<#Status on_pause=x>\n"
    "Channels=<#Channels number=1>\n"
    "ChannelsText=<#Channels>\n"
    "Shuffle=<#ShuffleState>\n"
    "Repeat=<#RepeatStatus>\n"
    "EQ=<#EQState>\n"
    "Lock=<#LockState>\n"
    "RemovePlayed=<#RemovePlayedState>\n"
    "KeepAlive=<#KeepPlaylistAliveStatus>\n"
    "Album3=<#ID3Info frame=TALB>\n"
    "Art=<#AlbumArt default=none.gif>\n"
    "Time=<#Time format=hh:nn>\n"
    "Date=<#Date format=yyyy>\n"
    "Uptime=<#server_uptime>\n"
    "Random=<#random>\n"
    "PlayerVersion=<#PlayerVersion>\n"
    "QuenforthVersion=<#QuenforthVersion>\n"
    "User=<#CurrentUser>\n"
    "TracksAdded=<#user_tracks_added>\n"
    "Root=<#RootDirectory useslashes=1>\n"
    "Charset=<#Charset>\n"
    "Error=<#errormessage>\n";

std::map<std::string, std::string> Fields(const std::string& page) {
  std::map<std::string, std::string> fields;
  std::size_t start = 0;
  while (start < page.size()) {
    std::size_t end = page.find('\n', start);
    if (end == std::string::npos) end = page.size();
    std::string line = page.substr(start, end - start);
    std::size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return fields;
}

class PagesTest : public ::testing::Test {
 public:
  static std::string Encoded(const std::string& text) {
    std::string encoded;
    for (unsigned char c : text) {
      if (std::isalnum(c) || c == '.' || c == '-' || c == '_')
        encoded += static_cast<char>(c);
      else
        encoded += qf::Format("%%%02X", c);
    }
    return encoded;
  }

 protected:
  void SetUp() override {
    quenforth_ = std::make_unique<QuenforthProcess>([](const fs::path& data) {
      qftest::WriteFile(data / "base/state.html", kStatePage);
      qftest::WriteFile(data / "base/list.html", "<#playlist template=item.html highlight=now.html length=3>");
      qftest::WriteFile(data / "base/item.html", "[<#playlist_index> <#playlist_songtitle>]");
      qftest::WriteFile(data / "base/now.html", "[<#playlist_index> * <#playlist_songtitle>]");
    });
  }

  std::map<std::string, std::string> State(const std::string& query) {
    auto response = Get(quenforth_->Port(), "/state.html" + query);
    EXPECT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    return Fields(response ? response->body : "");
  }

  fs::path Music() const { return quenforth_->Prefix() / "drive_c/Users/Quenforth/Music"; }
  std::string WindowsPath(const fs::path& file) const {
    std::string path = "C:\\Users\\Quenforth\\Music\\" + fs::relative(file, Music()).string();
    for (char& c : path)
      if (c == '/') c = '\\';
    return path;
  }
  fs::path FindTrack(const std::string& title) const {
    for (const auto& entry : fs::recursive_directory_iterator(Music()))
      if (entry.path().filename().string().find(title) != std::string::npos) return entry.path();
    return {};
  }

  std::unique_ptr<QuenforthProcess> quenforth_;
};

TEST_F(PagesTest, StateTagsShowThePlayingTrack) {
  auto fields = State("?play");
  EXPECT_EQ(fields["SongTitle"], "Marisol Vantebrook - Harbourmaster's Waltz");
  EXPECT_EQ(fields["enc_SongTitle"], "Marisol+Vantebrook+-+Harbourmaster's+Waltz");
  EXPECT_EQ(fields["Artist"], "Marisol Vantebrook");
  EXPECT_EQ(fields["Title"], "Harbourmaster's Waltz");
  EXPECT_EQ(fields["Album"], "Paper Lighthouses");
  EXPECT_EQ(fields["Album3"], "Paper Lighthouses");
  EXPECT_EQ(fields["File"],
            "C:\\Users\\Quenforth\\Music\\Marisol Vantebrook\\Paper Lighthouses\\01 Harbourmaster's Waltz.mp3");
  EXPECT_EQ(fields["Directory"], "C:\\Users\\Quenforth\\Music\\Marisol Vantebrook\\Paper Lighthouses");
  EXPECT_EQ(fields["LengthMin"], "03");  // a track of 3 min 5 s
  EXPECT_EQ(fields["LengthSec"], "05");
  EXPECT_EQ(fields["TotalSec"], "185");
  EXPECT_EQ(fields["PositionMin"], "00");
  EXPECT_EQ(fields["RemainMin"], "03");
  EXPECT_EQ(fields["Bitrate"], "32");
  EXPECT_EQ(fields["Samplerate"], "32");
  EXPECT_EQ(fields["CurrentIndex"], "1");
  EXPECT_EQ(fields["EQx"], "");
  EXPECT_EQ(fields["EQ3"], "0");
  EXPECT_EQ(fields["Status"], "play");
  EXPECT_EQ(fields["Channels"], "2");  // a stereo track with number=1
  EXPECT_EQ(fields["ChannelsText"], "stereo");
  EXPECT_EQ(fields["Shuffle"], "off");
  EXPECT_EQ(fields["Repeat"], "off");
  EXPECT_EQ(fields["EQ"], "off");
  EXPECT_EQ(fields["Lock"], "off");
  EXPECT_EQ(fields["RemovePlayed"], "off");
  EXPECT_EQ(fields["KeepAlive"], "off");
  EXPECT_TRUE(std::regex_match(fields["Time"], std::regex("[0-2][0-9]:[0-5][0-9]"))) << fields["Time"];
  EXPECT_TRUE(std::regex_match(fields["Date"], std::regex("20[0-9][0-9]"))) << fields["Date"];
  EXPECT_TRUE(std::regex_match(fields["Uptime"], std::regex("[0-9][0-9]:[0-5][0-9]:[0-5][0-9]")));
  EXPECT_TRUE(std::regex_match(fields["Random"], std::regex("[0-9A-F]{4}")));
  EXPECT_EQ(fields["PlayerVersion"], "5.66");
  EXPECT_EQ(fields["QuenforthVersion"], "Quenforth KV7 (3.0)");
  EXPECT_EQ(fields["User"], "user management disabled");
  EXPECT_EQ(fields["TracksAdded"], "-");
  EXPECT_EQ(fields["Root"], "C:/Program Files/Winamp");
  EXPECT_EQ(fields["Charset"], "iso-8859-1");
  EXPECT_EQ(fields["Error"], "");
}

TEST_F(PagesTest, CommandsChangeWhatThePageShows) {
  auto fields = State("?play&volume=50&next&repeatall&shuffle&3_seteq=100&11_seteq=1&balance=-100");
  EXPECT_EQ(fields["Volume"], "50");
  EXPECT_EQ(fields["CurrentIndex"], "2");
  EXPECT_EQ(fields["Repeat"], "track");
  EXPECT_EQ(fields["Shuffle"], "on");
  EXPECT_EQ(fields["EQ3"], "100");
  EXPECT_EQ(fields["EQ"], "on");
  EXPECT_EQ(fields["Balance"], "-100");
  fields = State("?volume=loud&next");  // not a number: the batch stops before next
  EXPECT_EQ(fields["Volume"], "50");
  EXPECT_EQ(fields["CurrentIndex"], "2");
  fields = State("?pause");
  EXPECT_EQ(fields["Status"], "x");
  fields = State("?foo=1&bar&%3Cb%3E=%22");
  EXPECT_EQ(fields["Error"],
            "Unknown command: foo=1</br>Unknown command: bar=</br>Unknown command: &lt;b&gt;=&quot;</br>");
  fields = State("?usefile=" + Encoded(fields["File"]) + "&rating=4");
  EXPECT_EQ(fields["Rating"], "4");
}

TEST_F(PagesTest, AlbumArtIsServedFromTheCacheByteForByte) {
  auto fields = State("?play");
  std::string art = fields["Art"];
  ASSERT_EQ(art, "01+Harbourmaster's+Waltz.mp3.png?cache");
  auto picture = Get(quenforth_->Port(), "/" + art);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->status, 200);
  EXPECT_EQ(picture->Header("content-type"), "image/png");
  TagLib::MPEG::File file(FindTrack("Harbourmaster").c_str());
  auto frames = file.ID3v2Tag()->frameListMap()["APIC"];
  ASSERT_FALSE(frames.isEmpty());
  auto* frame = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frames.front());
  EXPECT_TRUE(picture->body == std::string(frame->picture().data(), frame->picture().size()))
      << "the cached picture differs from the file's";
  // A track without a picture gives the default.
  fs::path coverless = FindTrack("Apogee Return");
  ASSERT_FALSE(coverless.empty());
  fields = State("?file=" + Encoded(WindowsPath(coverless)));
  EXPECT_EQ(fields["Art"], "none.gif");
  // Names with folder parts never leave the cache folder.
  auto escape = Get(quenforth_->Port(), "/..%5C..%5Cquenforth.ini?cache");
  ASSERT_TRUE(escape);
  EXPECT_EQ(escape->status, 403);
}

TEST_F(PagesTest, ThePlaylistListsAWindowWithTheCurrentTrack) {
  auto page = Get(quenforth_->Port(), "/list.html?play&next");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->body,
            "[2 * Marisol Vantebrook - Lamplight on the Quay][3 Marisol Vantebrook - Nine Knots]"
            "[4 Marisol Vantebrook - Gull Weather]");
}

TEST_F(PagesTest, CloseAnswers503AndThePlayerClosesAtTheNextTick) {
  auto response = Get(quenforth_->Port(), "/?close");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 503);
  EXPECT_NE(response->body.find("currently not available. (/)"), std::string::npos);
  EXPECT_EQ(quenforth_->WaitExit(30s), 0);
  EXPECT_NE(quenforth_->Output().find("Quenforth: stopped"), std::string::npos);
}

// Twenty clients list a playlist of a thousand entries while four others add and remove entries: no
// crash, every page is one whole list, and a page always lists what its own request added. A fixed
// number of pages per client, however long a loaded machine takes for them.
TEST(ConcurrentPages, ListingWhileOthersChangeThePlaylist) {
  constexpr int kListers = 20, kChangers = 4, kPagesEach = 25;
  std::vector<std::string> files;
  QuenforthProcess quenforth([&](const fs::path& data) {
    qftest::WriteFile(data / "base/all.html", "<ul><#playlist template=li.html></ul>");
    qftest::WriteFile(data / "base/li.html", "<li><#playlist_index>");
    qftest::WriteFile(data / "base/ids.html", "<#playlist template=id.html length=3>");
    qftest::WriteFile(data / "base/mine.html", "<#playlist template=id.html>");
    qftest::WriteFile(data / "base/id.html", "<#playlist_songid>\n");
    // A thousand entries, the demo files over and over, in the playlist the player starts with.
    fs::path drive = data.parent_path().parent_path().parent_path().parent_path();
    for (const auto& entry : fs::recursive_directory_iterator(drive / "Users/Quenforth/Music")) {
      if (entry.path().extension() != ".mp3") continue;
      std::string path = "C:\\" + fs::relative(entry.path(), drive).string();
      for (char& c : path)
        if (c == '/') c = '\\';
      files.push_back(path);
    }
    std::string m3u = "#EXTM3U\r\n";
    for (std::size_t i = 0; i < 1000; ++i) m3u += files[i % files.size()] + "\r\n";
    qftest::WriteFile(drive / "Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u", m3u);
  });
  std::uint16_t port = quenforth.Port();

  std::atomic<int> broken{0}, missed{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kListers; ++i)
    clients.emplace_back([&] {
      for (int n = 0; n < kPagesEach; ++n) {
        auto page = Get(port, "/all.html");
        if (!page || page->status != 200) {
          ++broken;
          continue;
        }
        // One whole list: <ul>, then <li>1 ... <li>N in order, then </ul>.
        const std::string& body = page->body;
        int expected = 1;
        std::size_t at = 4;
        bool whole = body.rfind("<ul>", 0) == 0 && body.size() >= 9 && body.substr(body.size() - 5) == "</ul>";
        while (whole && body.compare(at, 4, "<li>") == 0) {
          std::size_t next = body.find('<', at + 4);
          whole = body.substr(at + 4, next - at - 4) == std::to_string(expected++);
          at = next;
        }
        if (!whole || at != body.size() - 5 || expected == 1) ++broken;
      }
    });
  for (int i = 0; i < kChangers; ++i)
    clients.emplace_back([&, i] {
      for (int n = 0; n < kPagesEach; ++n) {
        // A file of its own, found by the playlist filter in the page of the same request.
        std::string name = "qfadded" + std::to_string(i) + "x" + std::to_string(n) + "z";
        auto page = Get(port, "/mine.html?add=" + PagesTest::Encoded("C:\\Users\\Quenforth\\Music\\" + name + ".mp3") +
                                  "&search_playlist_string=" + name);
        if (!page || page->status != 200) {
          ++broken;
          continue;
        }
        std::string id = page->body.substr(0, page->body.find('\n'));
        if (id.empty() || page->body.size() != id.size() + 1) {
          ++missed;
          continue;
        }
        if (n % 2 == 0) Get(port, "/ids.html?removetrack=" + id);
        if (n % 3 == 0) Get(port, "/ids.html?add=" + PagesTest::Encoded(files[static_cast<std::size_t>(i)]));
      }
    });
  for (auto& client : clients) client.join();
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(missed, 0);
  EXPECT_TRUE(quenforth.Stop()) << quenforth.Output();
}

}  // namespace
