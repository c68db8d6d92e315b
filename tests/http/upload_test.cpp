// The upload handler on its own: the names a client's file is stored under, the allowance by upload
// mode, and storing into an emulated music folder.

#include "http/upload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "core/quenforth.h"
#include "core/records.h"
#include "core/session.h"
#include "http/multipart.h"
#include "http/request.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;

TEST(UploadFileName, KeepsTheLastComponentAndRefusesWhatIsNoPlainName) {
  struct Case {
    std::string client;
    std::optional<std::string> stored;
  } cases[] = {
      {"a.mp3", "a.mp3"},
      {"C:\\Docs\\a.mp3", "a.mp3"},
      {"/home/me/song name.ogg", "song name.ogg"},
      {"..\\..\\Windows\\win.ini", "win.ini"},
      {"dir/sub\\mixed.txt", "mixed.txt"},
      {".hidden", ".hidden"},
      {"", std::nullopt},
      {"C:\\Docs\\", std::nullopt},
      {".", std::nullopt},
      {"..", std::nullopt},
      {"x/..", std::nullopt},
      {"C:a.mp3", std::nullopt},
      {"a.mp3:stream", std::nullopt},
      {"a\rb.mp3", std::nullopt},
      {"a\nb.mp3", std::nullopt},
      {"a\tb.mp3", std::nullopt},
      {std::string("a\0b", 3), std::nullopt},
      {"a\x7f"
       "b",
       std::nullopt},
      {"CON", std::nullopt},
      {"con.txt", std::nullopt},
      {"Nul.tar.gz", std::nullopt},
      {"AUX", std::nullopt},
      {"prn.mp3", std::nullopt},
      {"COM1", std::nullopt},
      {"com9.log", std::nullopt},
      {"LPT1.txt", std::nullopt},
      {"lpt9", std::nullopt},
      {"C:\\Docs\\CON.mp3", std::nullopt},
      {"COM10.txt", "COM10.txt"},
      {"CONSOLE.txt", "CONSOLE.txt"},
      {"trailing.", std::nullopt},
      {"trailing ", std::nullopt},
      {"a?b", std::nullopt},
      {"a*b", std::nullopt},
      {"a\"b", std::nullopt},
      {"a|b", std::nullopt},
      {"a<b>", std::nullopt},
      {std::string(240, 'n'), std::string(240, 'n')},
      {std::string(241, 'n'), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(UploadFileName(c.client), c.stored) << c.client;
}

TEST(NumberedName, PutsTheNumberBeforeTheExtension) {
  struct Case {
    const char* name;
    int n;
    const char* numbered;
  } cases[] = {
      {"a.mp3", 1, "a.mp3"},     {"a.mp3", 2, "a (2).mp3"},     {"a.b.mp3", 3, "a.b (3).mp3"},
      {"noext", 2, "noext (2)"}, {".hidden", 2, ".hidden (2)"}, {"a.mp3", 12, "a (12).mp3"},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberedName(c.name, c.n), c.numbered) << c.name << " " << c.n;
}

TEST(TakeAllowance, FollowsTheUploadModes) {
  struct Case {
    const char* why;
    std::int32_t mode, limit, current;
    std::uint64_t bytes;
    std::optional<std::int32_t> taken;
    std::int32_t currentAfter;
  } cases[] = {
      {"mode 0 never", 0, 1000, 0, 10, std::nullopt, 0},
      {"an unknown mode never", 5, 1000, 0, 10, std::nullopt, 0},
      {"a negative mode never", -1, 1000, 0, 10, std::nullopt, 0},
      {"mode 1 always, and counts", 1, 1, 7, 5000 * 1024, 5000, 5007},
      {"mode 2: 999 KB under 1000", 2, 1000, 0, 999 * 1024, 999, 999},
      {"mode 2: a second 999 KB too", 2, 1000, 999, 999 * 1024, 999, 1998},
      {"mode 2: 1001 KB over 1000", 2, 1000, 0, 1001 * 1024, std::nullopt, 0},
      {"mode 2: exactly the limit", 2, 1000, 0, 1000 * 1024 + 1023, 1000, 1000},
      {"mode 4: 800 + 200 = 1000", 4, 1000, 800, 200 * 1024, 200, 1000},
      {"mode 4: 800 + 201 > 1000", 4, 1000, 800, 201 * 1024, std::nullopt, 800},
      {"mode 3: 800 + 200 = 1000", 3, 1000, 800, 200 * 1024, 200, 1000},
      {"mode 3: 800 + 201 > 1000", 3, 1000, 800, 201 * 1024, std::nullopt, 800},
      {"1023 bytes count 0 KB", 4, 1000, 1000, 1023, 0, 1000},
      {"1024 bytes count 1 KB", 4, 1000, 1000, 1024, std::nullopt, 1000},
      {"the count stops at its largest value", 1, 1, 2147483000, 4096ull * 1024 * 1024, 647, 2147483647},
  };
  for (const Case& c : cases) {
    UserClass user;
    user.uploadmode = c.mode;
    user.uploadlimit = c.limit;
    user.currentupload = c.current;
    EXPECT_EQ(TakeAllowance(user, c.bytes), c.taken) << c.why;
    EXPECT_EQ(user.currentupload.load(), c.currentAfter) << c.why;
  }
}

TEST(ConcurrentUploadAllowance, SimultaneousUploadsNeitherLoseCountsNorPassTheLimitTogether) {
  UserClass user;
  user.uploadmode = 4;
  user.uploadlimit = 1000;
  std::atomic<int> accepted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i)
        if (TakeAllowance(user, 3 * 1024)) ++accepted;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(accepted.load(), 333);  // 333 * 3 KB = 999 KB; one more would pass the limit
  EXPECT_EQ(user.currentupload.load(), 999);
  GiveBackAllowance(user, 9);
  EXPECT_EQ(user.currentupload.load(), 990);
}

class StoreUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::emulation::MapDrive('C', folder_.Path().string());
    fs::create_directories(Music());
    fs::create_directories(folder_.Path() / "Plugins/quenforth/base");
    core_.PluginFolder.Set("C:\\Plugins");
    Modify(core_.CurrentSettings, [](Settings& s) { s.RootDirectory = "C:\\Music"; });
    Modify(core_.CurrentSettings, [](Settings& s) { s.CurrentDirectory = "C:\\Music"; });
    core_.AllowUpload = true;
  }
  void TearDown() override { platform::emulation::UnmapAllDrives(); }

  fs::path Music() const { return folder_.Path() / "Music"; }

  // Runs the handler on a one-part body; what it appended to ErrorMessage.
  std::string Upload(const std::string& fileName, const std::string& data, UserClass* user = nullptr,
                     const std::string& boundary = "XyZ") {
    std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
                       "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n--" + boundary + "--\r\n";
    return UploadBody(body, "multipart/form-data; boundary=" + boundary, user);
  }
  std::string UploadBody(const std::string& body, const std::string& contentType, UserClass* user = nullptr) {
    SessionData session;
    TextSource source(body);
    StoreUpload(core_, source, contentType, user, session);
    return session.ErrorMessage;
  }
  std::vector<std::string> MusicFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Music())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  qftest::TempFolder folder_;
  TQuenforth core_;
};

TEST_F(StoreUploadTest, StoresTheDataByteForByteUnderTheClientsBaseName) {
  std::string data;
  for (int i = 0; i < 3000; ++i) data += static_cast<char>(i * 7);
  EXPECT_EQ(Upload("C:\\Users\\me\\Desktop\\song.mp3", data), "");
  EXPECT_EQ(MusicFiles(), std::vector<std::string>{"song.mp3"});
  EXPECT_EQ(qftest::ReadFile(Music() / "song.mp3"), data);
}

TEST_F(StoreUploadTest, StoresABodyThatWentToAScratchFile) {
  std::string data;
  for (std::size_t i = 0; data.size() < 3 * RequestBody::kMemoryLimit; ++i) data += std::to_string(i) + "\r\n--XyZ-";
  std::string body = "--XyZ\r\nContent-Disposition: form-data; filename=\"big.txt\"\r\n\r\n" + data + "\r\n--XyZ--\r\n";
  RequestBody stream;
  for (std::size_t at = 0; at < body.size(); at += 40000)
    stream.Append(body.data() + at, std::min<std::size_t>(40000, body.size() - at));
  SessionData session;
  StoreUpload(core_, stream, "multipart/form-data; boundary=XyZ", nullptr, session);
  EXPECT_EQ(session.ErrorMessage, "");
  EXPECT_TRUE(qftest::ReadFile(Music() / "big.txt") == data);
}

TEST_F(StoreUploadTest, NeverReplacesAFileButNumbersTheNewOne) {
  qftest::WriteFile(Music() / "a.txt", "old");
  qftest::WriteFile(Music() / "A (2).TXT", "old two");
  EXPECT_EQ(Upload("a.txt", "new"), "");
  EXPECT_EQ(Upload("a.txt", "newer"), "");
  EXPECT_EQ(qftest::ReadFile(Music() / "a.txt"), "old");
  EXPECT_EQ(qftest::ReadFile(Music() / "A (2).TXT"), "old two");
  EXPECT_EQ(qftest::ReadFile(Music() / "a (3).txt"), "new");
  EXPECT_EQ(qftest::ReadFile(Music() / "a (4).txt"), "newer");
}

TEST_F(StoreUploadTest, ConcurrentUploadsOfOneNameEachGetTheirOwnFile) {
  constexpr int kUploads = 8;
  std::vector<std::thread> threads;
  std::vector<std::string> messages(kUploads);
  for (int i = 0; i < kUploads; ++i)
    threads.emplace_back([this, i, &messages] { messages[i] = Upload("same.txt", "upload " + std::to_string(i)); });
  for (std::thread& thread : threads) thread.join();
  for (const std::string& message : messages) EXPECT_EQ(message, "");
  std::vector<std::string> contents;
  for (int n = 1; n <= kUploads; ++n) contents.push_back(qftest::ReadFile(Music() / NumberedName("same.txt", n)));
  std::sort(contents.begin(), contents.end());
  for (int i = 0; i < kUploads; ++i) EXPECT_EQ(contents[i], "upload " + std::to_string(i));
  EXPECT_EQ(MusicFiles().size(), static_cast<std::size_t>(kUploads));
}

TEST_F(StoreUploadTest, RefusedNamesStoreNothingAndSaySo) {
  for (const char* name : {"CON.mp3", "..", "a:b", "x\\", "lpt3"})
    EXPECT_EQ(Upload(name, "data"), kUploadRefused) << name;
  EXPECT_TRUE(MusicFiles().empty());
}

TEST_F(StoreUploadTest, WhatIsNoFileUploadStoresNothingSilently) {
  EXPECT_EQ(Upload("", "data"), "");
  EXPECT_EQ(UploadBody("a=1&b=2", "application/x-www-form-urlencoded"), "");
  std::string truncated = "--XyZ\r\nContent-Disposition: form-data; filename=\"t.txt\"\r\n\r\ndata\r\n";
  EXPECT_EQ(UploadBody(truncated, "multipart/form-data; boundary=XyZ"), "");
  EXPECT_EQ(UploadBody(truncated + "--XyZ--", "multipart/form-data; boundary=other"), "");
  EXPECT_TRUE(MusicFiles().empty());
}

TEST_F(StoreUploadTest, WithoutUserManagementOnlyWhenUploadsAreAllowed) {
  core_.AllowUpload = false;
  EXPECT_EQ(Upload("a.txt", "x"), kUploadRefused);
  EXPECT_TRUE(MusicFiles().empty());
  core_.AllowUpload = true;
  EXPECT_EQ(Upload("a.txt", "x"), "");
  EXPECT_EQ(MusicFiles(), std::vector<std::string>{"a.txt"});
}

TEST_F(StoreUploadTest, AUserUploadsIntoHisCurrentFolderWithinHisAllowance) {
  core_.AllowUpload = false;  // the global switch is for requests without a user
  fs::create_directories(Music() / "mine");
  UserClass user;
  user.RootDirectory.Set("C:\\Music");
  user.CurrentDirectory.Set("C:\\Music\\mine");
  user.uploadmode = 4;
  user.uploadlimit = 1000;
  user.currentupload = 800;
  EXPECT_EQ(Upload("a.bin", std::string(201 * 1024, 'a'), &user), kUploadRefused);
  EXPECT_EQ(Upload("b.bin", std::string(200 * 1024, 'b'), &user), "");
  EXPECT_EQ(user.currentupload.load(), 1000);
  EXPECT_EQ(Upload("c.bin", std::string(1023, 'c'), &user), "");
  EXPECT_EQ(user.currentupload.load(), 1000);
  EXPECT_EQ(fs::file_size(Music() / "mine/b.bin"), 200u * 1024);
  EXPECT_EQ(fs::file_size(Music() / "mine/c.bin"), 1023u);
  EXPECT_FALSE(fs::exists(Music() / "mine/a.bin"));

  user.uploadmode = 0;
  EXPECT_EQ(Upload("d.bin", "d", &user), kUploadRefused);
}

TEST_F(StoreUploadTest, NeverIntoTheDataFolderNorOutsideTheAllowedFolders) {
  Modify(core_.CurrentSettings, [](Settings& s) { s.CurrentDirectory = "C:\\Plugins\\quenforth\\base"; });
  Modify(core_.CurrentSettings, [](Settings& s) { s.RootDirectory = "C:\\Plugins"; });
  EXPECT_EQ(Upload("page.html", "<#include file=..\\user.ini>"), kUploadRefused);
  EXPECT_FALSE(fs::exists(folder_.Path() / "Plugins/quenforth/base/page.html"));

  fs::create_directories(folder_.Path() / "Elsewhere");
  Modify(core_.CurrentSettings, [](Settings& s) { s.RootDirectory = "C:\\Music"; });
  Modify(core_.CurrentSettings, [](Settings& s) { s.CurrentDirectory = "C:\\Elsewhere"; });
  EXPECT_EQ(Upload("a.txt", "x"), kUploadRefused);
  EXPECT_TRUE(fs::is_empty(folder_.Path() / "Elsewhere"));
}

TEST_F(StoreUploadTest, AFailedWriteLeavesNoFileAndGivesTheAllowanceBack) {
  UserClass user;
  user.RootDirectory.Set("C:\\Music");
  user.CurrentDirectory.Set("C:\\Music\\gone");  // inside the root, but no such folder
  user.uploadmode = 4;
  user.uploadlimit = 1000;
  EXPECT_EQ(Upload("a.bin", std::string(5 * 1024, 'a'), &user), kUploadRefused);
  EXPECT_EQ(user.currentupload.load(), 0);

  // A read error while the data are copied: the source fails the copy's read (the data's exact length
  // from its start), after answering the reads that cut the part.
  struct FailingSource : ByteSource {
    std::string body;
    std::uint64_t dataBegin = 0, dataLength = 0;
    std::uint64_t Size() const override { return body.size(); }
    std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override {
      if (offset == dataBegin && size == dataLength) return size / 2;
      return TextSource(body).ReadAt(offset, data, size);
    }
  };
  user.CurrentDirectory.Set("C:\\Music");
  FailingSource source;
  std::string head = "--B\r\nContent-Disposition: form-data; filename=\"s.bin\"\r\n\r\n";
  source.body = head + std::string(5000, 's') + "\r\n--B--";
  source.dataBegin = head.size();
  source.dataLength = 5000;
  SessionData session;
  StoreUpload(core_, source, "multipart/form-data; boundary=B", &user, session);
  EXPECT_EQ(session.ErrorMessage, kUploadFailed);
  EXPECT_TRUE(MusicFiles().empty());
  EXPECT_EQ(user.currentupload.load(), 0);
}

}  // namespace
}  // namespace qf
