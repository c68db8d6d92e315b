// The plug-in's whole life inside a stand-in player, loaded from gen_quen08.so as the player loads the
// DLL: init, one page served, the player's close (WM_CLOSE, then quit) and dlclose, twice over. Nothing
// may stay behind: no thread, no window procedure in the player's chain, no mapping of the object.

#include <dirent.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "http_client.h"
#include "platform/posix/emulation.h"
#include "platform/window.h"
#include "player/host_interface.h"
#include "standin_fixture.h"

namespace qftest {
namespace {

namespace fs = std::filesystem;
using qf::host::winampGeneralPurposePlugin;

int ThreadCount() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks))
      if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
  }
  return count;
}

// The port of the runner's status line "Quenforth: serving http://localhost:PORT/".
std::optional<std::uint16_t> ServingPort() {
  const std::string prefix = "Quenforth: serving http://localhost:";
  for (const auto& record : platform::emulation::Records())
    if (record.kind == platform::emulation::Record::Kind::Status && record.text.rfind(prefix, 0) == 0)
      return static_cast<std::uint16_t>(std::stoi(record.text.substr(prefix.size())));
  return std::nullopt;
}

// The window classes registered now, but for the stand-in player's own ("Winamp ..."), which it keeps.
std::vector<std::string> ClassesButThePlayers() {
  std::vector<std::string> names = platform::emulation::RegisteredWindowClasses();
  std::erase_if(names, [](const std::string& name) { return name.rfind("WINAMP", 0) == 0; });
  return names;
}

bool Loaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

// Someone who subclassed the player's main window after the plug-in: forwards everything to it.
std::atomic<platform::WNDPROC> subclassedBefore{nullptr};
platform::LRESULT QF_CALLBACK LaterSubclass(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                            platform::LPARAM lParam) {
  return platform::CallWindowProcA(subclassedBefore.load(), window, message, wParam, lParam);
}

class PluginUnloadTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    const fs::path data = folder_.Path() / "Program Files/Winamp/Plugins/quenforth";
    WriteFile(data / "quenforth.ini", "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\n");
    WriteFile(data / "base/index.html", "<p>served</p>");
    fs::create_directories(folder_.Path() / "Music");
    fs::create_directories(folder_.Path() / "Users/Quenforth/AppData/Roaming/Winamp");
  }

  struct Life {
    int initResult = -1;
    platform::LONG_PTR playersOwn = 0;       // the main window's procedure before init
    platform::LONG_PTR afterQuit = 0;        // and right after quit
    platform::LRESULT versionAfterQuit = 0;  // what the main window answers IPC_GETVERSION then
    std::optional<HttpResponse> page;        // GET / while the plug-in ran
  };

  // One life of the plug-in in a new player: init when the player has started, GET /, then the player
  // closes, which calls quit. With `subclassAfterInit`, another procedure subclasses after the plug-in.
  // `whileServing` runs after the page; `beforeQuit` once the player has handled WM_CLOSE (the plug-in's
  // host-closing sequence is over), on the player's thread.
  Life LiveOnce(const std::string& modulePath, bool subclassAfterInit = false,
                const std::function<void(std::uint16_t port)>& whileServing = {},
                const std::function<void()>& beforeQuit = {}) {
    Life life;
    void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(module, nullptr) << dlerror();
    if (!module) return life;
    auto entry = reinterpret_cast<winampGeneralPurposePlugin* (*)()>(dlsym(module, "winampGetGeneralPurposePlugin"));
    EXPECT_NE(entry, nullptr);
    if (entry) {
      winampGeneralPurposePlugin* plugin = entry();
      platform::emulation::ClearRecords();
      host::PlayerOptions options;
      options.libraryFolders = {"C:\\Music"};
      auto player = std::make_unique<host::StandInPlayer>(options);
      std::promise<void> initialised;
      platform::HWND main = nullptr;
      player->Start(
          [&](platform::HWND window) {
            main = window;
            life.playersOwn = platform::GetWindowLongPtrA(window, platform::GWL_WNDPROC);
            plugin->hwndParent = window;
            plugin->hDllInstance = module;
            life.initResult = plugin->init();
            // The player's configure call, which may come at any time: on Linux the window is its model.
            plugin->config();
            if (subclassAfterInit)
              subclassedBefore = reinterpret_cast<platform::WNDPROC>(platform::SetWindowLongPtrA(
                  window, platform::GWL_WNDPROC, reinterpret_cast<platform::LONG_PTR>(LaterSubclass)));
            initialised.set_value();
          },
          [&] {
            if (beforeQuit) beforeQuit();
            plugin->quit();
            life.afterQuit = platform::GetWindowLongPtrA(main, platform::GWL_WNDPROC);
            life.versionAfterQuit = platform::SendMessageA(main, qf::host::WM_WA_IPC, 0, qf::host::IPC_GETVERSION);
          });
      initialised.get_future().wait();
      if (std::optional<std::uint16_t> port = ServingPort()) {
        life.page = Get(*port, "/");
        if (whileServing) whileServing(*port);
      }
      player->Close();
    }
    EXPECT_EQ(dlclose(module), 0);
    return life;
  }
};

TEST_F(PluginUnloadTest, LoadServeQuitAndUnloadTwiceLeavesNothingBehind) {
  // A sanitizer's runtime starts a thread of its own with the first one the process creates: let that
  // happen before counting.
  std::thread([] {}).join();
  const int threadsBefore = ThreadCount();
  const std::vector<std::string> classesBefore = ClassesButThePlayers();
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Life life = LiveOnce(QF_PLUGIN_MODULE);
    EXPECT_EQ(life.initResult, 0);
    ASSERT_TRUE(life.page);
    EXPECT_EQ(life.page->status, 200);
    EXPECT_EQ(life.page->body, "<p>served</p>");
    EXPECT_NE(life.playersOwn, 0);
    EXPECT_EQ(life.afterQuit, life.playersOwn);  // the player's own procedure again
    EXPECT_FALSE(Loaded(QF_PLUGIN_MODULE));      // really unmapped: nothing kept it
    EXPECT_EQ(ThreadCount(), threadsBefore);
    EXPECT_EQ(ClassesButThePlayers(), classesBefore);
  }
}

// Pages do not have the player write its playlist again while it has told of no change: every change,
// by a client's command or by the player itself, is still on the next page.
TEST_F(PluginUnloadTest, EveryChangeOfThePlaylistIsOnTheNextPage) {
  const fs::path data = folder_.Path() / "Program Files/Winamp/Plugins/quenforth";
  WriteFile(data / "mime.ini", "[mime]\r\nhtml=text/html\r\n");
  WriteFile(data / "base/count.html", "<#playlist_numtracks>");
  const std::string song = AddTrack("one", 30);
  Life life = LiveOnce(QF_PLUGIN_MODULE, false, [&](std::uint16_t port) {
    auto count = [&](const std::string& target) {
      auto page = Get(port, target);
      return page ? page->body : std::string("<no answer>");
    };
    EXPECT_EQ(count("/count.html"), "00");
    EXPECT_EQ(count("/count.html"), "00");
    EXPECT_EQ(count("/count.html?add=" + qftest::Encoded(song)), "01");  // this request's own command
    EXPECT_EQ(count("/?add=" + qftest::Encoded(song)).empty(), false);   // another client's
    EXPECT_EQ(count("/count.html"), "02");
    // The player itself, as when its user drops a file on its window.
    platform::HWND main = platform::FindWindowA("Winamp v1.x", nullptr);
    platform::COPYDATASTRUCT data{qf::host::IPC_PLAYFILE, static_cast<platform::DWORD>(song.size() + 1),
                                  const_cast<char*>(song.c_str())};
    platform::SendMessageA(main, platform::WM_COPYDATA, 0, reinterpret_cast<platform::LPARAM>(&data));
    EXPECT_EQ(count("/count.html"), "03");
    platform::SendMessageA(main, qf::host::WM_WA_IPC, 0, qf::host::IPC_DELETE);
    EXPECT_EQ(count("/count.html"), "00");
  });
  EXPECT_EQ(life.initResult, 0);
}

TEST_F(PluginUnloadTest, QuitUnderALaterSubclassKeepsTheChainAndTheModule) {
  // A copy of its own, so that keeping it loaded leaves the other test's object alone.
  const fs::path copy = folder_.Path() / "gen_quen08_copy.so";
  fs::copy_file(QF_PLUGIN_MODULE, copy);
  Life life = LiveOnce(copy.string(), /*subclassAfterInit=*/true);
  EXPECT_EQ(life.initResult, 0);
  ASSERT_TRUE(life.page);
  EXPECT_EQ(life.page->status, 200);
  // The later procedure stays first and still reaches the player through the plug-in's, which only
  // forwards now and whose code stays mapped after dlclose.
  EXPECT_EQ(life.afterQuit, reinterpret_cast<platform::LONG_PTR>(LaterSubclass));
  EXPECT_EQ(life.versionAfterQuit, 0x5066);
  EXPECT_TRUE(Loaded(copy.string()));
}

TEST_F(PluginUnloadTest, ACommandStuckInAMessageBoxDoesNotHoldThePlayersClose) {
  // A shutdown that cannot get its privilege shows a message box on the request's thread; this one stays
  // up until the test lets it go.
  const fs::path data = folder_.Path() / "Program Files/Winamp/Plugins/quenforth";
  WriteFile(data / "quenforth.ini", "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\nallowShutdown=1\r\n");
  platform::emulation::SetHoldsShutdownPrivilege(false);
  platform::emulation::SetEnvironmentVariable("OS", "Windows_NT");
  std::mutex lock;
  std::condition_variable changed;
  bool boxShown = false, boxDismissed = false, boxTimedOut = false;
  platform::emulation::SetSink([&](const platform::emulation::Record& record) {
    if (record.kind != platform::emulation::Record::Kind::MessageBox) return;
    std::unique_lock held(lock);
    boxShown = true;
    changed.notify_all();
    // A safety bound only: the test dismisses the box long before, or fails.
    if (!changed.wait_for(held, std::chrono::seconds(120), [&] { return boxDismissed; }))
      boxDismissed = boxTimedOut = true;
  });
  std::future<std::optional<HttpResponse>> stuck;
  bool stuckWhenClosed = false;
  Life life = LiveOnce(
      QF_PLUGIN_MODULE, false,
      [&](std::uint16_t port) {
        stuck = std::async(std::launch::async, [port] { return Get(port, "/?shutdown"); });
        std::unique_lock held(lock);
        changed.wait_for(held, std::chrono::seconds(60), [&] { return boxShown; });
      },
      [&] {
        // The server has been stopped while the box is still up; only now is it dismissed, so that quit
        // can join the request's thread before the module goes.
        std::lock_guard held(lock);
        stuckWhenClosed = !boxDismissed;
        boxDismissed = true;
        changed.notify_all();
      });
  platform::emulation::SetSink({});
  platform::emulation::SetHoldsShutdownPrivilege(true);
  stuck.wait();
  EXPECT_EQ(life.initResult, 0);
  EXPECT_TRUE(boxShown);
  EXPECT_TRUE(stuckWhenClosed);
  EXPECT_FALSE(boxTimedOut);
  EXPECT_FALSE(Loaded(QF_PLUGIN_MODULE));
}

}  // namespace
}  // namespace qftest
