// What a hostile client on the home network tries, sent to the real quenforth over loopback: the data
// folder's files, writes outside the music folders, forged playlist lines, stored script, template
// traversal, a runaway page, an oversized skin.ini and skin names that would break every page.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>

#include "core/text.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::Get;
using qftest::QuenforthProcess;

constexpr char kCanary[] = "canary-7f3a";
constexpr char kData[] = "C:\\Program Files\\Winamp\\Plugins\\quenforth";
constexpr char kMarker[] = "<font color=\"ff0000\">page too large</font>";

using qftest::Encoded;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every file and folder under `root`, files with their size and time of last change.
using Tree = std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>>;
Tree Snapshot(const fs::path& root, const std::vector<std::string>& skipped) {
  Tree tree;
  for (auto entry = fs::recursive_directory_iterator(root); entry != fs::recursive_directory_iterator(); ++entry) {
    std::string relative = fs::relative(entry->path(), root).generic_string();
    bool skip = false;
    for (const std::string& prefix : skipped) skip = skip || relative.rfind(prefix, 0) == 0;
    if (skip) continue;
    // A folder's own time changes with what it holds, which is already in the tree.
    if (entry->is_regular_file())
      tree[relative] = {entry->file_size(), entry->last_write_time()};
    else
      tree[relative] = {0, fs::file_time_type()};
  }
  return tree;
}

class SecurityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(driveD_.Path() / "Music");
    qftest::WriteFile(driveD_.Path() / "Favourites.m3u", "D's own playlist\r\n");
    quenforth_ = std::make_unique<QuenforthProcess>(
        [](const fs::path& data) {
          for (const char* file : {"user.ini", "iplist.ini", "logfile.txt", "base/skin.ini"})
            qftest::WriteFile(data / file, std::string("[x]\r\nsecret=") + kCanary + "\r\n");
          qftest::WriteFile(data / "quenforth.ini", qftest::ReadFile(data / "quenforth.ini") + ";" + kCanary + "\r\n");
          qftest::WriteFile(data / "base/traversal.html",
                            "<#include file=..\\user.ini>|<#include file=../user.ini>|"
                            "<#include file=..\\..\\..\\..\\..\\..\\x>|<#include file=parts\\..\\..\\user.ini>|"
                            "<#playlist template=..\\user.ini>");
          qftest::WriteFile(data / "base/setting.html", "<#inifile Section=S Key=v parse=1>");
          qftest::WriteFile(data / "base2/style.css", "a skin folder without index.html");
          qftest::WriteFile(data / "help/index.html", "help");
        },
        std::vector<std::string>{"--drive", "D=" + driveD_.Path().string()});
  }

  std::optional<qftest::HttpResponse> Post(const std::string& body) {
    return qftest::Exchange(quenforth_->Port(),
                            "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body);
  }
  fs::path Drive() const { return quenforth_->Prefix() / "drive_c"; }
  fs::path SkinIni() const { return quenforth_->DataFolder() / "base/skin.ini"; }

  qftest::TempFolder driveD_;
  std::unique_ptr<QuenforthProcess> quenforth_;
};

TEST_F(SecurityTest, TheDataFoldersFilesAreNeverServed) {
  const std::string data = kData;
  const std::string forbidden[] = {
      "/?download=" + Encoded(data + "\\user.ini"),
      "/user.ini?src=" + Encoded(data),
      "/quenforth.ini?src=" + Encoded(data),
      "/USER.INI?src=" + Encoded("c:\\program files\\winamp\\plugins\\QUENFORTH\\"),
      "/?download=" + Encoded(data + "\\iplist.ini"),
      "/?download=" + Encoded(data + "\\logfile.txt"),
      "/?download=" + Encoded("C:\\Program Files\\Winamp\\Plugins\\.\\quenforth\\\\user.ini"),
      "/?download=" + Encoded(data + ".\\user.ini"),
      "/?download=" + Encoded(data + "\\base\\skin.ini"),
      "/skin.ini?src=" + Encoded(data + "\\base"),
      "/?download=" + Encoded(data + "\\ID3v2Library.dll"),
  };
  for (const std::string& target : forbidden) {
    auto response = Get(quenforth_->Port(), target);
    ASSERT_TRUE(response) << target;
    EXPECT_EQ(response->status, 403) << target;
    EXPECT_EQ(response->body.find(kCanary), std::string::npos) << target;
  }
  // Forms a client may try that are no file at all are not served either.
  for (const std::string& target : {"/?download=" + Encoded("C:/Program Files/Winamp/Plugins/quenforth/user.ini"),
                                    "/user.ini?src=" + Encoded(data + "\\x\\..")}) {
    auto response = Get(quenforth_->Port(), target);
    ASSERT_TRUE(response) << target;
    EXPECT_EQ(response->body.find(kCanary), std::string::npos) << target;
  }
  // The skin's files still come through the request path.
  auto style = Get(quenforth_->Port(), "/style.css");
  ASSERT_TRUE(style);
  EXPECT_EQ(style->status, 200);
}

TEST_F(SecurityTest, SrcWithDotDotIsIgnoredAndThePageAnswered) {
  for (const std::string& value :
       {std::string(".."), std::string("C:\\Program Files\\..\\Winamp"), std::string("..\\..")}) {
    auto response = Get(quenforth_->Port(), "/?src=" + Encoded(value));
    ASSERT_TRUE(response) << value;
    EXPECT_EQ(response->status, 200) << value;
    EXPECT_NE(response->body.find("<title>"), std::string::npos) << value;
  }
}

TEST_F(SecurityTest, NothingIsWrittenOutsideTheAllowedFolders) {
  // The player's own playlist file and the album-art cache change as pages are made. A drive command
  // sends the current folder back to the root at once, so the save after it lands there, as it may.
  const std::vector<std::string> skipped{"Users/Quenforth/AppData/Roaming/Winamp",
                                         "Program Files/Winamp/Plugins/quenforth/cache",
                                         "Program Files/Winamp/Favourites.m3u"};
  Tree beforeC = Snapshot(Drive(), skipped), beforeD = Snapshot(driveD_.Path(), {});
  const std::string attacks[] = {
      "/?dir=" + Encoded("D:\\") + "&saveplaylist=Favourites",
      "/?dir=" + Encoded("D:\\Music") + "&saveplaylist=Favourites",
      "/?drive=" + Encoded("D: (Data)") + "&saveplaylist=Favourites",
      "/?dir=" + Encoded("C:\\") + "&saveplaylist=Favourites",
      "/?dir=" + Encoded("C:\\Users") + "&saveplaylist=Favourites",
      "/?dir=" + Encoded("C:\\Program Files") + "&saveplaylist=Favourites",
      "/?dir=..&saveplaylist=Favourites",
      "/?dir=" + Encoded("Plugins\\quenforth") + "&saveplaylist=Favourites",
      "/?dir=" + Encoded("Plugins\\quenforth\\base") + "&saveplaylist=index",
      "/?saveplaylist=CON",
      "/?saveplaylist=" + Encoded("x."),
      "/?saveplaylist=" + Encoded("x "),
      "/?saveplaylist=.",
      "/?saveplaylist=" + Encoded("a\r\nb"),
      "/?saveplaylist=" + Encoded("..\\Favourites"),
      "/?saveplaylist=" + Encoded("C:\\Favourites"),
  };
  for (const std::string& target : attacks) {
    auto response = Get(quenforth_->Port(), target);
    ASSERT_TRUE(response) << target;
    EXPECT_EQ(response->status, 200) << target;
  }
  EXPECT_EQ(Snapshot(Drive(), skipped), beforeC);
  EXPECT_EQ(Snapshot(driveD_.Path(), {}), beforeD);
  EXPECT_EQ(qftest::ReadFile(driveD_.Path() / "Favourites.m3u"), "D's own playlist\r\n");
  // Inside the root folder the same command writes, so the snapshot would have seen it.
  ASSERT_TRUE(Get(quenforth_->Port(), "/?home&saveplaylist=Inside"));
  EXPECT_NE(Snapshot(Drive(), skipped), beforeC);
  EXPECT_TRUE(fs::exists(Drive() / "Program Files/Winamp/Inside.m3u"));
}

TEST_F(SecurityTest, NoControlCharacterReachesThePlaylist) {
  fs::path music = Drive() / "Users/Quenforth/Music";
  std::string track;
  for (const auto& entry : fs::recursive_directory_iterator(music))
    if (entry.path().extension() == ".mp3") {
      track = "C:\\Users\\Quenforth\\Music\\" + fs::relative(entry.path(), music).string();
      break;
    }
  ASSERT_FALSE(track.empty());
  for (char& c : track)
    if (c == '/') c = '\\';
  for (const char* command : {"add", "insert", "file"})
    for (const char* tail : {"\r\nanything", "\nanything", "\ranything", "\tx"})
      ASSERT_TRUE(Get(quenforth_->Port(), std::string("/?") + command + "=" + Encoded(track + tail)));
  ASSERT_TRUE(Get(quenforth_->Port(), "/?add=" + Encoded(track) + "&saveplaylist=check"));
  std::string saved = qftest::ReadFile(Drive() / "Program Files/Winamp/check.m3u");
  EXPECT_NE(saved.find(track), std::string::npos);  // the plain add went in
  EXPECT_EQ(saved.find("anything"), std::string::npos);
  EXPECT_EQ(saved.find('\t'), std::string::npos);
  std::string player = qftest::ReadFile(Drive() / "Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u");
  EXPECT_EQ(player.find("anything"), std::string::npos);
}

TEST_F(SecurityTest, AStoredCharsetPayloadNeverReachesAPage) {
  const std::string payload = "\"><script>alert(1)</script>";
  auto response = Get(quenforth_->Port(), "/?charset=" + Encoded(payload));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body.find("<script>"), std::string::npos);
  response = Get(quenforth_->Port(), "/");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body.find("<script>"), std::string::npos);
  EXPECT_NE(response->body.find("<meta charset=\"iso-8859-1\">"), std::string::npos);
  response = Get(quenforth_->Port(), "/?charset=utf-8");
  ASSERT_TRUE(response);
  EXPECT_NE(response->body.find("<meta charset=\"utf-8\">"), std::string::npos);
  // Search texts come back as text.
  response = Get(quenforth_->Port(), "/playlist.html?search_playlist_string=" + Encoded(payload));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body.find("<script>"), std::string::npos);
  EXPECT_NE(response->body.find("&lt;script&gt;"), std::string::npos);
}

TEST_F(SecurityTest, IncludeTraversalGivesTheNotFoundMarker) {
  auto page = Get(quenforth_->Port(), "/traversal.html");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body.find(kCanary), std::string::npos);
  std::size_t markers = 0;
  for (std::size_t at = page->body.find("not found"); at != std::string::npos;
       at = page->body.find("not found", at + 1))
    ++markers;
  EXPECT_EQ(markers, 5u) << page->body;
  // The same through a skin setting that a page parses.
  ASSERT_TRUE(Get(quenforth_->Port(), "/?inisection=S&v_setini=" + Encoded("<#include file=..\\user.ini>")));
  page = Get(quenforth_->Port(), "/setting.html");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->body.find(kCanary), std::string::npos);
  EXPECT_NE(page->body.find("include: file"), std::string::npos);
  EXPECT_NE(page->body.find("not found"), std::string::npos);
}

TEST_F(SecurityTest, ARunawaySettingEndsAsPageTooLargeAndThePlayerStillCloses) {
  const std::string self = "<#inifile Section=S Key=v parse=1>";
  auto stored = Get(quenforth_->Port(), "/?inisection=S&v_setini=" + Encoded(self + self + self));
  ASSERT_TRUE(stored);
  qftest::Connection connection(quenforth_->Port());
  ASSERT_TRUE(connection.Send("GET /setting.html HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
  auto page = connection.Read(120s);  // under a second in a plain build, far slower with sanitizers
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_TRUE(EndsWith(page->body, kMarker))
      << page->body.substr(page->body.size() > 200 ? page->body.size() - 200 : 0);
  // A second one is still in production when the player is told to close.
  qftest::Connection again(quenforth_->Port());
  ASSERT_TRUE(again.Send("GET /setting.html HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
  EXPECT_TRUE(quenforth_->Stop());
}

TEST_F(SecurityTest, AnOversizedSkinIniWriteIsRefused) {
  // 150 keys of 2,000 characters: about 300 KiB in one request.
  std::string body = "inisection=Big";
  for (int i = 0; i < 150; ++i) body += "&k" + std::to_string(i) + "_setini=" + std::string(2000, 'v');
  auto response = Post(body);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  std::string ini = qftest::ReadFile(SkinIni());
  EXPECT_EQ(ini.find("[Big]"), std::string::npos);
  EXPECT_LT(ini.size(), 256u * 1024);
  // A value longer than inifile can read back is refused; the others of the request are written.
  response = Post("inisection=Small&a_setini=" + std::string(2048, 'a') + "&b_setini=" + std::string(2047, 'b'));
  ASSERT_TRUE(response);
  ini = qftest::ReadFile(SkinIni());
  EXPECT_NE(ini.find("[Small]"), std::string::npos);
  EXPECT_EQ(ini.find("a="), std::string::npos);
  EXPECT_NE(ini.find("b=" + std::string(2047, 'b')), std::string::npos);
}

TEST_F(SecurityTest, BadSkinNamesLeavePagesAnswering) {
  for (std::string name :
       {"", ".", "..", "base.", "base ", "CON", "nosuch", "base2", "help", "..\\base", "base\\..\\..", "C:\\"}) {
    auto response = Get(quenforth_->Port(), "/?skin=" + Encoded(name));
    ASSERT_TRUE(response) << name;
    EXPECT_EQ(response->status, 200) << name;
    for (const char* target : {"/", "/index.html", "/style.css"}) {
      response = Get(quenforth_->Port(), target);
      ASSERT_TRUE(response) << name;
      EXPECT_EQ(response->status, 200) << name << " " << target;
    }
  }
  auto response = Get(quenforth_->Port(), "/?skin=BASE");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
}

}  // namespace
