// The entry of a fuzz target run once on every input named: files, or every file of the folders named
// (in name order; hidden files and README.md are skipped; a folder that does not exist has none). This
// is how the builds without libFuzzer keep checking a target's seeds and the inputs that once found a
// fault: ctest runs it over fuzz/seeds/<target> and fuzz/regressions/<target>.
//   replay_<target> FILE|FOLDER...

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    fs::path named = argv[i];
    if (!fs::is_directory(named)) {
      if (fs::exists(named)) inputs.push_back(named);
      continue;
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(named)) {
      std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && name[0] != '.' && name != "README.md") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
  }
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs = Inputs(argc, argv);
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.eof() && file.fail()) {
      std::fprintf(stderr, "cannot read %s\n", input.c_str());
      return 1;
    }
    std::fprintf(stderr, "%s\n", input.c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs ran\n", inputs.size());
  return 0;
}
