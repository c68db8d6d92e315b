#include "fuzzing.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace qffuzz {
namespace {

std::filesystem::path MakeScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quenforth-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder under " + pattern);
  return pattern;
}

}  // namespace

void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "\n==%d== fuzz oracle failed: %s (%s:%d)\n", static_cast<int>(getpid()), what, file, line);
  std::fflush(stderr);
  std::abort();
}

const std::filesystem::path& ScratchFolder() {
  // Never destroyed: the removal at exit still needs it after the statics have gone.
  static const std::filesystem::path* folder = [] {
    auto made = new std::filesystem::path(MakeScratchFolder());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return made;
  }();
  return *folder;
}

void AtExit(void (*cleanup)()) {
  ScratchFolder();  // its removal is registered first, so it runs after `cleanup`
  std::atexit(cleanup);
}

Cut FirstLine(std::string_view input) {
  std::size_t end = input.find('\n');
  if (end == std::string_view::npos) return Cut{input, {}};
  std::string_view line = input.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return Cut{line, input.substr(end + 1)};
}

bool ShowsCanary(std::string_view answer, std::string_view input) {
  return answer.find(kCanary) != std::string_view::npos && input.find(kCanary) == std::string_view::npos;
}

void WriteHostFile(const std::filesystem::path& path, std::string_view contents) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace qffuzz
