// File upload and the access log over HTTP against the real player: files stored byte for byte under a
// safe name beside (never over) existing ones, bodies that store nothing, the switch that allows uploads
// without user management, and log lines that carry only their switched-on fields and no forged ends.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/dimime.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using qftest::QuenforthProcess;

constexpr char kRefused[] = "File upload not allowed.";
constexpr char kBoundary[] = "----QuenforthTestBoundary7MA4YWxkTrZu0gW";

// The settings of these tests: uploads into C:\Uploads, and a log of the remote address and document only.
// With `users`, user management is on and user.ini holds them.
std::string Settings(bool allowUpload, bool users) {
  return std::string("[Setup]\r\nServerPort=0\r\nbindLocal=1\r\nallowUpload=") + (allowUpload ? "1" : "0") +
         "\r\nenablePassword=" + (users ? "1" : "0") +
         "\r\nRootDirectory=C:\\Uploads\r\nCurrentDirectory=C:\\Uploads\r\n"
         "[Logfile]\r\nenable=1\r\noverwrite=1\r\ndate=0\r\nevent=0\r\nip=1\r\nuser=0\r\ndocument=1\r\ncommand=0\r\n";
}

std::string Part(const std::string& fileName, const std::string& data) {
  return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n";
}

std::string Closing() { return std::string("--") + kBoundary + "--\r\n"; }

class UploadLogTest : public ::testing::Test {
 protected:
  void Start(bool allowUpload, const std::string& users = "") {
    quenforth_ = std::make_unique<QuenforthProcess>([allowUpload, users](const fs::path& data) {
      qftest::WriteFile(data / "quenforth.ini", Settings(allowUpload, !users.empty()));
      if (!users.empty()) qftest::WriteFile(data / "user.ini", users);
      qftest::WriteFile(data / "base/up.html", "Error=[<#errormessage>]");
      qftest::WriteFile(data / "logfile.txt", "a line from the last run\r\n");
      fs::path drive = data.parent_path().parent_path().parent_path().parent_path();
      fs::create_directories(drive / "Uploads");
      qftest::WriteFile(drive / "Uploads/existing.mp3", "the old file");
    });
  }

  std::optional<qftest::HttpResponse> Post(const std::string& body, const std::string& credentials = "") {
    std::string authorization =
        credentials.empty() ? "" : "Authorization: Basic " + qf::MimeEncodeString(credentials) + "\r\n";
    return qftest::Exchange(quenforth_->Port(),
                            std::string("POST /up.html HTTP/1.1\r\nHost: 127.0.0.1\r\n") + authorization +
                                "Connection: close\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
                                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  }

  // Posts one file; the page's error text.
  std::string Upload(const std::string& fileName, const std::string& data, const std::string& credentials = "") {
    auto response = Post(Part(fileName, data) + Closing(), credentials);
    EXPECT_TRUE(response);
    if (!response) return "no answer";
    EXPECT_EQ(response->status, 200);
    std::size_t open = response->body.find("Error=[");
    EXPECT_NE(open, std::string::npos) << response->body;
    if (open == std::string::npos) return "no page";
    return response->body.substr(open + 7, response->body.rfind(']') - open - 7);
  }

  fs::path Uploads() const { return quenforth_->Prefix() / "drive_c/Uploads"; }
  std::vector<std::string> UploadedNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Uploads())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::unique_ptr<QuenforthProcess> quenforth_;
};

TEST_F(UploadLogTest, AnUploadIsStoredByteForByte) {
  Start(true);
  std::string data;
  for (int round = 0; round < 40; ++round)
    for (int byte = 0; byte < 256; ++byte) data += static_cast<char>(byte);
  data += "\r\n--" + std::string(kBoundary).substr(0, 20) + "\r\n\r\n";  // a near-delimiter inside the data
  EXPECT_EQ(Upload("track.bin", data), "");
  EXPECT_EQ(qftest::ReadFile(Uploads() / "track.bin"), data);
}

TEST_F(UploadLogTest, AnUploadLargerThanTheBodyKeptInMemoryIsStoredByteForByte) {
  Start(true);
  std::string data;
  for (std::size_t i = 0; data.size() < (3u << 20); ++i) data += std::to_string(i * 7919) + "\r\n--";
  EXPECT_EQ(Upload("large.bin", data), "");
  EXPECT_TRUE(qftest::ReadFile(Uploads() / "large.bin") == data);
  EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"existing.mp3", "large.bin"}));
}

TEST_F(UploadLogTest, AFullClientPathIsReducedToItsLastComponent) {
  Start(true);
  EXPECT_EQ(Upload("C:\\Docs\\a.mp3", "audio"), "");
  EXPECT_EQ(Upload("..\\..\\Program Files\\Winamp\\b.mp3", "more"), "");
  EXPECT_EQ(qftest::ReadFile(Uploads() / "a.mp3"), "audio");
  EXPECT_EQ(qftest::ReadFile(Uploads() / "b.mp3"), "more");
  EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"a.mp3", "b.mp3", "existing.mp3"}));
}

TEST_F(UploadLogTest, ADeviceNameIsRefusedWithThePageAnswered) {
  Start(true);
  for (const char* name : {"CON.mp3", "C:\\Docs\\nul", "lpt1.txt", "a:b.mp3"})
    EXPECT_NE(Upload(name, "data").find(kRefused), std::string::npos) << name;
  EXPECT_EQ(UploadedNames(), std::vector<std::string>{"existing.mp3"});
}

TEST_F(UploadLogTest, AnExistingFileIsKeptAndTheNewOneNumbered) {
  Start(true);
  EXPECT_EQ(Upload("existing.mp3", "new one"), "");
  EXPECT_EQ(Upload("existing.mp3", "newer one"), "");
  EXPECT_EQ(qftest::ReadFile(Uploads() / "existing.mp3"), "the old file");
  EXPECT_EQ(qftest::ReadFile(Uploads() / "existing (2).mp3"), "new one");
  EXPECT_EQ(qftest::ReadFile(Uploads() / "existing (3).mp3"), "newer one");
}

TEST_F(UploadLogTest, ABodyWithoutItsClosingBoundaryStoresNothing) {
  Start(true);
  for (const std::string& body : {Part("cut.mp3", "data"), Part("cut.mp3", "data") + "--" + kBoundary,
                                  Part("cut.mp3", "data") + Part("second.mp3", "x")}) {
    auto response = Post(body);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_NE(response->body.find("Error=[]"), std::string::npos);
  }
  EXPECT_EQ(UploadedNames(), std::vector<std::string>{"existing.mp3"});
}

TEST_F(UploadLogTest, WithUploadsSwitchedOffNothingIsStoredAndThePageAnswered) {
  Start(false);
  EXPECT_NE(Upload("a.mp3", "data").find(kRefused), std::string::npos);
  EXPECT_EQ(UploadedNames(), std::vector<std::string>{"existing.mp3"});
}

TEST_F(UploadLogTest, LogLinesCarryOnlyTheRemoteAddressAndTheDocument) {
  Start(true);
  ASSERT_TRUE(qftest::Get(quenforth_->Port(), "/up.html?play&volume=50"));
  ASSERT_TRUE(qftest::Get(quenforth_->Port(), "/missing.html"));
  std::string log = qftest::ReadFile(quenforth_->DataFolder() / "logfile.txt");
  // The old file went at start-up; the start-up line has its time stamp whatever the switches say.
  std::size_t first = log.find("\r\n");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.substr(0, first).find("a line from the last run"), std::string::npos);
  EXPECT_NE(log.substr(0, first).find("\tQuenforth loaded"), std::string::npos) << log;
  EXPECT_EQ(log.substr(first + 2), "127.0.0.1\t/up.html\t\r\n127.0.0.1\t/missing.html\t\r\n");
}

// Accounts from user.ini: mode 2 takes each file up to the limit, mode 4 up to the limit in all (from
// what the account had already sent), mode 3 likewise but counted from nothing at each start, mode 0
// nothing, with the page answered each time. Sizes count in whole KB, so 1023 bytes count nothing.
TEST_F(UploadLogTest, EachAccountUploadsWithinItsModeAndLimit) {
  auto account = [](const std::string& name, const std::string& rest) {
    return "[" + name + "]\r\nLogin=" + qf::MimeEncodeString(name + "\xB7pw") +
           "\r\nRootDirectory=C:\\Uploads\r\nCurrentDirectory=C:\\Uploads\r\n" + rest;
  };
  Start(false, account("0", "uploadmode=2\r\nuploadlimit=1000\r\n") +
                   account("1", "uploadmode=4\r\nuploadlimit=1000\r\ncurrentupload=800\r\n") +
                   account("2", "uploadmode=0\r\nuploadlimit=1000\r\n") +
                   account("3", "uploadmode=3\r\nuploadlimit=1000\r\ncurrentupload=800\r\n"));
  EXPECT_EQ(Upload("each999.bin", std::string(999 * 1024, 'a'), "0:pw"), "");
  EXPECT_EQ(Upload("each1000.bin", std::string(1000 * 1024 + 1023, 'a'), "0:pw"), "");
  EXPECT_NE(Upload("each1001.bin", std::string(1001 * 1024, 'a'), "0:pw").find(kRefused), std::string::npos);
  EXPECT_NE(Upload("total201.bin", std::string(201 * 1024, 'b'), "1:pw").find(kRefused), std::string::npos);
  EXPECT_EQ(Upload("total200.bin", std::string(200 * 1024, 'b'), "1:pw"), "");
  EXPECT_EQ(Upload("total0.bin", std::string(1023, 'b'), "1:pw"), "");
  EXPECT_NE(Upload("total1.bin", std::string(1024, 'b'), "1:pw").find(kRefused), std::string::npos);
  EXPECT_NE(Upload("none.bin", "data", "2:pw").find(kRefused), std::string::npos);
  EXPECT_EQ(Upload("daily999.bin", std::string(999 * 1024, 'c'), "3:pw"), "");
  EXPECT_NE(Upload("daily2.bin", std::string(2 * 1024, 'c'), "3:pw").find(kRefused), std::string::npos);
  EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"daily999.bin", "each1000.bin", "each999.bin", "existing.mp3",
                                                       "total0.bin", "total200.bin"}));
}

TEST_F(UploadLogTest, ALineEndInTheRequestPathForgesNoLogLine) {
  Start(true);
  ASSERT_TRUE(qftest::Get(quenforth_->Port(), "/x%0D%0A6.6.6.6%09%2Fforged.html"));
  std::string log = qftest::ReadFile(quenforth_->DataFolder() / "logfile.txt");
  std::string requests = log.substr(log.find("\r\n") + 2);
  EXPECT_EQ(requests, "127.0.0.1\t/x%0D%0A6.6.6.6%09/forged.html\t\r\n");
}

}  // namespace
