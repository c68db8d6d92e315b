// fakeamp.exe: the stand-in player as a Windows program, with real windows of the player's classes,
// loading the plug-in's DLL as the player does. The tests run it under Wine.
//
//   fakeamp.exe [run] --prefix FOLDER [--library WINDOWSPATH]... [--port N] [--speed FACTOR] [--verbose]
//                     [--plugin DLL] [--clock "yyyy-mm-dd hh:nn:ss"]
//   fakeamp.exe short-name PATH      prints the 8.3 form of an existing path (for tests of aliases)
//
// The program belongs in the player's folder: the plug-in takes the player's folder from the program's
// own path and its data folder from the plug-in folder, PROGRAM FOLDER\Plugins. FOLDER holds the user's
// profile, FOLDER\Users\Quenforth, with the application data where the player keeps its playlist and the
// music the media library is made of (unless --library names other folders).
//
// It closes as the player does (WM_CLOSE to its main window, the plug-in's quit, FreeLibrary, exit 0)
// when its main window closes, on Ctrl+C, or when its standard input is a pipe that says "close" or
// ends. A line "config" on that pipe calls the plug-in's config callback on the player's thread, as the
// player's preferences do, and prints "[host] config called" when it has returned. Message boxes never
// block: a watcher prints them as `[message box "caption"] text` and presses their default button.

// The platform headers come before <windows.h>, whose macros would rewrite the platform's names.
#include "../arguments.h"
#include "../prefix.h"
#include "../standin.h"
#include "core/inifile.h"
#include "platform/system.h"
#include "platform/window.h"
#include "player/host_interface.h"

// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
  std::string prefix;
  std::vector<std::string> libraries;
  std::optional<int> port;
  std::optional<std::string> plugin;
  bool verbose = false;
  double speed = 1.0;
  std::string clock;
};

const char kUsage[] =
    "usage: fakeamp.exe [run] --prefix FOLDER [--library WINDOWSPATH]... [--port N] [--speed FACTOR]\n"
    "                         [--verbose] [--plugin DLL] [--clock \"yyyy-mm-dd hh:nn:ss\"]\n"
    "       fakeamp.exe short-name PATH\n";

std::mutex printLock;

void Print(const std::string& line) {
  std::lock_guard guard(printLock);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "fakeamp: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

Options ParseArguments(int argc, char** argv) {
  Options options;
  int i = 1;
  if (i < argc && std::string(argv[i]) == "run") ++i;
  for (; i < argc; ++i) {
    std::string argument = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(argument + " needs a value");
      return argv[++i];
    };
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (argument == "--prefix") {
      options.prefix = value();
    } else if (argument == "--library") {
      options.libraries.push_back(value());
    } else if (argument == "--plugin") {
      options.plugin = value();
    } else if (argument == "--verbose") {
      options.verbose = true;
    } else if (argument == "--speed") {
      std::optional<double> speed = host::ParseSpeed(value());
      if (!speed) Fail("--speed wants a positive number");
      options.speed = *speed;
    } else if (argument == "--clock") {
      options.clock = value();
      if (!host::ValidClock(options.clock)) Fail("--clock wants a local time yyyy-mm-dd hh:nn:ss");
    } else if (argument == "--port") {
      options.port = host::ParsePort(value());
      if (!options.port) Fail("--port wants a number from 0 to 65535");
    } else {
      Fail("unknown option " + argument);
    }
  }
  if (options.prefix.empty()) Fail("--prefix is required");
  while (options.prefix.size() > 1 && (options.prefix.back() == '\\' || options.prefix.back() == '/'))
    options.prefix.pop_back();
  return options;
}

// The windows text of a path below the prefix: host::kUserProfile and its kin are C:\... paths.
std::string BelowPrefix(const std::string& prefix, const char* path) { return prefix + (path + 2); }

// The close requests that do not come through the main window: Ctrl+C and the control pipe.
HANDLE closeRequested = nullptr;
// The control pipe asked for the plug-in's configuration (an auto-reset event).
HANDLE configRequested = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
  SetEvent(closeRequested);
  return TRUE;
}

// Reads the standard input when it is a pipe: "close" or its end asks the player to close, "config" for
// the plug-in's configuration.
void WatchControlPipe() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_PIPE) return;
  std::thread([input] {
    std::string line;
    char c = 0;
    DWORD read = 0;
    while (ReadFile(input, &c, 1, &read, nullptr) && read == 1) {
      if (c != '\n') {
        if (line.size() < 64) line += c;
        continue;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line == "close") break;
      if (line == "config") SetEvent(configRequested);
      line.clear();
    }
    SetEvent(closeRequested);
  }).detach();
}

// Message boxes of this process: a dialog whose text is the static control 0xFFFF.
constexpr int kMessageBoxText = 0xFFFF;

struct Dialogs {
  DWORD process = GetCurrentProcessId();
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
  auto* dialogs = reinterpret_cast<Dialogs*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[16] = "";
  if (process == dialogs->process && GetClassNameA(window, className, sizeof className) &&
      std::string(className) == "#32770" && IsWindowVisible(window) && GetDlgItem(window, kMessageBoxText))
    dialogs->found.push_back(window);
  return TRUE;
}

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), length + 1)));
  return text;
}

// Prints each message box once and presses its default button, until `stop`. A box still there half a
// second after its press is pressed again: a press that reached it while it was still being made may be
// lost, and a box nobody closes would hold the player for ever.
void WatchMessageBoxes(const std::atomic<bool>& stop) {
  using Clock = std::chrono::steady_clock;
  std::map<HWND, Clock::time_point> pressed;
  while (!stop) {
    Dialogs dialogs;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    const Clock::time_point now = Clock::now();
    for (HWND dialog : dialogs.found) {
      auto found = pressed.find(dialog);
      if (found == pressed.end())
        Print("[message box \"" + WindowText(dialog) + "\"] " + WindowText(GetDlgItem(dialog, kMessageBoxText)));
      else if (now - found->second < std::chrono::milliseconds(500))
        continue;
      pressed[dialog] = now;
      LRESULT byDefault = SendMessageA(dialog, DM_GETDEFID, 0, 0);
      int button = HIWORD(byDefault) == DC_HASDEFID ? LOWORD(byDefault) : IDOK;
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    }
    // Handles are reused: forget the boxes that are gone.
    for (auto it = pressed.begin(); it != pressed.end();) it = IsWindow(it->first) ? std::next(it) : pressed.erase(it);
    Sleep(20);
  }
}

std::set<DWORD> ThreadsOfThisProcess() {
  std::set<DWORD> threads;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return threads;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) threads.insert(entry.th32ThreadID);
  CloseHandle(snapshot);
  return threads;
}

int Run(const Options& options) {
  const std::string playerFolder = platform::ExecutableFolder();
  const std::string pluginFolder = playerFolder + "\\Plugins";
  const std::string userProfile = BelowPrefix(options.prefix, host::kUserProfile);
  SetEnvironmentVariableA("OS", "Windows_NT");
  SetEnvironmentVariableA("USERNAME", "Quenforth");
  SetEnvironmentVariableA("USERPROFILE", userProfile.c_str());
  SetEnvironmentVariableA("APPDATA", BelowPrefix(options.prefix, host::kAppData).c_str());
  if (!options.clock.empty()) SetEnvironmentVariableA("QF_CLOCK_START", options.clock.c_str());
  CreateDirectoryA((BelowPrefix(options.prefix, host::kAppData) + "\\Winamp").c_str(), nullptr);
  if (options.port) {
    qf::IniFile settings(pluginFolder + "\\quenforth\\quenforth.ini");
    settings.WriteInteger("Setup", "ServerPort", *options.port);
    if (!settings.UpdateFile()) Fail("cannot write " + pluginFolder + "\\quenforth\\quenforth.ini");
  }

  closeRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  configRequested = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE playerClosed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  WatchControlPipe();
  std::set<DWORD> threadsBefore = ThreadsOfThisProcess();

  const std::string pluginPath = options.plugin.value_or(pluginFolder + "\\gen_quen08.dll");
  HMODULE module = LoadLibraryA(pluginPath.c_str());
  if (!module) Fail("cannot load the plug-in " + pluginPath + " (error " + std::to_string(GetLastError()) + ")");
  using Entry = qf::host::winampGeneralPurposePlugin* (*)();
  auto entry =
      reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "winampGetGeneralPurposePlugin")));
  if (!entry) Fail("the plug-in has no winampGetGeneralPurposePlugin");
  qf::host::winampGeneralPurposePlugin* plugin = entry();

  // The watcher starts once the DLL is loaded, before the plug-in's init can show a box. Calling into the
  // window system while the loader runs the DllMains of the DLL's imports (which register window
  // classes) now and then left Wine's loader and window system each waiting for the other.
  std::atomic<bool> stopWatching{false};
  std::promise<DWORD> watcherStarted;
  std::thread watcher([&] {
    watcherStarted.set_value(GetCurrentThreadId());
    WatchMessageBoxes(stopWatching);
  });
  threadsBefore.insert(watcherStarted.get_future().get());

  host::PlayerOptions playerOptions;
  playerOptions.pluginFolder = pluginFolder;
  playerOptions.libraryFolders = options.libraries;
  if (playerOptions.libraryFolders.empty())
    playerOptions.libraryFolders = {BelowPrefix(options.prefix, host::kMusicFolder)};
  playerOptions.speed = options.speed;
  playerOptions.verbose = options.verbose;
  std::optional<host::StandInPlayer> player(std::in_place, playerOptions);
  Print("Quenforth stand-in player on " + options.prefix);
  player->Start(
      [plugin, module](platform::HWND main) {
        plugin->hwndParent = main;
        plugin->hDllInstance = module;
        if (plugin->init() != 0) {
          std::fprintf(stderr, "fakeamp: the plug-in failed to start\n");
          PostMessageA(reinterpret_cast<HWND>(main), WM_CLOSE, 0, 0);
        }
      },
      [plugin, playerClosed] {
        plugin->quit();
        SetEvent(playerClosed);
      });

  HANDLE events[] = {playerClosed, closeRequested, configRequested};
  for (;;) {
    DWORD which = WaitForMultipleObjects(3, events, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 2) {
      // The player's preferences call it on the player's thread, which owns the plug-in's windows.
      player->Call([plugin](host::PlayerState&) { plugin->config(); });
      Print("[host] config called");
      continue;
    }
    if (which == WAIT_OBJECT_0 + 1 && player->Running()) {
      Print("Quenforth: closing the player");
      player->Close();
    }
    break;
  }
  player.reset();  // joins the player's thread
  bool freed = FreeLibrary(module) != 0;
  bool unloaded = GetModuleHandleA(pluginPath.c_str()) == nullptr;
  // The threads that came after the plug-in was loaded and are still there.
  int threadsLeft = 0;
  for (DWORD thread : ThreadsOfThisProcess()) threadsLeft += threadsBefore.count(thread) == 0;
  stopWatching = true;
  watcher.join();
  Print(std::string("[host] FreeLibrary ") + (freed ? "returned" : "failed") + ", the plug-in is " +
        (unloaded ? "unloaded" : "still loaded") + ", threads left: " + std::to_string(threadsLeft));
  Print("Quenforth: stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "short-name") {
    char shortName[MAX_PATH * 4];
    DWORD length = GetShortPathNameA(argv[2], shortName, sizeof shortName);
    if (length == 0 || length >= sizeof shortName) return 1;
    Print(std::string(shortName, length));
    return 0;
  }
  Options options = ParseArguments(argc, argv);
  try {
    return Run(options);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "fakeamp: %s\n", failure.what());
    return 1;
  }
}
