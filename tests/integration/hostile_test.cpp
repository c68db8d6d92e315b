// A corpus of traversal and alias payloads against every part of a request that names a file or a folder,
// sent to the real player: the request path, download, src, cache, dir, drive, skin, saveplaylist, add,
// file, include and the upload's file name, each on its own and after a dir or drive that leaves the root.
// Whatever the spelling, nothing outside the allowed folders is read into an answer or written, the
// current folder stays inside the root, and the server keeps answering, each request within its bound.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/text.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::QuenforthProcess;

constexpr char kCanary[] = "canary-5e1d";
constexpr char kRoot[] = "C:\\Users\\Quenforth\\Music";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kAnswerBoundHere = 5s;  // every instruction costs several times as much
#else
constexpr auto kAnswerBoundHere = 1s;
#endif

// Under Wine every socket operation is a round trip to the Wine server, many times slower on a busy
// machine. A request that hangs still fails.
std::chrono::milliseconds AnswerBound() {
  return qftest::TestHost() == qftest::Host::Wine ? std::chrono::milliseconds(15s) : kAnswerBoundHere;
}

// A text as it goes into a URL: the bytes an HTTP request line cannot carry, and those a query would
// read as its own (& # + %), as %XX; every other byte as it is, backslashes included.
std::string Wire(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string wire;
  for (unsigned char c : text) {
    if (c <= ' ' || c >= 0x7F || c == '%' || c == '&' || c == '#' || c == '+' || c == '?') {
      wire += '%';
      wire += kHex[c >> 4];
      wire += kHex[c & 15];
    } else {
      wire += static_cast<char>(c);
    }
  }
  return wire;
}

// Replaces each of the characters . / \ of a text by what `spell` gives for it, the rest as Wire does.
std::string Respelled(const std::string& text, const std::function<std::string(char)>& spell) {
  std::string wire;
  for (char c : text) wire += c == '.' || c == '/' || c == '\\' ? spell(c) : Wire(std::string(1, c));
  return wire;
}

std::string Hex(char c) {
  static const char kHex[] = "0123456789abcdef";
  auto byte = static_cast<unsigned char>(c);
  return std::string("%") + kHex[byte >> 4] + kHex[byte & 15];
}

// Every payload as it goes into a URL, each once.
std::vector<std::string> Payloads(const std::vector<std::string>& shortNames) {
  const std::string data = "C:\\Program Files\\Winamp\\Plugins\\quenforth";
  // Traversals, respelled every way a decoder might be fooled.
  const std::vector<std::string> climbs = {
      "..\\..\\..\\..\\secret\\canary.txt",
      "../../../../secret/canary.txt",
      "..\\user.ini",
      "..\\..\\quenforth\\user.ini",
      std::string(kRoot) + "\\..\\..\\..\\secret\\canary.txt",
      "C:\\secret\\canary.txt",
      data + "\\user.ini",
      "Rock\\..\\..\\..\\..\\secret",
  };
  const std::vector<std::function<std::string(char)>> spellings = {
      [](char c) { return std::string(1, c); },
      [](char c) { return Hex(c); },                    // %2e %2f %5c
      [](char c) { return "%25" + Hex(c).substr(1); },  // double-encoded
      [](char c) { return c == '.'   ? "%c0%ae"
                          : c == '/' ? "%c0%af"
                                     : "%c1%9c"; },  // overlong UTF-8
      [](char c) { return c == '.'   ? "%e0%80%ae"
                          : c == '/' ? "%e0%80%af"
                                     : "%e0%81%9c"; },
      [](char c) { return c == '.'   ? "%ef%bc%8e"
                          : c == '/' ? "%ef%bc%8f"
                                     : "%ef%bc%bc"; },  // fullwidth
      [](char c) { return c == '.'   ? "%u002e"
                          : c == '/' ? "%u002f"
                                     : "%u005c"; },
      [](char c) { return c == '\\' ? std::string("/") : std::string(1, c); },
      [](char c) { return c == '\\' ? std::string("\\\\") : std::string(1, c); },  // doubled separators
  };
  std::vector<std::string> wires;
  for (const std::string& climb : climbs)
    for (const auto& spell : spellings) wires.push_back(Respelled(climb, spell));

  // Aliases Windows resolves to the same file, and names it treats specially.
  std::vector<std::string> aliases = {
      "C:/secret/canary.txt",
      "c:\\SECRET\\CANARY.TXT",
      "D:\\canary.txt",
      "D:canary.txt",
      "C:secret\\canary.txt",
      "C:..\\secret\\canary.txt",
      "\\secret\\canary.txt",
      "/secret/canary.txt",
      "\\\\127.0.0.1\\C$\\secret\\canary.txt",
      "\\\\localhost\\c$\\secret\\canary.txt",
      "//127.0.0.1/C$/secret/canary.txt",
      "\\\\?\\C:\\secret\\canary.txt",
      "\\\\?\\UNC\\127.0.0.1\\C$\\secret\\canary.txt",
      "\\??\\C:\\secret\\canary.txt",
      "\\\\.\\C:\\secret\\canary.txt",
      "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\secret\\canary.txt",
      "C:\\secret\\canary.txt::$DATA",
      "C:\\secret\\canary.txt:stream",
      "C:\\secret::$INDEX_ALLOCATION\\canary.txt",
      data + "\\user.ini::$DATA",
      "C:\\secret\\canary.txt.",
      "C:\\secret\\canary.txt ",
      "C:\\secret\\canary.txt. . .",
      "C:\\secret.\\canary.txt",
      "C:\\secret \\canary.txt",
      data + ".\\user.ini",
      data + " \\user.ini",
      "CON",
      "NUL",
      "AUX.mp3",
      "COM1",
      "LPT1.txt",
      "con.m3u",
      "C:\\secret\\CON",
      "\\\\.\\CON",
      "CONIN$",
      "C:\\SECRET~1\\CANARY~1.TXT",
      "C:\\PROGRA~1\\Winamp\\Plugins\\QUENFO~1\\user.ini",
      "..\\QUENFO~1\\user.ini",
      std::string("C:\\secret\\canary.txt") + '\0' + ".mp3",
      std::string(kRoot) + "\\x\r\nC:\\secret\\canary.txt",
      std::string(kRoot) + "\\x\nC:\\secret\\canary.txt",
      "C:\\secret\\canary.txt\r\n",
      "#C:\\secret\\canary.txt",
      "....\\....\\secret\\canary.txt",
      ".\\..\\.\\..\\..\\secret\\canary.txt",
      "...",
      "..",
      ".",
      "\\..",
      std::string(kRoot) + "\\...\\secret",
      "%SYSTEMROOT%\\win.ini",
      "file:///C:/secret/canary.txt",
      "http://127.0.0.1:1/canary.txt",
      std::string(kRoot) + "\\" + std::string(5000, 'a'),
      std::string(300, '\\'),
      [] {
        std::string deep = kRoot;
        for (int i = 0; i < 300; ++i) deep += "\\a";
        for (int i = 0; i < 310; ++i) deep += "\\..";
        return deep + "\\secret\\canary.txt";
      }(),
      "C:\\secret\\canary.txt" + std::string(300, ' '),
      "\xA0..\xA0\\canary.txt",
      "C:\\secret\\canary.txt\xFF\xFE",
  };
  for (const std::string& name : shortNames) aliases.push_back(name);
  for (const std::string& alias : aliases) {
    wires.push_back(Wire(alias));
    wires.push_back(Respelled(alias, [](char c) { return Hex(c); }));
  }
  std::set<std::string> seen;
  std::vector<std::string> unique;
  for (const std::string& wire : wires)
    if (seen.insert(wire).second) unique.push_back(wire);
  return unique;
}

// Every file under `root` with its contents, but for the folders `skipped` (relative, generic form).
std::map<std::string, std::string> Files(const fs::path& root, const std::vector<std::string>& skipped = {}) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (auto entry = fs::recursive_directory_iterator(root); entry != fs::recursive_directory_iterator(); ++entry) {
    std::string relative = fs::relative(entry->path(), root).generic_string();
    if (std::any_of(skipped.begin(), skipped.end(), [&](const std::string& s) { return relative.rfind(s, 0) == 0; })) {
      if (entry->is_directory()) entry.disable_recursion_pending();
      continue;
    }
    files[relative] = entry->is_regular_file() ? qftest::ReadFile(entry->path()) : "<folder>";
  }
  return files;
}

class HostileInputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    driveD_ = new qftest::TempFolder;
    qftest::WriteFile(driveD_->Path() / "canary.txt", kCanary);
    quenforth_ = new QuenforthProcess(
        [](const fs::path& data) {
          fs::path driveC = data.parent_path().parent_path().parent_path().parent_path();
          qftest::WriteFile(driveC / "secret/canary.txt", kCanary);
          qftest::WriteFile(driveC / "secret/canary.mp3", kCanary);
          qftest::WriteFile(driveC / "Users/Quenforth/Music/Rock/inside.txt", "inside");
          for (const char* file : {"user.ini", "iplist.ini", "logfile.txt"})
            qftest::WriteFile(data / file, std::string("[x]\r\nsecret=") + kCanary + "\r\n");
          qftest::WriteFile(data / "quenforth.ini", qftest::ReadFile(data / "quenforth.ini") +
                                                        "RootDirectory=" + kRoot + "\r\nCurrentDirectory=" + kRoot +
                                                        "\r\nallowUpload=1\r\n;" + kCanary + "\r\n");
          qftest::WriteFile(data / "base/where.html", "[<#CurrentBrowserDirectory>]");
        },
        std::vector<std::string>{"--drive", "D=" + driveD_->Path().string()});
    std::vector<std::string> shortNames;
    for (const char* path : {"C:\\secret\\canary.txt", "C:\\Program Files\\Winamp\\Plugins\\quenforth\\user.ini"})
      if (std::optional<std::string> alias = quenforth_->ShortPath(path)) shortNames.push_back(*alias);
    payloads_ = new std::vector<std::string>(Payloads(shortNames));
  }
  static void TearDownTestSuite() {
    delete quenforth_;
    delete driveD_;
    delete payloads_;
  }

  fs::path DriveC() const { return quenforth_->Prefix() / "drive_c"; }

  // The files a request could reach outside the allowed folders. The player's own playlist file, the
  // album-art cache and the upload's scratch files change as they may; the music folder is allowed.
  std::map<std::string, std::string> Outside() const {
    auto files = Files(DriveC(), {"Users/Quenforth/AppData", "Users/Quenforth/Music", "users", "windows", "ProgramData",
                                  "Program Files/Winamp/Plugins/quenforth/cache"});
    for (auto& [name, text] : Files(driveD_->Path())) files["D:/" + name] = text;
    return files;
  }

  // Sends one request and checks its answer: in time, a status a hostile request may get, no canary.
  void Expect(const std::string& request, const std::string& what) {
    qftest::Connection connection(quenforth_->Port());
    ASSERT_TRUE(connection.Send(request)) << what;
    std::optional<qftest::HttpResponse> answer = connection.Read(AnswerBound());
    ASSERT_TRUE(answer) << "no answer in time: " << what;
    static const std::set<int> kStatuses{200, 400, 403, 404, 414, 431};
    EXPECT_TRUE(kStatuses.count(answer->status)) << answer->status << " " << what;
    EXPECT_EQ(answer->body.find(kCanary), std::string::npos) << what;
    last_ = std::move(*answer);
  }
  void ExpectGet(const std::string& target) {
    Expect("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", target.substr(0, 200));
  }

  // Each payload in `build`'s request, on its own and after a command that leaves the root; then the
  // server still answers, nothing outside the allowed folders changed, the current folder is inside
  // the root.
  void Attack(const std::function<std::string(const std::string& payload, const std::string& before)>& build) {
    const std::map<std::string, std::string> before = Outside();
    for (const std::string& payload : *payloads_)
      for (const char* leave : {"", "dir=C:\\secret&", "drive=D:&", "dir=..&"}) {
        ExpectGet(build(payload, leave));
        if (HasFailure()) return;
      }
    ExpectGet("/where.html?refresh");
    EXPECT_EQ(last_.status, 200);
    EXPECT_TRUE(qf::ContainsText(last_.body, std::string("[") + kRoot)) << last_.body;
    EXPECT_EQ(Outside(), before);
    ExpectGet("/?home&clear");
  }

  static qftest::TempFolder* driveD_;
  static QuenforthProcess* quenforth_;
  static std::vector<std::string>* payloads_;
  qftest::HttpResponse last_;
};

qftest::TempFolder* HostileInputTest::driveD_ = nullptr;
QuenforthProcess* HostileInputTest::quenforth_ = nullptr;
std::vector<std::string>* HostileInputTest::payloads_ = nullptr;

TEST_F(HostileInputTest, TheCorpusIsLargeAndEveryPayloadIsItsOwn) { EXPECT_GE(payloads_->size(), 120u); }

TEST_F(HostileInputTest, RequestPath) {
  Attack([](const std::string& p, const std::string& before) { return "/" + p + "?" + before + "refresh"; });
}

TEST_F(HostileInputTest, Download) {
  Attack([](const std::string& p, const std::string& before) { return "/?" + before + "download=" + p; });
}

TEST_F(HostileInputTest, Src) {
  Attack([](const std::string& p, const std::string& before) { return "/canary.txt?" + before + "src=" + p; });
  Attack([](const std::string& p, const std::string& before) { return "/user.ini?" + before + "src=" + p; });
}

TEST_F(HostileInputTest, Cache) {
  Attack([](const std::string& p, const std::string& before) { return "/?" + before + "cache=" + p; });
}

TEST_F(HostileInputTest, DirAndDrive) {
  Attack([](const std::string& p, const std::string& before) { return "/where.html?" + before + "dir=" + p; });
  Attack([](const std::string& p, const std::string& before) { return "/where.html?" + before + "drive=" + p; });
  // Within one request a move that stays inside the root is kept: the check above could not pass by
  // always sending the folder back to the root.
  ExpectGet("/where.html?dir=Rock");
  EXPECT_TRUE(qf::ContainsText(last_.body, std::string("[") + kRoot + "\\Rock]")) << last_.body;
}

TEST_F(HostileInputTest, Skin) {
  Attack([](const std::string& p, const std::string& before) { return "/style.css?" + before + "skin=" + p; });
  ExpectGet("/style.css");
  EXPECT_EQ(last_.status, 200);
}

TEST_F(HostileInputTest, SavePlaylist) {
  ExpectGet("/?add=" + Wire(std::string(kRoot) + "\\Rock\\inside.txt"));
  Attack([](const std::string& p, const std::string& before) { return "/?" + before + "saveplaylist=" + p; });
  // Whatever was written in the music folder has a name of its own there.
  for (const auto& [name, text] : Files(DriveC() / "Users/Quenforth/Music"))
    EXPECT_EQ(name.find(':'), std::string::npos) << name;
}

TEST_F(HostileInputTest, AddAndFile) {
  // A full path is the player's to play wherever it lies (the media library's files may lie outside the
  // music folders); what is refused is anything that is no single path: the sequences that climb, lines
  // of their own, comments.
  Attack([](const std::string& p, const std::string& before) { return "/?" + before + "add=" + p; });
  Attack([](const std::string& p, const std::string& before) { return "/?" + before + "file=" + p + "&stop"; });
  std::string playlist = qftest::ReadFile(quenforth_->Prefix() /
                                          "drive_c/Users/Quenforth/AppData/Roaming/Winamp/"
                                          "winamp.m3u");
  EXPECT_EQ(playlist.find(".."), std::string::npos) << playlist;
  EXPECT_EQ(playlist.find(kCanary), std::string::npos);
}

TEST_F(HostileInputTest, IncludedFiles) {
  // One page per payload: a quote or a ">" in one would end the tag early and make the page a parse error.
  std::size_t markers = 0;
  for (std::size_t i = 0; i < payloads_->size(); ++i) {
    const std::string page = "inc" + std::to_string(i) + ".html";
    qftest::WriteFile(quenforth_->DataFolder() / "base" / page,
                      "<#include file=\"" + qf::UrlDecode((*payloads_)[i], qf::PlusMeans::Plus) + "\">");
    ExpectGet("/" + page);
    if (HasFailure()) return;
    if (last_.body.find("include: ") != std::string::npos) ++markers;
  }
  // Most of them reach the tag and get its marker; the check above had something to look at.
  EXPECT_GT(markers, payloads_->size() / 2);
}

TEST_F(HostileInputTest, UploadFileName) {
  const std::map<std::string, std::string> before = Outside();
  const fs::path music = DriveC() / "Users/Quenforth/Music";
  for (const std::string& payload : *payloads_)
    for (const char* leave : {"", "dir=C:\\secret&", "drive=D:&"}) {
      const std::string name = qf::UrlDecode(payload, qf::PlusMeans::Plus);
      const std::string body = "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name +
                               "\"\r\n\r\nuploaded\r\n--b--\r\n";
      Expect(std::string("POST /?") + leave +
                 "refresh HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                 "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body,
             "upload " + payload.substr(0, 200));
      if (HasFailure()) return;
    }
  EXPECT_EQ(Outside(), before);
  static const std::set<std::string> kDevices{"con", "prn", "aux", "nul", "com1", "lpt1", "conin$"};
  for (const auto& entry : fs::recursive_directory_iterator(music)) {
    std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find_first_of(":\\/"), std::string::npos) << name;
    std::string stem = qf::LowerCase(name.substr(0, name.find('.')));
    EXPECT_FALSE(kDevices.count(stem)) << name;
    EXPECT_FALSE(name.back() == '.' || name.back() == ' ') << name;
  }
}

}  // namespace
