// What goes wrong around the player in a real home, against the real player: clients that vanish in the
// middle of a download or an upload, settings files that are corrupt or cut short, a log file that
// cannot be written, the music folder taken away while it is listed or served, a missing or broken
// ID3v2Library.dll, and a thousand pipelined requests followed by a half-close. Each time the server goes
// on answering, nothing half-written is left, and the player closes as it should.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::Get;
using qftest::QuenforthProcess;

constexpr char kMusic[] = "C:\\Users\\Quenforth\\Music";

void AddToSetup(const fs::path& data, const std::string& lines) {
  qftest::WriteFile(data / "quenforth.ini", qftest::ReadFile(data / "quenforth.ini") + lines);
}

fs::path MusicFolder(const QuenforthProcess& quenforth) { return quenforth.Prefix() / "drive_c/Users/Quenforth/Music"; }

int Status(std::uint16_t port, const std::string& target) {
  auto answer = Get(port, target);
  return answer ? answer->status : -1;
}

TEST(Faults, ClientsResetInTheMiddleOfADownloadOrAnUploadLeaveNothingBehind) {
  QuenforthProcess quenforth([](const fs::path& data) {
    AddToSetup(data,
               std::string("allowUpload=1\r\nRootDirectory=") + kMusic + "\r\nCurrentDirectory=" + kMusic + "\r\n");
    fs::path big = data.parent_path().parent_path().parent_path().parent_path() / "Users/Quenforth/Music/big.mp3";
    qftest::WriteFile(big, std::string(8 << 20, 'm'));
  });
  const std::uint16_t port = quenforth.Port();
  const std::vector<std::string> before = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(MusicFolder(quenforth)))
      names.push_back(entry.path().string());
    return names;
  }();

  for (int round = 0; round < 3; ++round) {
    qftest::Connection download(port);
    ASSERT_TRUE(download.Send("GET /?download=" + qftest::Encoded(std::string(kMusic) + "\\big.mp3") +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    EXPECT_GT(download.ReadSome(64 * 1024, 10s), 0u);
    download.Reset();

    const std::string head = "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"half.mp3\"\r\n\r\n";
    qftest::Connection upload(port);
    ASSERT_TRUE(
        upload.Send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                    "Content-Length: " +
                    std::to_string(head.size() + (4 << 20) + 8) + "\r\n\r\n" + head + std::string(2 << 20, 'u')));
    upload.Reset();
  }
  // A request on a fresh connection is answered: the reset ones took nothing with them.
  EXPECT_EQ(Status(port, "/"), 200);
  std::vector<std::string> after;
  for (const auto& entry : fs::recursive_directory_iterator(MusicFolder(quenforth)))
    after.push_back(entry.path().string());
  EXPECT_EQ(after, before) << "no partial upload, no temporary file";
  EXPECT_TRUE(quenforth.Stop()) << quenforth.Output();
}

TEST(Faults, CorruptOrTruncatedSettingsFilesGiveTheirDefaults) {
  struct Variant {
    const char* name;
    std::string text;
  };
  const Variant variants[] = {
      {"binary", std::string("\x00\xff[\x01]\x00=\x00\r\n\xfe\xfe", 12) + std::string(3000, '\0')},
      {"cut short", "[Setup\r\nServer"},
      {"one endless line", "[0]\r\nLogin=" + std::string(1 << 20, 'A')},
      {"keys without sections and sections without keys", "=\r\n==\r\nkey\r\n[]\r\n[[x]]\r\n[0]\r\n[0]\r\n[mime]\r\n="},
  };
  for (const Variant& v : variants) {
    QuenforthProcess quenforth([&v](const fs::path& data) {
      // quenforth.ini keeps the test's port in front of the damage; the others are damage alone.
      qftest::WriteFile(data / "quenforth.ini", qftest::ReadFile(data / "quenforth.ini") + v.text);
      for (const char* file : {"user.ini", "iplist.ini", "mime.ini", "base/skin.ini"})
        qftest::WriteFile(data / file, v.text);
      qftest::WriteFile(data / "base/page.html", "<#inifile section=x key=y>");
    });
    // Without mime.ini nothing is a template: pages are sent as they are.
    auto page = Get(quenforth.Port(), "/page.html");
    ASSERT_TRUE(page) << v.name;
    EXPECT_EQ(page->status, 200) << v.name;
    EXPECT_EQ(Status(quenforth.Port(), "/"), 200) << v.name;
    EXPECT_TRUE(quenforth.Stop()) << v.name << "\n" << quenforth.Output();
  }
}

TEST(Faults, ALogFileThatCannotBeWrittenLosesItsLinesAndNothingElse) {
  for (const char* path : {"C:\\Users", "C:\\no such folder\\log.txt"}) {
    QuenforthProcess quenforth([path](const fs::path& data) {
      AddToSetup(data, std::string("[Logfile]\r\nenable=1\r\nlogfile=") + path + "\r\n");
    });
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Status(quenforth.Port(), "/?refresh"), 200) << path;
    EXPECT_TRUE(quenforth.Stop()) << path << "\n" << quenforth.Output();
  }
}

TEST(Faults, TheMusicFolderTakenAwayWhileListedOrServed) {
  QuenforthProcess quenforth([](const fs::path& data) {
    AddToSetup(data, std::string("RootDirectory=") + kMusic + "\\Gone\r\nCurrentDirectory=" + kMusic + "\\Gone\r\n");
    fs::path music = data.parent_path().parent_path().parent_path().parent_path() / "Users/Quenforth/Music/Gone";
    qftest::WriteFile(music / "Sub/song.mp3", "x");
    qftest::WriteFile(music / "big.mp3", std::string(8 << 20, 'm'));
    qftest::WriteFile(data / "base/list.html",
                      "[<#CurrentBrowserDirectory>]<#browser_directories template=dir.html><#browser_files "
                      "template=file.html>");
    qftest::WriteFile(data / "base/dir.html", "d:<#browser_directoryname>;");
    qftest::WriteFile(data / "base/file.html", "f:<#browser_filename>;");
  });
  const std::uint16_t port = quenforth.Port();
  auto listed = Get(port, "/list.html?dir=Sub&dir=..");
  ASSERT_TRUE(listed);
  EXPECT_NE(listed->body.find("d:Sub;"), std::string::npos) << listed->body;

  qftest::Connection download(port);
  ASSERT_TRUE(download.Send("GET /?download=" + qftest::Encoded(std::string(kMusic) + "\\Gone\\big.mp3") +
                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
  EXPECT_GT(download.ReadSome(64 * 1024, 10s), 0u);
  fs::remove_all(MusicFolder(quenforth) / "Gone");
  // The download ends one way or the other: the rest of the file, or the connection closed.
  EXPECT_TRUE(download.WaitClosed(60s));

  for (const char* target : {"/list.html", "/list.html?dir=Sub", "/list.html?home", "/list.html?dir=..",
                             "/?download=big.mp3", "/?add=big.mp3"}) {
    auto answer = Get(port, target);
    ASSERT_TRUE(answer) << target;
    EXPECT_EQ(answer->status, 200) << target;
  }
  auto empty = Get(port, "/list.html?home");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->body.find("d:"), std::string::npos) << empty->body;
  EXPECT_TRUE(quenforth.Stop()) << quenforth.Output();
}

TEST(Faults, AMissingOrBrokenTagLibraryEndsOnlyItsTags) {
  for (const char* damage : {"missing", "garbage"}) {
    QuenforthProcess quenforth([damage](const fs::path& data) {
      fs::remove(data / "ID3v2Library.dll");
      if (std::string(damage) == "garbage") qftest::WriteFile(data / "ID3v2Library.dll", "MZ but nothing after");
      qftest::WriteFile(data / "base/tags.html", "[<#AlbumArt default=none>][<#ID3Info frame=TIT2>][<#volume>]");
    });
    auto page = Get(quenforth.Port(), "/tags.html?play");
    ASSERT_TRUE(page) << damage;
    EXPECT_EQ(page->status, 200) << damage;
    EXPECT_NE(page->body.find("ID3v2Library.dll not found"), std::string::npos) << damage << ": " << page->body;
    EXPECT_NE(page->body.find("]["), std::string::npos) << damage;
    EXPECT_TRUE(quenforth.Stop()) << damage << "\n" << quenforth.Output();
  }
}

TEST(Faults, AThousandPipelinedRequestsThenAHalfCloseAreAllAnswered) {
  QuenforthProcess quenforth;
  qftest::Connection connection(quenforth.Port());
  std::string requests;
  for (int i = 0; i < 1000; ++i) requests += "GET /style.css HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_TRUE(connection.Send(requests));
  connection.ShutdownWrite();
  int answered = 0;
  while (auto response = connection.Read(30s)) {
    ASSERT_EQ(response->status, 200);
    ++answered;
  }
  EXPECT_EQ(answered, 1000);
  EXPECT_TRUE(connection.WaitClosed(30s)) << "the server closes once the last answer is out";
  EXPECT_EQ(Status(quenforth.Port(), "/"), 200);
}

}  // namespace
