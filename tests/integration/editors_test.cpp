// `quenforth config` and `quenforth user` on a prefix whose player is stopped, then the player started on
// it: what they changed is in force over HTTP. They are the Linux runner's own commands, so the tests
// skip on the Wine host.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/dimime.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;

#define SKIP_ON_WINE()                                                                             \
  if (qftest::TestHost() == qftest::Host::Wine)                                                    \
  GTEST_SKIP() << "quenforth config and quenforth user belong to the Linux runner; the Wine host " \
                  "has no such commands"

// The prefix that holds a data folder: PREFIX/drive_c/Program Files/Winamp/Plugins/quenforth.
std::string PrefixOf(const fs::path& dataFolder) {
  return dataFolder.parent_path().parent_path().parent_path().parent_path().parent_path().string();
}

// Runs an editor command on the prefix and fails the test when it does not succeed.
void Edit(const fs::path& dataFolder, const std::string& command, std::vector<std::string> words) {
  std::vector<std::string> arguments{command, "--prefix", PrefixOf(dataFolder)};
  arguments.insert(arguments.end(), words.begin(), words.end());
  qftest::RunResult result = qftest::RunQuenforth(arguments);
  ASSERT_EQ(result.status, 0) << result.output;
}

int StatusOf(std::uint16_t port, const std::string& from, const std::string& credentials = "") {
  qftest::Connection connection(port, from);
  std::string request = "GET / HTTP/1.0\r\n";
  if (!credentials.empty()) request += "Authorization: Basic " + qf::MimeEncodeString(credentials) + "\r\n";
  if (!connection.Send(request + "\r\n")) return 0;
  auto response = connection.Read();
  return response ? response->status : 0;
}

// A port nobody listens on now, from the system.
int FreePort() {
  int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(socket);
  return ntohs(address.sin_port);
}

TEST(Editors, UserAddedOfflineSignsInOnceUserManagementIsOn) {
  SKIP_ON_WINE();
  qftest::QuenforthProcess quenforth([](const fs::path& data) {
    Edit(data, "user", {"add", "ann", "Secret:1", "--right", "change_state=1", "--day", "all=00:00:00-23:59:59"});
    Edit(data, "config", {"set", "enable user management", "1"});
  });
  EXPECT_EQ(StatusOf(quenforth.Port(), ""), 401);
  EXPECT_EQ(StatusOf(quenforth.Port(), "", "ann:Secret:1"), 200);
  EXPECT_EQ(StatusOf(quenforth.Port(), "", "ANN:Secret:1"), 200);
  EXPECT_EQ(StatusOf(quenforth.Port(), "", "ann:Secret"), 401);
}

TEST(Editors, DeletedAndRefusedUsersCannotSignIn) {
  SKIP_ON_WINE();
  qftest::QuenforthProcess quenforth([](const fs::path& data) {
    Edit(data, "user", {"add", "ann", "pw1"});
    Edit(data, "user", {"add", "bob", "pw2"});
    Edit(data, "user", {"delete", "ann"});
    qftest::RunResult duplicate = qftest::RunQuenforth({"user", "--prefix", PrefixOf(data), "add", "BOB", "other"});
    EXPECT_EQ(duplicate.status, 1);
    EXPECT_NE(duplicate.output.find("This user already exists! Please choose another login name."), std::string::npos)
        << duplicate.output;
    Edit(data, "config", {"set", "enablePassword", "on"});
  });
  EXPECT_EQ(StatusOf(quenforth.Port(), "", "ann:pw1"), 401);
  EXPECT_EQ(StatusOf(quenforth.Port(), "", "BOB:other"), 401);
  EXPECT_EQ(StatusOf(quenforth.Port(), "", "bob:pw2"), 200);
}

TEST(Editors, PortSetOfflineIsServedOn) {
  SKIP_ON_WINE();
  const int port = FreePort();
  qftest::QuenforthProcess quenforth([port](const fs::path& data) {
    Edit(data, "config", {"set", "webserver port", std::to_string(port)});
  });
  EXPECT_EQ(quenforth.Port(), port);
  EXPECT_EQ(StatusOf(quenforth.Port(), ""), 200);
}

TEST(Editors, WhitelistEntryAddedOfflineIsTheOnlyAddressAdmitted) {
  SKIP_ON_WINE();
  qftest::QuenforthProcess quenforth([](const fs::path& data) {
    Edit(data, "config", {"whitelist", "add", "127.0.0.2"});
    Edit(data, "config", {"set", "IPManagement", "1"});
  });
  EXPECT_EQ(StatusOf(quenforth.Port(), "127.0.0.2"), 200);
  EXPECT_EQ(StatusOf(quenforth.Port(), "127.0.0.3"), 403);
}

TEST(Editors, RefuseWhileThePlayerRunsAndNotAfterItDied) {
  SKIP_ON_WINE();
  qftest::QuenforthProcess quenforth;
  const std::string prefix = quenforth.Prefix().string();
  qftest::RunResult refused = qftest::RunQuenforth({"config", "--prefix", prefix, "set", "RemovePlayed", "1"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("the player is running"), std::string::npos) << refused.output;
  EXPECT_EQ(qftest::RunQuenforth({"user", "--prefix", prefix, "list"}).status, 1);

  // A player that crashed holds nothing: its lock went with it.
  ::kill(quenforth.Pid(), SIGKILL);
  EXPECT_NE(quenforth.WaitExit(std::chrono::seconds(30)), -1);
  qftest::RunResult done = qftest::RunQuenforth({"config", "--prefix", prefix, "set", "RemovePlayed", "1"});
  EXPECT_EQ(done.status, 0) << done.output;
  qftest::RunResult listed = qftest::RunQuenforth({"config", "--prefix", prefix, "list"});
  EXPECT_NE(listed.output.find("[x] remove played songs"), std::string::npos) << listed.output;
}

TEST(Editors, UnknownAndAmbiguousNamesAreRefusedSayingWhy) {
  SKIP_ON_WINE();
  qftest::TempFolder prefix;
  ASSERT_EQ(qftest::RunQuenforth({"install", "--prefix", prefix.Path().string()}).status, 0);
  struct Case {
    std::vector<std::string> words;
    const char* says;
  } cases[] = {{{"config", "set", "enable", "1"}, "Logfile/enable Setup/IPManagement"},
               {{"config", "set", "no such thing", "1"}, "no setting is called 'no such thing'"},
               {{"config", "set", "display other drives", "1"}, "is disabled"},
               {{"config", "set", "RemovePlayed", "maybe"}, "neither 1 nor 0"},
               {{"config", "set", "root folder", "C:\\Nowhere"}, "The given path is invalid!"},
               {{"user", "edit", "ghost"}, "no user is called ghost"},
               {{"user", "add", "ann", "pw", "--day", "Mo=25:00:00-26:00:00"}, "Please enter a valid timestring."}};
  for (const Case& c : cases) {
    std::vector<std::string> arguments{c.words[0], "--prefix", prefix.Path().string()};
    arguments.insert(arguments.end(), c.words.begin() + 1, c.words.end());
    qftest::RunResult result = qftest::RunQuenforth(arguments);
    EXPECT_EQ(result.status, 1) << c.says;
    EXPECT_NE(result.output.find(c.says), std::string::npos) << result.output;
  }
}

}  // namespace
