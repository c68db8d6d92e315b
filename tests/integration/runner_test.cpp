// The real quenforth over loopback: install layout, the pipeline's answers, limits, and a clean stop.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::Connection;
using qftest::Exchange;
using qftest::Get;
using qftest::QuenforthProcess;

TEST(Runner, InstallLaysOutTheEmulatedDrive) {
  QuenforthProcess quenforth;
  fs::path drive = quenforth.Prefix() / "drive_c";
  EXPECT_TRUE(fs::exists(drive / "Program Files/Winamp/Plugins/quenforth/base/index.html"));
  EXPECT_TRUE(fs::exists(drive / "Program Files/Winamp/Plugins/quenforth/mime.ini"));
  EXPECT_TRUE(fs::is_directory(drive / "Users/Quenforth/AppData/Roaming/Winamp"));
  // The plug-in creates its album-art cache folder at start-up.
  EXPECT_TRUE(fs::is_directory(drive / "Program Files/Winamp/Plugins/quenforth/cache"));
  EXPECT_TRUE(quenforth.Stop()) << quenforth.Output();
  EXPECT_NE(quenforth.Output().find("Quenforth: stopped"), std::string::npos);
}

TEST(Runner, AnswersPagesFilesAndErrors) {
  QuenforthProcess quenforth;
  std::uint16_t port = quenforth.Port();

  auto root = Get(port, "/");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->status, 200);
  EXPECT_EQ(root->Header("content-type"), "text/html");
  EXPECT_EQ(root->Header("server"), "Quenforth/3.0");
  // index.html is a template: its tags are replaced by the player's state.
  EXPECT_NE(root->body.find("<meta charset=\"iso-8859-1\">"), std::string::npos) << root->body;
  EXPECT_NE(root->body.find("<p class=\"artist\" data-live=\"artist\">Marisol Vantebrook</p>"), std::string::npos);
  EXPECT_NE(root->body.find("<title>Marisol Vantebrook - Harbourmaster&#39;s Waltz - Quenforth</title>"),
            std::string::npos);
  EXPECT_EQ(root->body.find("<#"), std::string::npos);

  auto style = Get(port, "/style.css");
  ASSERT_TRUE(style);
  EXPECT_EQ(style->status, 200);
  EXPECT_EQ(style->Header("content-type"), "text/css");
  EXPECT_EQ(style->body, qftest::ReadFile(quenforth.DataFolder() / "base/style.css"));

  auto missing = Get(port, "/missing.html");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  EXPECT_NE(missing->body.find("The requested URL /missing.html was not found on this server."), std::string::npos);

  auto outside = Get(port, "/../secret.txt");
  ASSERT_TRUE(outside);
  EXPECT_EQ(outside->status, 403);
  EXPECT_NE(outside->body.find("You don't have permission to access /../secret.txt on this server."),
            std::string::npos);

  auto head = Exchange(port, "HEAD / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", true);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->Header("content-type"), "text/html");
  EXPECT_NE(head->Header("content-length"), std::to_string(root->body.size()));  // the server's own page
}

// Skin files and templates are answered from memory once read: an edit of one must show in the very
// next answer.
TEST(Runner, ASkinFileEditedWhileServedIsSentAsItIsNow) {
  fs::path skin;
  QuenforthProcess quenforth([&skin](const fs::path& data) {
    skin = data / "base";
    qftest::WriteFile(skin / "edit.css", "a { color: red; }");
    qftest::WriteFile(skin / "edit.html", "[<#include file=part.txt>]");
    qftest::WriteFile(skin / "part.txt", "part red");
    for (const char* name : {"edit.css", "edit.html", "part.txt"})
      fs::last_write_time(skin / name, fs::file_time_type::clock::now() - 1h);
  });
  auto body = [&](const char* target) {
    auto response = Get(quenforth.Port(), target);
    return response && response->status == 200 ? response->body
                                               : "(status " + std::to_string(response ? response->status : 0) + ")";
  };
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(body("/edit.css"), "a { color: red; }");
    EXPECT_EQ(body("/edit.html"), "[part red]");
  }
  // The same length each time, written in place, one right after the other.
  for (const char* colour : {"tan", "sky", "jet"}) {
    std::string style = std::string("a { color: ") + colour + "; }", part = std::string("part ") + colour;
    qftest::WriteFile(skin / "edit.css", style);
    qftest::WriteFile(skin / "part.txt", part);
    EXPECT_EQ(body("/edit.css"), style);
    EXPECT_EQ(body("/edit.html"), "[" + part + "]");
    qftest::WriteFile(skin / "edit.html", std::string("{<#include file=part.txt>}"));
    EXPECT_EQ(body("/edit.html"), "{" + part + "}");
    qftest::WriteFile(skin / "edit.html", std::string("[<#include file=part.txt>]"));
  }
  fs::remove(skin / "edit.css");
  EXPECT_EQ(body("/edit.css"), "(status 404)");
  fs::remove(skin / "edit.html");
  EXPECT_EQ(body("/edit.html"), "(status 404)");
}

TEST(Runner, NeverServesTheDataFolder) {
  QuenforthProcess quenforth([](const fs::path& data) {
    qftest::WriteFile(data / "user.ini", "[0]\r\nLogin=c2VjcmV0\r\n");
    qftest::WriteFile(data / "quenforth.ini", "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\nSkin=gone\r\n");
  });
  for (const char* target : {"/../user.ini", "/..%5cuser.ini", "/..%2fuser.ini", "/../quenforth.ini",
                             "/../base/index.html", "/./../user.ini"}) {
    auto response = Get(quenforth.Port(), target);
    ASSERT_TRUE(response) << target;
    EXPECT_EQ(response->status, 403) << target;
    EXPECT_EQ(response->body.find("c2VjcmV0"), std::string::npos) << target;
  }
  // No skin folder is called "gone": the skin name is empty after loading, and an empty skin serves
  // nothing at all rather than the data folder itself.
  auto root = Get(quenforth.Port(), "/");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->status, 403);
}

TEST(Runner, RefusesHugeBodiesWithoutReadingThem) {
  QuenforthProcess quenforth;
  Connection connection(quenforth.Port());
  connection.Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 2147483648\r\n\r\n");
  auto response = connection.Read(10s);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 413);
  EXPECT_TRUE(connection.WaitClosed(10s));
}

TEST(Runner, ServesByteRangesExactly) {
  std::string clip(300000, '\0');
  for (std::size_t i = 0; i < clip.size(); ++i) clip[i] = static_cast<char>((i * 131) ^ (i >> 9));
  QuenforthProcess quenforth([&](const fs::path& data) { qftest::WriteFile(data / "base/clip.mp3", clip); });
  auto whole = Get(quenforth.Port(), "/clip.mp3");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->Header("content-type"), "audio/mpeg");
  EXPECT_EQ(whole->body, clip);
  auto middle = Get(quenforth.Port(), "/clip.mp3", "Range: bytes=123456-234567\r\n");
  ASSERT_TRUE(middle);
  EXPECT_EQ(middle->status, 206);
  EXPECT_EQ(middle->body, clip.substr(123456, 234567 - 123456 + 1));
  auto tail = Get(quenforth.Port(), "/clip.mp3", "Range: bytes=-1000\r\n");
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->body, clip.substr(clip.size() - 1000));
}

TEST(Runner, CutsOffASlowClientWhileServingOthers) {
  QuenforthProcess quenforth;
  Connection slow(quenforth.Port());
  std::string header = "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(100, 'z');
  bool closed = false;
  for (char c : header) {
    if (!slow.Send(std::string(1, c))) break;
    auto other = Get(quenforth.Port(), "/style.css");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
    if (slow.WaitClosed(1s)) {
      closed = true;
      break;
    }
  }
  // Before the last byte of the header: the connection was cut off, however slowly the machine ran.
  EXPECT_TRUE(closed) << "one header byte per second must not hold a connection open";
}

TEST(ConcurrentRunner, StopsCleanlyUnderConcurrentLoad) {
  QuenforthProcess quenforth;
  std::uint16_t port = quenforth.Port();
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 8; ++i)
    clients.emplace_back([&, i] {
      while (!stop) {
        auto response = Get(port, i % 2 ? "/" : "/style.css");
        if (response && response->status == 200) ++served;
      }
    });
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(quenforth.Stop(60s)) << quenforth.Output();
  stop = true;
  for (auto& client : clients) client.join();
  EXPECT_GT(served, 0);
  EXPECT_NE(quenforth.Output().find("Quenforth: stopped"), std::string::npos);
}

// What the load benchmark measures the plug-in against: the Linux runner's player alone.
TEST(Runner, WithoutThePlugInThePlayerRunsAndServesNothing) {
  if (qftest::TestHost() == qftest::Host::Wine) GTEST_SKIP() << "an option of the Linux runner";
  QuenforthProcess quenforth({}, {"--without-plugin"}, QuenforthProcess::Expect::Started);
  ASSERT_TRUE(quenforth.WaitForOutput("the player runs without the plug-in", 30s)) << quenforth.Output();
  EXPECT_TRUE(quenforth.Stop()) << quenforth.Output();
  EXPECT_EQ(quenforth.Output().find("serving http://"), std::string::npos);
}

TEST(Runner, APortInUseIsReportedAndThePlayerKeepsRunning) {
  QuenforthProcess first;
  QuenforthProcess second({}, {"--port", std::to_string(first.Port())}, QuenforthProcess::Expect::Started);
  ASSERT_TRUE(second.WaitForOutput("Please try another port!", 30s)) << second.Output();
  EXPECT_NE(second.Output().find("Could not bind socket. Address and port are already in use."), std::string::npos);
  EXPECT_EQ(second.Output().find("serving http://"), std::string::npos);
  EXPECT_TRUE(second.Stop()) << second.Output();
  EXPECT_TRUE(Get(first.Port(), "/"));
}

TEST(Runner, AServerPortThatIsNoPortIsAFailedStart) {
  // Not cut to 16 bits: 70000 would bind 4464 and 80808 would bind 15272.
  for (const char* port : {"70000", "80808", "-1", "eighty"}) {
    QuenforthProcess quenforth(
        [&](const fs::path& data) {
          qftest::WriteFile(data / "quenforth.ini",
                            std::string("[Setup]\r\nServerPort=") + port + "\r\nbindLocal=1\r\n");
        },
        {}, QuenforthProcess::Expect::Started);
    ASSERT_TRUE(quenforth.WaitForOutput("Please try another port!", 30s)) << port << quenforth.Output();
    EXPECT_NE(quenforth.Output().find(std::string("The server port \"") + port + "\" is not a port number"),
              std::string::npos)
        << quenforth.Output();
    EXPECT_EQ(quenforth.Output().find("serving http://"), std::string::npos) << port;
    EXPECT_TRUE(quenforth.Stop()) << quenforth.Output();
  }
}

}  // namespace
