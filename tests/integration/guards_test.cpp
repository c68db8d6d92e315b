// Two guards for a server that every device on the home network can reach, against the real player:
// commands from pages of other sites are refused (any page a user visits could otherwise make the browser
// send "?shutdown" with its saved credentials), and an address that keeps guessing passwords is refused
// for a while.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/dimime.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using qftest::QuenforthProcess;

constexpr char kRefused[] = "Operation not allowed.</br>";

void AddToSetup(const fs::path& data, const std::string& lines) {
  qftest::WriteFile(data / "quenforth.ini", qftest::ReadFile(data / "quenforth.ini") + lines);
}

// A page that shows what the commands of its request did.
void WriteStatePage(const fs::path& data) {
  qftest::WriteFile(data / "base/state.html", "[<#errormessage>] volume <#volume>");
}

std::string Page(std::uint16_t port, const std::string& target, const std::string& headers) {
  std::optional<qftest::HttpResponse> answer = qftest::Get(port, target, headers);
  if (!answer) return "<no answer>";
  return std::to_string(answer->status) + " " + answer->body;
}

TEST(CrossSiteCommands, FromPagesOfOtherSitesOnlyLookingCommandsRun) {
  QuenforthProcess quenforth([](const fs::path& data) {
    WriteStatePage(data);
    qftest::WriteFile(data / "base/notes.txt", "a note");
  });
  const std::uint16_t port = quenforth.Port();
  const std::string host = "127.0.0.1";  // as qftest::Get names it in Host
  ASSERT_EQ(Page(port, "/state.html?volume=60", ""), "200 [] volume 60");

  struct Case {
    const char* name;
    std::string headers;
  };
  const Case others[] = {
      {"Sec-Fetch-Site cross-site", "Sec-Fetch-Site: cross-site\r\n"},
      {"Sec-Fetch-Site same-site", "Sec-Fetch-Site: same-site\r\n"},
      {"Origin of another host", "Origin: http://evil.example\r\n"},
      {"Origin of another port", "Origin: http://127.0.0.1:1\r\n"},
      {"opaque Origin", "Origin: null\r\n"},
      {"Referer of another host", "Referer: http://evil.example/page.html\r\n"},
  };
  for (const Case& c : others) {
    // The page is answered; the command that would change the volume says it was refused and does nothing.
    EXPECT_EQ(Page(port, "/state.html?volume=10", c.headers), std::string("200 [") + kRefused + "] volume 60")
        << c.name;
    // Commands that only look still run: a search is remembered, a file is sent.
    EXPECT_EQ(Page(port, "/state.html?search_files_string=x&query=artist%3Dx", c.headers), "200 [] volume 60")
        << c.name;
  }

  const Case same[] = {
      {"no header at all", ""},
      {"Sec-Fetch-Site same-origin", "Sec-Fetch-Site: same-origin\r\nOrigin: http://" + host + "\r\n"},
      {"Sec-Fetch-Site none", "Sec-Fetch-Site: none\r\n"},
      {"Origin of this server", "Origin: http://" + host + "\r\n"},
      {"Referer of this server", "Referer: http://" + host + "/index.html\r\n"},
  };
  int volume = 20;
  for (const Case& c : same) {
    std::string value = std::to_string(volume++);
    EXPECT_EQ(Page(port, "/state.html?volume=" + value, c.headers), "200 [] volume " + value) << c.name;
  }
}

TEST(CrossSiteCommands, AnUploadFromAnotherSiteStoresNothingAndTheSettingLetsEverythingThrough) {
  for (bool allowed : {false, true}) {
    QuenforthProcess quenforth([allowed](const fs::path& data) {
      WriteStatePage(data);
      AddToSetup(data, std::string("allowUpload=1\r\nRootDirectory=C:\\Users\\Quenforth\\Music\r\n") +
                           (allowed ? "allowCrossSiteCommands=1\r\n" : ""));
    });
    const std::string body =
        "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"planted.mp3\"\r\n\r\nsong\r\n--b--\r\n";
    std::optional<qftest::HttpResponse> answer =
        qftest::Exchange(quenforth.Port(),
                         "POST /state.html?volume=33 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                         "Origin: http://evil.example\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                         "Content-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    const bool stored = fs::exists(quenforth.Prefix() / "drive_c/Users/Quenforth/Music/planted.mp3");
    EXPECT_EQ(stored, allowed);
    EXPECT_EQ(answer->body.find("volume 33") != std::string::npos, allowed) << answer->body;
  }
}

std::string Basic(const std::string& credentials) {
  return "Authorization: Basic " + qf::MimeEncodeString(credentials) + "\r\n";
}

int StatusFrom(std::uint16_t port, const std::string& from, const std::string& headers) {
  qftest::Connection connection(port, from);
  if (!connection.Connected()) return -1;
  if (!connection.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers + "\r\n")) return -1;
  std::optional<qftest::HttpResponse> response = connection.Read();
  return response ? response->status : -1;
}

TEST(PasswordGuessing, TenFailuresRefuseThatAddressWithoutACheckAndTheLogSaysSo) {
  QuenforthProcess quenforth([](const fs::path& data) {
    AddToSetup(data, "enablePassword=1\r\n[Logfile]\r\nenable=1\r\ndate=0\r\nevent=0\r\nuser=0\r\ncommand=0\r\n");
    qftest::WriteFile(data / "user.ini", "[0]\r\nLogin=" + qf::MimeEncodeString("anna\xB7right") + "\r\n");
  });
  const std::uint16_t port = quenforth.Port();
  EXPECT_EQ(StatusFrom(port, "127.0.0.3", Basic("anna:right")), 200);
  // A browser asking without credentials first is no guess.
  for (int i = 0; i < 20; ++i) ASSERT_EQ(StatusFrom(port, "127.0.0.3", ""), 401);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(StatusFrom(port, "127.0.0.3", Basic("anna:guess" + std::to_string(i))), 401);
  EXPECT_EQ(StatusFrom(port, "127.0.0.3", Basic("anna:right")), 401) << "the right password is not even checked";
  EXPECT_EQ(StatusFrom(port, "127.0.0.4", Basic("anna:right")), 200) << "other addresses are not affected";

  std::string log = qftest::ReadFile(quenforth.DataFolder() / "logfile.txt");
  EXPECT_NE(log.find("127.0.0.3\tlogins refused for 60 s after 10 failed attempts\r\n"), std::string::npos) << log;
}

}  // namespace
