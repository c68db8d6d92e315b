// What differs between the hosts, checked on each: how the player unloads the plug-in, and the file
// system's aliases that only Windows has.

#include <gtest/gtest.h>

#include <filesystem>

#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::Get;
using qftest::QuenforthProcess;

TEST(Host, ClosingUnloadsThePluginAndLeavesNoThread) {
  QuenforthProcess quenforth;
  // Threads the server started for requests must be gone too, not only its idle ones.
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(Get(quenforth.Port(), "/"));
  // A generous bound: a busy machine slows Wine down many times over, and a hang still fails.
  EXPECT_TRUE(quenforth.Stop(60s)) << quenforth.Output();
  EXPECT_NE(quenforth.Output().find("the plug-in is unloaded, threads left: 0"), std::string::npos)
      << quenforth.Output();
  EXPECT_NE(quenforth.Output().find("Quenforth: stopped"), std::string::npos);
}

TEST(Host, AnEightDotThreeAliasReachesNoFile) {
  const std::string secret = "only-by-its-long-name";
  QuenforthProcess quenforth([&](const fs::path& data) {
    qftest::WriteFile(data / "base/longfilename.html", secret);
    qftest::WriteFile(data / "user.ini", "[0]\r\nName=" + secret + "\r\n");
  });
  const std::string data = "C:\\Program Files\\Winamp\\Plugins\\quenforth";
  std::optional<std::string> skinFile = quenforth.ShortPath(data + "\\base\\longfilename.html");
  if (!skinFile) GTEST_SKIP() << "the host's file system has no 8.3 names";
  std::string alias = skinFile->substr(skinFile->find_last_of('\\') + 1);
  ASSERT_NE(alias, "longfilename.html");

  auto byName = Get(quenforth.Port(), "/longfilename.html");
  ASSERT_TRUE(byName);
  EXPECT_EQ(byName->body, secret);
  auto byAlias = Get(quenforth.Port(), "/" + alias);
  ASSERT_TRUE(byAlias);
  EXPECT_NE(byAlias->status, 200) << alias;
  EXPECT_EQ(byAlias->body.find(secret), std::string::npos) << alias;

  std::optional<std::string> settings = quenforth.ShortPath(data + "\\user.ini");
  ASSERT_TRUE(settings);
  for (const std::string& path : {*settings, *quenforth.ShortPath(data) + "\\user.ini"}) {
    auto download = Get(quenforth.Port(), "/?download=" + qftest::Encoded(path));
    ASSERT_TRUE(download) << path;
    EXPECT_EQ(download->body.find(secret), std::string::npos) << path;
  }
}

}  // namespace
