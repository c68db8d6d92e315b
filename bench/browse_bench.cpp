// The folder browser's costs: a file search over a cache of 100,000 files in 5,000 folders, with and
// without subfolders, and the listing of a folder of 5,000 files against the full extension list.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "browse/listing.h"
#include "browse/search.h"
#include "core/text.h"
#include "platform/posix/emulation.h"

namespace {

namespace fs = std::filesystem;
using namespace qf;

// 100,000 files: 50 artists, 100 albums each, 20 tracks per album, in scan order.
const PackedTextList& Cache() {
  static const PackedTextList cache = [] {
    PackedTextList entries;
    for (int artist = 0; artist < 50; ++artist)
      for (int album = 0; album < 100; ++album)
        for (int track = 0; track < 20; ++track)
          entries.push_back(Format("D:\\Music\\Artist %02d\\Album %03d\\%02d Some Track Title %d.mp3", artist, album,
                                   track, artist * 2000 + album * 20 + track));
    return entries;
  }();
  return cache;
}

void SearchFilesBench(benchmark::State& state, SearchDepth depth) {
  for (auto _ : state) {
    TextList results;
    SearchFiles(Cache(), "D:\\Music", depth, "title 1234", results);
    benchmark::DoNotOptimize(results);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Cache().size()));
}

void SearchFoldersBench(benchmark::State& state, SearchDepth depth) {
  for (auto _ : state) {
    TextList results;
    SearchFolders(Cache(), "D:\\Music", depth, "album 04", results);
    benchmark::DoNotOptimize(results);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Cache().size()));
}

BENCHMARK_CAPTURE(SearchFilesBench, AllLevels, SearchDepth::AllLevels)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SearchFilesBench, DirectContent, SearchDepth::DirectContent)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SearchFoldersBench, AllLevels, SearchDepth::AllLevels)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SearchFoldersBench, DirectContent, SearchDepth::DirectContent)->Unit(benchmark::kMillisecond);

// The extension list the player gives when it reports no list of its own, with the shortcut twins.
SortedTextList BuiltInExtensions() {
  SortedTextList extensions;
  for (const std::string& extension :
       TextList{"CDA", "MPG", "MPEG", "M2V", "AVI", "ASF",  "WMV", "MID", "MIDI", "RMI", "KAR", "MIZ",
                "mod", "mdz", "nst",  "stm", "stz", "s3m",  "s3z", "it",  "itz",  "xm",  "xmz", "mtm",
                "ult", "669", "far",  "amf", "okt", "ptm",  "MP3", "MP2", "MP1",  "NSV", "NSA", "OGG",
                "WAV", "VOC", "AU",   "SND", "AIF", "AIFF", "wma", "m3u", "pls"}) {
    extensions.Add(extension);
    extensions.Add(extension + ".lnk");
  }
  return extensions;
}

// A folder of 5,000 files, mostly playable, on an emulated drive.
class ListingFolder {
 public:
  ListingFolder() : host_(fs::temp_directory_path() / ("qf-browse-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(host_ / "Big");
    const char* kinds[] = {".mp3", ".ogg", ".jpg", ".txt", ".wma"};
    for (int i = 0; i < 5000; ++i) std::ofstream(host_ / "Big" / Format("track %04d%s", i, kinds[i % 5]));
    platform::emulation::MapDrive('D', host_.string());
  }
  ~ListingFolder() {
    platform::emulation::UnmapAllDrives();
    std::error_code ignored;
    fs::remove_all(host_, ignored);
  }

 private:
  fs::path host_;
};

void ListFilesBench(benchmark::State& state) {
  ListingFolder folder;
  BrowseState browse;
  browse.current = browse.root = "D:\\Big";
  browse.useFullPath = false;
  const SortedTextList extensions = BuiltInExtensions();
  std::size_t listed = 0;
  for (auto _ : state) {
    TextList entries = FileEntries(browse, {}, extensions);
    listed = entries.size();
    benchmark::DoNotOptimize(entries);
  }
  state.counters["files"] = static_cast<double>(listed);
}
BENCHMARK(ListFilesBench)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
