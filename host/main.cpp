// quenforth: the stand-in player with the plug-in inside, on an emulated Windows drive.
//
//   quenforth install --prefix DIR [--data DIR]
//   quenforth run --prefix DIR [--drive L=HOSTDIR[:LABEL]]... [--library WINDOWSPATH]... [--port N] [--verbose]
//                 [--speed FACTOR] [--clock "yyyy-mm-dd hh:nn:ss"] [--data DIR] [--without-plugin]

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "arguments.h"
#include "core/inifile.h"
#include "editor.h"
#include "platform/posix/emulation.h"
#include "platform/system.h"
#include "platform/window.h"
#include "player/host_interface.h"
#include "prefix.h"
#include "standin.h"

namespace {

namespace fs = std::filesystem;
namespace emulation = platform::emulation;

struct Options {
  std::string command;
  std::optional<fs::path> prefix;
  fs::path data = QF_SOURCE_DATA;
  struct MappedDrive {
    fs::path folder;
    std::string label;
  };
  std::map<char, MappedDrive> drives;
  std::vector<std::string> libraries;
  std::optional<int> port;
  bool verbose = false;
  double speed = 1.0;
  std::string clock;
  bool withoutPlugin = false;  // the player alone, for what the plug-in adds to it
};

const char kUsage[] =
    "usage: quenforth install --prefix DIR [--data DIR]\n"
    "       quenforth run --prefix DIR [--drive L=HOSTDIR[:LABEL]]... [--library WINDOWSPATH]...\n"
    "                     [--port N] [--verbose] [--speed FACTOR] [--clock \"yyyy-mm-dd hh:nn:ss\"] [--data DIR]\n"
    "                     [--without-plugin]\n"
    "       quenforth config --prefix DIR ...    (quenforth config --help)\n"
    "       quenforth user --prefix DIR ...      (quenforth user --help)\n";

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "quenforth: " << message << "\n" << kUsage;
  std::exit(2);
}

Options ParseArguments(int argc, char** argv) {
  Options options;
  if (argc < 2) Fail("no command given");
  options.command = argv[1];
  if (options.command == "--help" || options.command == "-h") {
    std::cout << kUsage;
    std::exit(0);
  }
  if (options.command != "install" && options.command != "run") Fail("unknown command " + options.command);
  for (int i = 2; i < argc; ++i) {
    std::string argument = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(argument + " needs a value");
      return argv[++i];
    };
    if (argument == "--prefix") {
      options.prefix = fs::absolute(value());
    } else if (argument == "--data") {
      options.data = fs::absolute(value());
    } else if (argument == "--drive") {
      std::string mapping = value();
      if (mapping.size() < 3 || mapping[1] != '=' || !std::isalpha(static_cast<unsigned char>(mapping[0])))
        Fail("--drive wants L=HOSTDIR[:LABEL], got " + mapping);
      // The volume label follows the folder's last ":"; a drive without one has no label.
      std::string folder = mapping.substr(2);
      std::string label;
      if (std::size_t colon = folder.rfind(':'); colon != std::string::npos) {
        label = folder.substr(colon + 1);
        folder.erase(colon);
      }
      if (folder.empty()) Fail("--drive wants L=HOSTDIR[:LABEL], got " + mapping);
      options.drives[static_cast<char>(std::toupper(static_cast<unsigned char>(mapping[0])))] = {fs::absolute(folder),
                                                                                                 label};
    } else if (argument == "--library") {
      options.libraries.push_back(value());
    } else if (argument == "--verbose") {
      options.verbose = true;
    } else if (argument == "--without-plugin") {
      options.withoutPlugin = true;
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
  if (!options.prefix) Fail("--prefix is required");
  return options;
}

void Print(const emulation::Record& record) {
  switch (record.kind) {
    case emulation::Record::Kind::Status:
      std::printf("%s\n", record.text.c_str());
      break;
    case emulation::Record::Kind::MessageBox:
      std::printf("[message box \"%s\"] %s\n", record.caption.c_str(), record.text.c_str());
      break;
    case emulation::Record::Kind::Power:
      std::printf("[power] %s(%s) recorded, not carried out\n", record.caption.c_str(), record.text.c_str());
      break;
    case emulation::Record::Kind::Dialog:
      std::printf("[dialog \"%s\"] %s\n", record.caption.c_str(), record.text.c_str());
      break;
    case emulation::Record::Kind::Shell:
      std::printf("[shell] open %s\n", record.text.c_str());
      break;
  }
  std::fflush(stdout);
}

// Hundreds of browsers may hold connections at once; the default of 1024 descriptors is too few.
void RaiseDescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? 65536 : std::min<rlim_t>(limit.rlim_max, 65536);
  if (limit.rlim_cur < wanted) {
    limit.rlim_cur = wanted;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// The player's process on Windows has one heap that all its threads allocate from. glibc gives a thread
// that allocates while another does an arena of its own, up to eight per core, and keeps what each arena
// once held: after a load of pages produced on a dozen pool threads the process stayed at several times
// its idle size. So there is one arena, as there is one heap (small blocks come from each thread's own
// cache without its lock). Blocks of up to 32 MiB (a media-library result set of 50,000 records is
// about 11 MB, a long playlist page several) come from it too, and what is freed stays in it while the
// load lasts, instead of being mapped fresh, faulted in page by page and cleared for every request: the
// plug-in's server gives it back (malloc_trim) once requests have stopped for two seconds. That is a second
// reason for one arena: malloc_trim gives back the free end of the main arena only, never of the others.
void ShareOneHeap() {
#ifdef M_ARENA_MAX
  mallopt(M_ARENA_MAX, 1);
#endif
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

std::set<int> ThreadsOfThisProcess() {
  std::set<int> threads;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc/self/task", ignored))
    threads.insert(std::atoi(entry.path().filename().c_str()));
  return threads;
}

void SetUpEmulation(const Options& options, const host::Prefix& prefix) {
  host::EmulateWindowsOn(prefix);
  for (auto& [letter, drive] : options.drives) {
    if (!fs::is_directory(drive.folder))
      Fail("--drive " + std::string(1, letter) + ": no folder " + drive.folder.string());
    emulation::MapDrive(letter, drive.folder.string(), drive.label);
  }
  if (!options.clock.empty()) emulation::SetEnvironmentVariable("QF_CLOCK_START", options.clock);
}

int Run(const Options& options) {
  ShareOneHeap();  // before any thread starts
  host::Prefix prefix{*options.prefix};
  if (!prefix.Installed()) host::Install(prefix, options.data, QF_ID3V2LIBRARY);
  // Held until the process ends: `quenforth config` and `quenforth user` leave the prefix alone meanwhile.
  const int runLock = host::HoldRunLock(prefix.root.c_str());
  (void)runLock;
  SetUpEmulation(options, prefix);
  if (options.port) {
    qf::IniFile settings(std::string(host::kDataFolder) + "\\quenforth.ini");
    settings.WriteInteger("Setup", "ServerPort", *options.port);
    if (!settings.UpdateFile()) Fail("cannot write quenforth.ini");
  }
  RaiseDescriptorLimit();

  // Signals are taken by this thread alone, with sigwait; every thread started from here blocks them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  emulation::SetSink(Print);

  // The plug-in comes from its own module, found by its one export, as the player loads the DLL; it is
  // unloaded after the player's thread has ended.
  const std::set<int> threadsBefore = ThreadsOfThisProcess();
  std::unique_ptr<void, int (*)(void*)> module(nullptr, dlclose);
  qf::host::winampGeneralPurposePlugin* plugin = nullptr;
  if (!options.withoutPlugin) {
    module.reset(dlopen(QF_PLUGIN_MODULE, RTLD_NOW | RTLD_LOCAL));
    if (!module) throw std::runtime_error(std::string("cannot load the plug-in: ") + dlerror());
    using Entry = qf::host::winampGeneralPurposePlugin* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(module.get(), "winampGetGeneralPurposePlugin"));
    if (!entry) throw std::runtime_error("the plug-in has no winampGetGeneralPurposePlugin");
    plugin = entry();
  }
  host::PlayerOptions playerOptions;
  playerOptions.pluginFolder = host::kPluginFolder;
  playerOptions.libraryFolders = options.libraries;
  if (playerOptions.libraryFolders.empty()) playerOptions.libraryFolders = {host::kMusicFolder};
  playerOptions.speed = options.speed;
  playerOptions.verbose = options.verbose;
  host::StandInPlayer player(playerOptions);
  std::printf("Quenforth stand-in player on %s\n", prefix.root.c_str());
  std::fflush(stdout);
  player.Start(
      [plugin, instance = module.get()](platform::HWND main) {
        // The player has read its playlist and library: what reading them took and freed goes back
        // before the plug-in starts, with it or without (the heap is kept while a load lasts).
        platform::ReleaseFreeMemory();
        if (!plugin) {
          std::printf("Quenforth: the player runs without the plug-in\n");
          std::fflush(stdout);
          return;
        }
        plugin->hwndParent = main;
        plugin->hDllInstance = instance;
        if (plugin->init() != 0) {
          std::fprintf(stderr, "quenforth: the plug-in failed to start\n");
          platform::PostMessageA(main, platform::WM_CLOSE, 0, 0);
        }
      },
      [plugin] {
        if (plugin) plugin->quit();
        kill(getpid(), SIGUSR1);  // the player is closing: wake the waiting thread
      });

  int signal = 0;
  sigwait(&signals, &signal);
  if (signal != SIGUSR1) {
    std::printf("Quenforth: closing the player\n");
    std::fflush(stdout);
    player.Close();
  }
  player.Join();
  if (!plugin) {
    std::printf("Quenforth: stopped\n");
    return 0;
  }
  // The player unloads its plug-ins last; nothing of the plug-in may outlive it.
  module.reset();
  void* stillLoaded = dlopen(QF_PLUGIN_MODULE, RTLD_NOW | RTLD_NOLOAD);
  if (stillLoaded) dlclose(stillLoaded);
  int threadsLeft = 0;
  for (int thread : ThreadsOfThisProcess()) threadsLeft += threadsBefore.count(thread) == 0;
  std::printf("[host] dlclose returned, the plug-in is %s, threads left: %d\n",
              stillLoaded ? "still loaded" : "unloaded", threadsLeft);
  std::printf("Quenforth: stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::string(argv[1]) == "config" || std::string(argv[1]) == "user"))
    return host::RunEditor(argc, argv);
  Options options = ParseArguments(argc, argv);
  try {
    if (options.command == "install") {
      host::Install(host::Prefix{*options.prefix}, options.data, QF_ID3V2LIBRARY);
      std::printf("installed %s\n", options.prefix->c_str());
      return 0;
    }
    return Run(options);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "quenforth: %s\n", failure.what());
    return 1;
  }
}
