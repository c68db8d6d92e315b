// The parts of the file layer that are the same on every build.

#include <atomic>
#include <cctype>
#include <chrono>

#include "platform/files.h"

namespace platform {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Plain glob: "*" any run, "?" one character, without regard to case.
bool Glob(std::string_view mask, std::string_view name) {
  std::size_t m = 0, n = 0, starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || (mask[m] != '*' && Lower(mask[m]) == Lower(name[n])))) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

bool MatchesWildcard(std::string_view mask, std::string_view name) {
  if (mask.empty() || mask == "*" || mask == "*.*") return true;
  bool nameHasDot = name.find('.') != std::string_view::npos;
  // A mask that ends in "." matches names without an extension ("*." lists extensionless files).
  if (mask.back() == '.') return !nameHasDot && Glob(mask.substr(0, mask.size() - 1), name);
  // ".*" at the end also accepts an empty extension: "a*.*" matches "abc".
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" && !nameHasDot &&
      Glob(mask.substr(0, mask.size() - 2), name))
    return true;
  return Glob(mask, name);
}

std::optional<std::string> ReadToEnd(File& file, std::uint64_t expected) {
  if (expected > kMaxWholeFile) return std::nullopt;
  std::string contents(static_cast<std::size_t>(expected), '\0');
  std::size_t got = 0;
  while (got < contents.size()) {
    std::int64_t read = file.Read(contents.data() + got, contents.size() - got);
    if (read < 0) return std::nullopt;
    if (read == 0) break;  // it shrank
    got += static_cast<std::size_t>(read);
  }
  contents.resize(got);
  for (char more[16 * 1024];;) {  // it may have grown: read on to its end
    std::int64_t read = file.Read(more, sizeof more);
    if (read < 0) return std::nullopt;
    if (read == 0) return contents;
    if (contents.size() + static_cast<std::size_t>(read) > kMaxWholeFile) return std::nullopt;
    contents.append(more, static_cast<std::size_t>(read));
  }
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  File file = File::Open(path, File::Mode::Read);
  if (!file.IsOpen()) return std::nullopt;
  return ReadToEnd(file, file.Size());
}

bool WriteFileReplacing(const std::string& path, std::string_view contents, bool durable) {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::string temporary = path + "." + std::to_string(stamp % 1000000) + "-" + std::to_string(counter++) + ".tmp";
  bool written;
  {
    File file = File::Open(temporary, File::Mode::CreateAlways);
    written = file.IsOpen() && file.Write(contents) && (!durable || file.Flush());
  }
  if (written && ReplaceFileWith(temporary, path, durable)) return true;
  DeleteFileA(temporary);
  return false;
}

}  // namespace platform
