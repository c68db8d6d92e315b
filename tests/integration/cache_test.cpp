// The file cache and the timer's playlist maintenance over HTTP, with a music tree on drive D: the cache
// is filled at start and feeds random tracks (never playlists), keep-playlist-alive fills an empty
// playlist, remove-played deletes a track that ended, and quitting during a scan of a big tree is clean.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio_files.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::Get;
using qftest::QuenforthProcess;

std::string Encoded(const std::string& text) {
  std::string encoded;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      encoded += static_cast<char>(c);
    } else {
      constexpr char kHex[] = "0123456789ABCDEF";
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return encoded;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class CacheTest : public ::testing::Test {
 protected:
  // Starts the player with D: on a folder of its own, the root folder D:\Music, and `setup` added to the
  // [Setup] section.
  void Start(const std::string& setup, std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.end(), {"--drive", "D=" + driveD_.Path().string()});
    quenforth_ = std::make_unique<QuenforthProcess>(
        [&](const fs::path& data) {
          qftest::WriteFile(data / "quenforth.ini",
                            "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\nRootDirectory=D:\\Music\r\n" + setup);
          qftest::WriteFile(data / "base/list.html", "<#playlist template=item.html>");
          qftest::WriteFile(data / "base/item.html", "<#playlist_filename>\n");
          qftest::WriteFile(data / "base/status.html", "<#Status>");
        },
        arguments);
  }
  void AddFile(const std::string& relative, const std::string& contents) {
    qftest::WriteFile(driveD_.Path() / "Music" / relative, contents);
  }
  // The full paths of the playlist's entries, after the commands of `query`.
  std::vector<std::string> Playlist(const std::string& query = "") {
    auto response = Get(quenforth_->Port(), "/list.html" + query);
    EXPECT_TRUE(response && response->status == 200);
    return response ? Lines(response->body) : std::vector<std::string>{};
  }
  std::string Status() {
    auto response = Get(quenforth_->Port(), "/status.html");
    return response ? response->body : std::string();
  }
  // Asks `done` again and again, a bounded number of times, while the player works on its own.
  template <class Done>
  bool Eventually(Done done) {
    for (int attempt = 0; attempt < 1200; ++attempt) {
      if (done()) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  qftest::TempFolder driveD_;
  std::unique_ptr<QuenforthProcess> quenforth_;
};

TEST_F(CacheTest, TheCacheIsFilledAtStartAndRandomTracksAreNeverPlaylists) {
  AddFile("Rock/Live/one.wav", host::testaudio::Wav(30));
  AddFile("Jazz/two.wav", host::testaudio::Wav(30));
  for (int i = 0; i < 30; ++i) AddFile("Lists/list" + std::to_string(i) + ".m3u", "D:\\Music\\Jazz\\two.wav\r\n");
  AddFile("notes.txt", "not music");
  Start("");
  auto fromTree = [](const std::vector<std::string>& entries) {
    std::vector<std::string> found;
    for (const std::string& entry : entries)
      if (entry.rfind("D:\\Music\\", 0) == 0) found.push_back(entry);
    return found;
  };
  Playlist("?clear");
  // The first rebuild runs a moment after start; until then addrand has nothing to draw from.
  ASSERT_TRUE(Eventually([&] { return !fromTree(Playlist("?addrand")).empty(); })) << quenforth_->Output();
  for (int i = 0; i < 15; ++i) Playlist("?addrand");
  std::vector<std::string> drawn = fromTree(Playlist());
  EXPECT_GE(drawn.size(), 16u);
  for (const std::string& entry : drawn)
    EXPECT_TRUE(entry == "D:\\Music\\Rock\\Live\\one.wav" || entry == "D:\\Music\\Jazz\\two.wav") << entry;
}

TEST_F(CacheTest, KeepPlaylistAliveFillsAnEmptyPlaylistAndStartsPlaying) {
  AddFile("a.wav", host::testaudio::Wav(60));
  AddFile("b.wav", host::testaudio::Wav(60));
  AddFile("c.m3u", "D:\\Music\\a.wav\r\n");
  Start("KeepPlaylistAlive=1\r\n");
  Playlist("?stop&clear");
  ASSERT_TRUE(Eventually([&] { return Playlist().size() == 2 && Status() == "play"; })) << quenforth_->Output();
  for (const std::string& entry : Playlist()) EXPECT_TRUE(entry == "D:\\Music\\a.wav" || entry == "D:\\Music\\b.wav");
}

TEST_F(CacheTest, ATrackThatEndsIsRemovedWithRemovePlayed) {
  AddFile("first.wav", host::testaudio::Wav(20));
  AddFile("second.wav", host::testaudio::Wav(600));
  // Twenty seconds of playback pass in one of real time.
  Start("RemovePlayed=1\r\n", {"--speed", "20"});
  std::vector<std::string> added = Playlist("?stop&clear&add=" + Encoded("D:\\Music\\first.wav") +
                                            "&add=" + Encoded("D:\\Music\\second.wav") + "&play");
  ASSERT_EQ(added, (std::vector<std::string>{"D:\\Music\\first.wav", "D:\\Music\\second.wav"}));
  EXPECT_TRUE(Eventually([&] { return Playlist() == std::vector<std::string>{"D:\\Music\\second.wav"}; }))
      << quenforth_->Output();
  EXPECT_EQ(Status(), "play");
}

TEST_F(CacheTest, QuittingDuringTheScanOfABigTreeEndsCleanly) {
  // A tree of 100 folders named 400 times over as additional folders: a scan of 40,000 folders that takes
  // longer than a second, so the quit below falls inside it (it begins within the cache thread's
  // one-second poll after start-up), without a disk full of folders to make and remove.
  for (int i = 0; i < 100; ++i) AddFile("Big/" + std::to_string(i / 10) + "/" + std::to_string(i) + "/s.wav", "x");
  std::string additional;
  for (int i = 0; i < 400; ++i) additional += "D:\\Music\\Big;";
  Start("AdditionalFolder=" + additional + "\r\n");
  std::this_thread::sleep_for(1200ms);
  EXPECT_TRUE(quenforth_->Stop()) << quenforth_->Output();
}

}  // namespace
