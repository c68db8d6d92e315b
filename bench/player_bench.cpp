// Benchmarks of the player interface: one message round trip from a request thread to the player's
// thread and back, and media-library queries over 50,000 records.

#include <benchmark/benchmark.h>

#include <filesystem>

#include "medialibrary.h"
#include "platform/posix/emulation.h"
#include "platform/window.h"
#include "player/host_interface.h"
#include "player/player.h"
#include "standin.h"

namespace {

// A stand-in player on an empty emulated drive, with a media library of `records` made-up items.
struct Player {
  explicit Player(int records) {
    folder = std::filesystem::temp_directory_path() / "quenforth-bench";
    std::filesystem::create_directories(folder);
    platform::emulation::MapDrive('C', folder.string());
    host::PlayerOptions options;
    options.keepPlaylist = false;
    player = std::make_unique<host::StandInPlayer>(options);
    player->Start();
    player->Call([records](host::PlayerState& state) {
      const char* artists[] = {"Copper Kites", "Mira Solvang", "The Quiet Orchard", "Juniper Rail", "Dalen Ostrova"};
      for (int i = 0; i < records; ++i) {
        const std::string filename = "C:\\Music\\" + std::to_string(i % 500) + "\\track " + std::to_string(i) + ".mp3";
        const std::string title = "Track number " + std::to_string(i), album = "Album " + std::to_string(i % 700);
        host::LibraryItem item;
        item.filename = filename;
        item.title = title;
        item.artist = artists[i % 5];
        item.album = album;
        item.genre = i % 3 ? "Rock" : "Folk";
        item.year = 1980 + i % 40;
        item.track = i % 12 + 1;
        item.length = 120 + i % 200;
        item.rating = i % 6;
        item.fileSize = 4 << 20;
        state.library.Add(std::move(item));
      }
    });
  }
  ~Player() {
    player->Close();
    std::filesystem::remove_all(folder);
  }
  std::filesystem::path folder;
  std::unique_ptr<host::StandInPlayer> player;
};

void MessageRoundTrip(benchmark::State& state) {
  Player player(0);
  qf::TPlayer remote;
  for (auto _ : state) benchmark::DoNotOptimize(remote.GetListLength());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MessageRoundTrip)->UseRealTime();

// Many request threads asking at once, as under a load of status pages: the player's thread handles
// one message after the other, so the figure per message is what the player's thread can serve.
void MessageRoundTripShared(benchmark::State& state) {
  static Player player(0);  // one player for every thread and run, made by the first thread to come
  qf::TPlayer remote;
  for (auto _ : state) benchmark::DoNotOptimize(remote.GetListLength());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MessageRoundTripShared)->Threads(8)->Threads(32)->UseRealTime();

void MediaLibraryQuery(benchmark::State& state, const char* text, bool search) {
  Player player(50000);
  platform::HWND library = qf::TPlayer().GetMediaLibraryWindow();
  std::string query = text;
  std::size_t results = 0;
  for (auto _ : state) {
    qf::host::mlQueryStruct request{};
    request.query = query.data();
    request.max_results = 50000;
    platform::SendMessageA(library, qf::host::WM_ML_IPC, reinterpret_cast<platform::WPARAM>(&request),
                           search ? qf::host::ML_IPC_DB_RUNQUERY_SEARCH : qf::host::ML_IPC_DB_RUNQUERY);
    results = static_cast<std::size_t>(request.results.Size);
    platform::SendMessageA(library, qf::host::WM_ML_IPC, reinterpret_cast<platform::WPARAM>(&request),
                           qf::host::ML_IPC_DB_FREEQUERYRESULTS);
  }
  state.counters["results"] = static_cast<double>(results);
  state.counters["records/s"] =
      benchmark::Counter(50000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(MediaLibraryQuery, query_all, "", false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(MediaLibraryQuery, query_has_and_rating, "artist HAS \"orchard\" && rating >= 3", false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(MediaLibraryQuery, search_text, "number 4", true)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
