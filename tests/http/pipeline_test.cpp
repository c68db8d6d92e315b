// The request pipeline on its own: document mapping, containment, refusals and error pages.

#include "http/pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "core/quenforth.h"
#include "http/request.h"
#include "http/upload.h"
#include "platform/files.h"
#include "platform/posix/emulation.h"
#include "player/player.h"
#include "quenforth_process.h"

namespace qf {
namespace {

// Records what the pipeline sends instead of putting it on a connection.
struct RecordingChannel : ResponseChannel {
  bool SendContent(const TResponse& response) override {
    sentContent = response.ContentText;
    sentType = response.ContentType;
    return true;
  }
  FileResult SendFile(const TResponse& response, const std::string& path) override {
    if (!platform::FileExists(path)) return FileResult::Unreadable;
    sentFile = path;
    sentType = response.ContentType;
    return FileResult::Sent;
  }
  std::string sentContent, sentFile, sentType;
};

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core_.Player = &player_;
    platform::emulation::MapDrive('C', folder_.Path().string());
    qftest::WriteFile(folder_.Path() / "Plugins/quenforth/base/index.html", "<p>index</p>");
    qftest::WriteFile(folder_.Path() / "Plugins/quenforth/base/style.css", "p{}");
    qftest::WriteFile(folder_.Path() / "Plugins/quenforth/base/data.json", "{}");
    qftest::WriteFile(folder_.Path() / "Plugins/quenforth/user.ini", "[0]\r\nLogin=secret\r\n");
    qftest::WriteFile(folder_.Path() / "Plugins/quenforth/baseline/index.html", "other skin");
    core_.PluginFolder.Set("C:\\Plugins");
    Modify(core_.CurrentSettings, [&](Settings& s) { s.Skin = "base"; });
    core_.TemplateExtensions.Set(std::make_shared<TextList>(TextList{"html", "htm", "json"}));
    core_.TemplateContentTypes.Set(std::make_shared<TextList>(TextList{"text/html", "text/html", "application/json"}));
  }

  TResponse Run(const std::string& document, CommandKind kind = CommandKind::Get, TRequest request = {}) {
    request.Document = document;
    request.CommandType = kind;
    request.RemoteIP = "127.0.0.1";
    channel_ = RecordingChannel();
    TResponse response;
    response.Channel = &channel_;
    HTTPServer1CommandGet(core_, request, response);
    return response;
  }

  qftest::TempFolder folder_;
  TPlayer player_;  // no player window: every read gives 0 or ""
  TQuenforth core_;
  RecordingChannel channel_;
};

TEST_F(PipelineTest, RootAnswersTheSkinsIndexAsATemplate) {
  TResponse response = Run("/");
  EXPECT_TRUE(response.Written());
  EXPECT_EQ(channel_.sentContent, "<p>index</p>");
  EXPECT_EQ(channel_.sentType, "text/html");
  EXPECT_EQ(Run("/data.json").ContentType, "application/json");
}

TEST_F(PipelineTest, OtherFilesAreServedWithTheirMimeType) {
  TResponse response = Run("/style.css");
  EXPECT_EQ(channel_.sentFile, "C:\\Plugins\\quenforth\\base\\style.css");
  EXPECT_EQ(channel_.sentType, "text/css");
  // Without mime.ini nothing is a template: the index goes out as a file.
  core_.TemplateExtensions.Set(std::make_shared<TextList>());
  Run("/");
  EXPECT_EQ(channel_.sentFile, "C:\\Plugins\\quenforth\\base\\index.html");
}

TEST_F(PipelineTest, MissingFilesAnswer404NamingTheDocument) {
  TResponse response = Run("/missing.html");
  EXPECT_FALSE(response.Written());
  EXPECT_EQ(response.ResponseNo, 404);
  EXPECT_EQ(response.ContentText, ErrorPage(404, "/missing.html"));
}

TEST_F(PipelineTest, PathsOutsideTheSkinFolderAre403) {
  for (const char* document :
       {"/../secret.txt", "/../user.ini", "/..\\user.ini", "/../baseline/index.html", "/sub/../../user.ini"}) {
    TResponse response = Run(document);
    EXPECT_EQ(response.ResponseNo, 403) << document;
    EXPECT_EQ(response.ContentText, ErrorPage(403, document)) << document;
    EXPECT_FALSE(response.Written()) << document;
  }
  EXPECT_EQ(Run("/sub/../style.css").ResponseNo, 200);
}

TEST_F(PipelineTest, AnEmptyOrUnsafeSkinNameServesNothing) {
  for (const char* skin : {"", "..", "base\\..", "C:"}) {
    Modify(core_.CurrentSettings, [&](Settings& s) { s.Skin = skin; });
    for (const char* document : {"/", "/user.ini", "/quenforth.ini", "/base/index.html"}) {
      TResponse response = Run(document);
      EXPECT_EQ(response.ResponseNo, 403) << "skin '" << skin << "' " << document;
      EXPECT_FALSE(response.Written());
    }
  }
}

TEST_F(PipelineTest, NamesWindowsWouldResolveElsewhereAre403) {
  for (const char* document :
       {"/index.html::$DATA", "/index.html.", "/index.html%20", "/CON", "/aux.html", "/com1.css", "/lpt1"}) {
    std::string decoded = document;
    if (decoded == "/index.html%20") decoded = "/index.html ";
    EXPECT_EQ(Run(decoded).ResponseNo, 403) << document;
  }
}

TEST_F(PipelineTest, ErrorPagesEscapeTheDocument) {
  TResponse response = Run("/<script>alert(\"x\")</script>&.html");
  EXPECT_EQ(response.ResponseNo, 404);
  EXPECT_NE(response.ContentText.find("/&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;.html"),
            std::string::npos);
  EXPECT_EQ(response.ContentText.find("<script>"), std::string::npos);
}

TEST_F(PipelineTest, OtherMethodsAndShutdownGetTheServersDefault) {
  TResponse head = Run("/", CommandKind::Head);
  EXPECT_EQ(head.ResponseNo, 200);
  EXPECT_EQ(head.ContentText, "");
  EXPECT_FALSE(head.Written());
  core_.ShuttingDown = true;
  TResponse late = Run("/");
  EXPECT_EQ(late.ResponseNo, 200);
  EXPECT_FALSE(late.Written());
}

TEST_F(PipelineTest, WhitelistAndPasswordGates) {
  Modify(core_.CurrentSettings, [](Settings& settings) { settings.IPManagement = true; });
  EXPECT_EQ(Run("/").ResponseNo, 403);  // an empty whitelist refuses everybody, loopback included
  core_.IpWhitelist.Set(std::make_shared<TextList>(TextList{"127.0.0.0 - 127.0.0.255"}));
  EXPECT_EQ(Run("/").ResponseNo, 200);
  Modify(core_.CurrentSettings, [](Settings& settings) { settings.enablePassword = true; });
  TResponse refused = Run("/");
  EXPECT_EQ(refused.ResponseNo, 401);
  EXPECT_EQ(refused.AuthRealm, "Quenforth");
  EXPECT_EQ(refused.ContentText, ErrorPage(401, "/"));
}

// Requests check the whitelist and the accounts while the settings, the whitelist and the user list are
// replaced under them. Every state admits the request, so any answer but 200 is a torn read.
using ConcurrentPipelineTest = PipelineTest;
TEST_F(ConcurrentPipelineTest, AccessChecksWhileTheListsAreReplaced) {
  auto user = std::make_shared<UserClass>();
  user->Login = "ann";
  user->Password = "pw";
  user->Skin.Set("base");
  for (std::size_t day = 0; day < 7; ++day) user->DayTo[day] = 1.0;
  core_.Users.Set(std::make_shared<const UserList>(UserList{user}));
  core_.IpWhitelist.Set(std::make_shared<const TextList>(TextList{"127.0.0.1"}));
  std::atomic<bool> done{false};
  std::atomic<int> refused{0};
  std::vector<std::thread> requests;
  for (int t = 0; t < 4; ++t)
    requests.emplace_back([&] {
      while (!done) {
        TRequest request;
        request.Document = "/style.css";
        request.CommandType = CommandKind::Get;
        request.RemoteIP = "127.0.0.1";
        request.AuthUsername = "ANN";
        request.AuthPassword = "PW";
        RecordingChannel channel;
        TResponse response;
        response.Channel = &channel;
        HTTPServer1CommandGet(core_, request, response);
        if (response.ResponseNo != 200) ++refused;
      }
    });
  for (int round = 0; round < 2000; ++round) {
    Modify(core_.CurrentSettings, [&](Settings& settings) {
      settings.IPManagement = round % 2 == 0;
      settings.enablePassword = round % 3 == 0;
    });
    core_.IpWhitelist.Set(std::make_shared<const TextList>(TextList{"10.0.0.1", "127.0.0.0 - 127.0.0.255"}));
    auto copy = std::make_shared<UserClass>();
    copy->Login = "Ann";
    copy->Password = "Pw";
    copy->Skin.Set("base");
    copy->DayTo = user->DayTo;
    core_.Users.Set(std::make_shared<const UserList>(UserList{copy, user}));
  }
  done = true;
  for (auto& request : requests) request.join();
  EXPECT_EQ(refused, 0);
}

TEST_F(PipelineTest, RequestsPastTheWhitelistAreLoggedRefusedLoginsIncluded) {
  Modify(core_.CurrentSettings, [](Settings& s) {
    s.logfile = "C:\\log.txt";
    s.logEnable = true;
    s.logDate = s.logEvent = s.logUser = s.logCommand = false;
  });
  Modify(core_.CurrentSettings, [](Settings& settings) { settings.IPManagement = true; });
  EXPECT_EQ(Run("/refused.html").ResponseNo, 403);
  core_.IpWhitelist.Set(std::make_shared<TextList>(TextList{"127.0.0.1"}));
  Modify(core_.CurrentSettings, [](Settings& settings) { settings.enablePassword = true; });
  EXPECT_EQ(Run("/login.html").ResponseNo, 401);
  EXPECT_EQ(Run("/", CommandKind::Head).ResponseNo, 401);
  Modify(core_.CurrentSettings, [](Settings& settings) { settings.enablePassword = false; });
  Run("/head.html", CommandKind::Head);
  const std::string lines = "127.0.0.1\t/login.html\t\r\n127.0.0.1\t/\t\r\n127.0.0.1\t/head.html\t\r\n";
  EXPECT_EQ(qftest::ReadFile(folder_.Path() / "log.txt"), lines);
  Modify(core_.CurrentSettings, [&](Settings& s) { s.logEnable = false; });
  Run("/");
  EXPECT_EQ(qftest::ReadFile(folder_.Path() / "log.txt"), lines);
}

TEST_F(PipelineTest, APostStoresItsFileWithinTheUsersAllowanceAndStillAnswersThePage) {
  qftest::WriteFile(folder_.Path() / "Plugins/quenforth/base/up.html", "[<#errormessage>]");
  std::filesystem::create_directories(folder_.Path() / "Music");
  auto user = std::make_shared<UserClass>();
  user->Login = "ann";
  user->Password = "pw";
  user->DayTo.fill(1.0);
  user->Skin.Set("base");
  user->RootDirectory.Set("C:\\Music");
  user->CurrentDirectory.Set("C:\\Music");
  user->uploadmode = 2;
  user->uploadlimit = 1000;
  core_.Users.Set(std::make_shared<UserList>(UserList{user}));
  Modify(core_.CurrentSettings, [](Settings& settings) { settings.enablePassword = true; });

  auto post = [&](const std::string& name, std::size_t bytes) {
    std::string body = "--b0undary\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + name + "\"\r\n\r\n" +
                       std::string(bytes, 'x') + "\r\n--b0undary--\r\n";
    RequestBody stream;
    stream.Append(body.data(), body.size());
    TRequest request;
    request.AuthUsername = "ANN";
    request.AuthPassword = "PW";
    request.ContentType = "multipart/form-data; boundary=b0undary";
    request.PostStream = &stream;
    Run("/up.html", CommandKind::Post, request);
    return channel_.sentContent;
  };
  EXPECT_EQ(post("one.bin", 999 * 1024), "[]");
  EXPECT_EQ(post("two.bin", 999 * 1024 + 1023), "[]");
  EXPECT_EQ(post("three.bin", 1001 * 1024), std::string("[") + kUploadRefused + "]");
  EXPECT_EQ(user->currentupload.load(), 1998);
  EXPECT_EQ(std::filesystem::file_size(folder_.Path() / "Music/one.bin"), 999u * 1024);
  EXPECT_EQ(std::filesystem::file_size(folder_.Path() / "Music/two.bin"), 999u * 1024 + 1023);
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() / "Music/three.bin"));
}

TEST(ErrorPages, HaveTheirFixedTexts) {
  EXPECT_EQ(ErrorPage(404, "/x"),
            "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>404 Not Found</title>\n"
            "</head><body>\n<h1>Not Found</h1>\n<p>The requested URL /x was not found on this server.</p>\n"
            "</body></html>");
  EXPECT_EQ(ErrorPage(403, "/x"),
            "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>403 Forbidden</title>\n"
            "</head><body>\n<h1>Forbidden</h1>\n<p>You don't have permission to access /x on this server.</p>\n"
            "</body></html>");
  EXPECT_EQ(ErrorPage(401, "/x"),
            "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>401 Unauthorized</title>\n"
            "</head><body>\n<h1>Unauthorized</h1>\n<p>You don't have permission to access /x on this server.</p>\n"
            "</body></html>");
  EXPECT_EQ(ErrorPage(503, "/x"),
            "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>503 Service Unavailable"
            "</title>\n</head><body>\n<h1>Service Unavailable</h1>\n<p>The service you have requested is currently "
            "not available. (/x)</p>\n</body></html>");
}

}  // namespace
}  // namespace qf
