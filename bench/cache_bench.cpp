// The file cache's rebuild against `find` on the same tree: 100,000 files in 5,000 folders (on a mapped
// drive, with the built-in extension list and its ".lnk" twins). The tree is made once under the given
// folder (default: the system's temporary folder) and kept for later runs; both sides run warm, best of 5.
//
//   bench_cache [folder]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "browse/cache.h"
#include "browse/extensionmatcher.h"
#include "core/text.h"
#include "platform/posix/emulation.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFolders = 5000;
constexpr int kFilesPerFolder = 20;
constexpr char kExtensions[] =
    "CDA:MPG:MPEG:M2V:AVI:ASF:WMV:MID:MIDI:RMI:KAR:MIZ:mod:mdz:nst:stm:stz:s3m:s3z:it:itz:xm:xmz:mtm:ult:669:"
    "far:amf:okt:ptm:MP3:MP2:MP1:NSV:NSA:OGG:WAV:VOC:AU:SND:AIF:AIFF:wma:m3u:pls:";

void MakeTree(const fs::path& root) {
  if (fs::exists(root / "complete")) return;
  const char* kinds[] = {".mp3", ".ogg", ".wav", ".jpg", ".mp3", ".txt", ".mp3", ".m3u"};
  for (int folder = 0; folder < kFolders; ++folder) {
    fs::path path = root / ("Artist " + std::to_string(folder / 50)) / ("Album " + std::to_string(folder));
    fs::create_directories(path);
    for (int file = 0; file < kFilesPerFolder; ++file)
      std::ofstream(path / ("Track " + std::to_string(file) + kinds[file % 8]));
  }
  std::ofstream(root / "complete");
}

template <class Run>
double BestSeconds(Run run) {
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    auto start = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  fs::path root = base / "quenforth-cache-bench";
  MakeTree(root);
  platform::emulation::MapDrive('M', root.string());

  qf::SortedTextList extensions;
  std::string text = kExtensions;
  for (std::size_t start = 0, end; (end = text.find(':', start)) != std::string::npos; start = end + 1) {
    extensions.Add(text.substr(start, end - start));
    extensions.Add(text.substr(start, end - start) + ".lnk");
  }
  const qf::ExtensionMatcher matcher(extensions.Items());
  std::size_t cached = 0;
  double scan = BestSeconds([&] {
    qf::PackedTextList files;
    qf::ScanFolder(
        "M:\\", matcher, [] { return false; }, files);
    cached = files.size();
  });
  std::string command = "find '" + root.string() + "' -type f > /dev/null";
  double find = BestSeconds([&] {
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "find failed\n");
  });
  std::printf("cache rebuild: %zu files cached of %d in %d folders, %d extensions: %.3f s\n", cached,
              kFolders * kFilesPerFolder, kFolders, static_cast<int>(extensions.size()), scan);
  std::printf("find -type f on the same tree: %.3f s\n", find);
  std::printf("ratio: %.2f\n", scan / find);
  return 0;
}
