// Benchmarks of page production: text without tags, many simple tags, the base skin's index page and
// its status.json, the playlist of 10,000 entries listed whole and as a window of 50, a media library of
// 50,000 records paged by 50 and listed whole; and the pieces under them: reading a playlist file of
// 10,000 entries and CRC-32 (song ids, the added-by register).

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "core/crc32.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "pageproducer/playlist.h"
#include "pageproducer/producer.h"
#include "platform/posix/emulation.h"
#include "player/player.h"
#include "standin.h"

namespace {

namespace fs = std::filesystem;

// An emulated C: drive with the data folder and a stand-in player whose playlist has `entries` entries.
struct Setup {
  explicit Setup(int entries) {
    folder = fs::temp_directory_path() / "quenforth-page-bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "Plugins/quenforth/base");
    fs::create_directories(folder / "AppData/Player");
    platform::emulation::MapDrive('C', folder.string());
    platform::emulation::SetModuleFileName("C:\\Player\\winamp.exe");
    platform::emulation::SetEnvironmentVariable("APPDATA", "C:\\AppData");
    Write("item.html",
          "<li><a href=\"?playsong=<#playlist_songid>\"><#playlist_title maxlength=60></a> "
          "<#playlist_songlengthmin>:<#playlist_songlengthsec></li>\n");
    // The whole skin: its index page includes parts and produces list templates of its own.
    fs::copy(fs::path(QF_SOURCE_DATA) / "quenforth/base", folder / "Plugins/quenforth/base",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    host::PlayerOptions options;
    options.keepPlaylist = false;
    options.pluginFolder = "C:\\Plugins";
    player = std::make_unique<host::StandInPlayer>(options);
    player->Start();
    player->Call([entries](host::PlayerState& state) {
      for (int i = 0; i < entries; ++i)
        state.playlist.push_back(host::PlaylistEntry{
            "C:\\Music\\Artist " + std::to_string(i % 40) + "\\Track " + std::to_string(i) + ".mp3",
            "Artist " + std::to_string(i % 40) + " - Track " + std::to_string(i), 200000, 128, 44100, 2});
      state.current = entries / 2;
    });
    playerInterface = std::make_unique<qf::TPlayer>();
    core = std::make_unique<qf::TQuenforth>();
    core->Player = playerInterface.get();
    core->PluginFolder.Set("C:\\Plugins");
    core->PlaylistFolder.Set("C:\\AppData\\Player");
    Modify(core->CurrentSettings, [&](qf::Settings& s) { s.Charset = "iso-8859-1"; });
    session.SkinName = "base";
    session.TemplatePath = "C:\\Plugins\\quenforth\\base\\index.html";
  }
  ~Setup() {
    core.reset();
    playerInterface.reset();
    player->Close();
    fs::remove_all(folder);
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(folder / "Plugins/quenforth/base" / name, std::ios::binary) << text;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  std::string Produce(std::string_view text) {
    return qf::TMyPageProducer(nullptr, *core->Player, *core, session).Produce(text);
  }

  fs::path folder;
  std::unique_ptr<host::StandInPlayer> player;
  std::unique_ptr<qf::TPlayer> playerInterface;  // lent to the core object
  std::unique_ptr<qf::TQuenforth> core;
  qf::SessionData session;
};

void TagFreeText(benchmark::State& state) {
  Setup setup(0);
  std::string text;
  while (text.size() < (1 << 20)) text += "<p class=\"row\">Plain text of a page, no tags in it at all.</p>\n";
  for (auto _ : state) benchmark::DoNotOptimize(setup.Produce(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(text.size()) * state.iterations());
}
BENCHMARK(TagFreeText)->Unit(benchmark::kMicrosecond);

void SimpleTags(benchmark::State& state) {
  Setup setup(0);
  setup.session.ErrorMessage = "x";
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "<td><#errormessage></td>";
  for (auto _ : state) benchmark::DoNotOptimize(setup.Produce(text));
  state.SetItemsProcessed(1000 * state.iterations());
}
BENCHMARK(SimpleTags)->Unit(benchmark::kMicrosecond);

void TagsWithOptions(benchmark::State& state) {
  Setup setup(0);
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "<td><#Charset urlencoded=1 escape=1></td>";
  for (auto _ : state) benchmark::DoNotOptimize(setup.Produce(text));
  state.SetItemsProcessed(1000 * state.iterations());
}
BENCHMARK(TagsWithOptions)->Unit(benchmark::kMicrosecond);

void BaseIndexPage(benchmark::State& state) {
  Setup setup(30);
  std::string text = Setup::Read(fs::path(QF_SOURCE_DATA) / "quenforth/base/index.html");
  for (auto _ : state) benchmark::DoNotOptimize(setup.Produce(text));
}
BENCHMARK(BaseIndexPage)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The status the base skin's pages poll once a second: about fifty tags, most of them asking the player,
// and a window of 15 entries of a 30-entry playlist.
void BaseStatusJson(benchmark::State& state) {
  Setup setup(30);
  std::string text = Setup::Read(fs::path(QF_SOURCE_DATA) / "quenforth/base/status.json");
  for (auto _ : state) benchmark::DoNotOptimize(setup.Produce(text));
}
BENCHMARK(BaseStatusJson)->Unit(benchmark::kMicrosecond)->UseRealTime();

std::string PlaylistFile(int entries) {
  std::string text = "#EXTM3U\r\n";
  for (int i = 0; i < entries; ++i)
    text += "#EXTINF:" + std::to_string(180 + i % 200) + ",Artist " + std::to_string(i % 40) + " - Track " +
            std::to_string(i) + "\r\nC:\\Music\\Artist " + std::to_string(i % 40) + "\\Track " + std::to_string(i) +
            ".mp3\r\n";
  return text;
}

void ReadPlaylistFile(benchmark::State& state) {
  const std::string text = PlaylistFile(10000);
  for (auto _ : state) benchmark::DoNotOptimize(qf::ParsePlaylistFile(text));
  state.SetItemsProcessed(10000 * state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(text.size()) * state.iterations());
}
BENCHMARK(ReadPlaylistFile)->Unit(benchmark::kMicrosecond);

void Crc32(benchmark::State& state) {
  static const qf::Crc32Table table;
  const std::string bytes(static_cast<std::size_t>(state.range(0)), 'q');
  for (auto _ : state) benchmark::DoNotOptimize(table.Compute(bytes));
  state.SetBytesProcessed(state.range(0) * state.iterations());
}
BENCHMARK(Crc32)->Arg(48)->Arg(1 << 20);  // a song's path, and a megabyte

void PlaylistPage(benchmark::State& state, const char* page) {
  Setup setup(10000);
  std::size_t bytes = 0;
  for (auto _ : state) bytes = setup.Produce(page).size();
  state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK_CAPTURE(PlaylistPage, whole_10000, "<ul><#playlist template=item.html></ul>")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(PlaylistPage, window_50_of_10000, "<ul><#playlist template=item.html length=50></ul>")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The stand-in's library holds `records` made-up records; the page shows them with the usual item tags.
void MediaLibraryPage(benchmark::State& state, const char* page) {
  constexpr int kRecords = 50000;
  Setup setup(0);
  setup.player->Call([](host::PlayerState& player) {
    for (int i = 0; i < kRecords; ++i) {
      const std::string artist = "Artist " + std::to_string(i % 400);
      const std::string filename = "C:\\Music\\" + artist + "\\Track " + std::to_string(i) + ".mp3";
      const std::string title = "Track number " + std::to_string(i), album = "Album " + std::to_string(i % 700);
      host::LibraryItem item;
      item.filename = filename;
      item.title = title;
      item.artist = artist;
      item.album = album;
      item.genre = i % 3 ? "Rock" : "Folk";
      item.year = 1980 + i % 40;
      item.track = i % 12 + 1;
      item.length = 120 + i % 200;
      item.rating = i % 6;
      item.playCount = i % 9;
      item.fileSize = 4 << 20;
      player.library.Add(std::move(item));
    }
  });
  setup.Write(
      "ml.html",
      "<tr><td><a href=\"?file=<#medialibrary_form_filename urlencoded=1>\"><#medialibrary_title maxlength=60>"
      "</a></td><td><#medialibrary_artist></td><td><#medialibrary_album></td><td><#medialibrary_songlengthmin>:"
      "<#medialibrary_songlengthsec></td><td><#medialibrary_rating></td><td><#medialibrary_filesize></td></tr>\n");
  setup.session.MediaLibraryPage = "500";
  std::size_t bytes = 0;
  for (auto _ : state) bytes = setup.Produce(page).size();
  state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK_CAPTURE(MediaLibraryPage, page_50_of_50000,
                  "<table><#medialibrary template=ml.html length=50></table><#ml_results> <#ml_pages>")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(MediaLibraryPage, whole_50000, "<table><#medialibrary template=ml.html></table>")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
