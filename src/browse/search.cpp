#include "browse/search.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_set>

#include "core/text.h"

namespace qf {
namespace {

// A containment test without regard to case, as IsInside and ContainsText make it, with the needle folded
// once for a whole pass over the cache instead of once per entry.
class Finder {
 public:
  explicit Finder(std::string_view needle)
      : needle_(LowerCase(needle)),
        // A lower-case letter is matched by a character that is it once 0x20 is set in it, that is by
        // the letter in either case; anything else only by itself.
        firstMask_(!needle_.empty() && needle_[0] >= 'a' && needle_[0] <= 'z' ? 0x20 : 0) {}

  bool In(std::string_view text) const {
    const std::size_t length = needle_.size();
    if (length == 0) return true;
    if (text.size() < length) return false;
    for (const char *at = text.data(), *end = at + (text.size() - length) + 1;; ++at) {
      at = FindFirst(at, end);
      if (at == end) return false;
      std::size_t j = 1;
      while (j < length && LowerChar(at[j]) == needle_[j]) ++j;
      if (j == length) return true;
    }
  }

 private:
  // The first place in [at, end) that the needle's first letter matches, or `end`. Goes over eight
  // characters at a time until a word holds one: the names of a music folder are long, and what is
  // searched for in them short.
  const char* FindFirst(const char* at, const char* end) const {
    constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
    const std::uint64_t mask = kOnes * static_cast<unsigned char>(firstMask_);
    const std::uint64_t wanted = kOnes * static_cast<unsigned char>(needle_[0]);
    for (; end - at >= 8; at += 8) {
      std::uint64_t word;
      std::memcpy(&word, at, sizeof word);
      const std::uint64_t differences = (word | mask) ^ wanted;  // a zero byte where it matches
      if ((differences - kOnes) & ~differences & kHighs) break;
    }
    for (; at < end; ++at)
      if (static_cast<char>(*at | firstMask_) == needle_[0]) return at;
    return end;
  }

  std::string needle_;
  char firstMask_;
};

// The path below `folder`: the entry without as many characters as the folder has, and the "\" after them.
// The folder is found anywhere in the entry (IsInside), so this cuts by length, not at the match.
std::string_view RelativePart(std::string_view entry, std::string_view folder) {
  return entry.substr(std::min(entry.size(), folder.size() + 1));
}

std::string_view BeforeLast(std::string_view text, char separator) {
  std::size_t at = text.rfind(separator);
  return at == std::string_view::npos ? std::string_view() : text.substr(0, at);
}

// Where the last "\\" of `entry` is, or npos. Goes back eight characters at a time: the name after it is
// some twenty characters long, and a search over the cache looks for it in every entry.
std::size_t LastSeparator(std::string_view entry) {
  std::size_t end = entry.size();
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7F, wanted = 0x0101010101010101 * '\\';
    for (; end >= 8; end -= 8) {
      std::uint64_t word;
      std::memcpy(&word, entry.data() + end - 8, sizeof word);
      const std::uint64_t differences = word ^ wanted;
      // 0x80 in exactly the bytes that are zero: no borrow runs from one byte into the next.
      const std::uint64_t zeros = ~(((differences & kLows) + kLows) | differences | kLows);
      if (zeros != 0) return end - 8 + static_cast<std::size_t>(63 - std::countl_zero(zeros)) / 8;
    }
  }
  return entry.substr(0, end).rfind('\\');
}

// The file name the subfolder search matches: without its extension, and without ".lnk" before that.
std::string_view NameWithoutExtension(std::string_view entry) {
  std::size_t slash = LastSeparator(entry);
  std::string_view name = slash == std::string_view::npos ? entry : entry.substr(slash + 1);
  static const Finder shortcut(".lnk");
  if (shortcut.In(name)) name = BeforeLast(name, '.');
  return BeforeLast(name, '.');
}

}  // namespace

void SearchFiles(const PackedTextList& cache, std::string_view folder, SearchDepth depth, std::string_view text,
                 TextList& results) {
  const Finder under(folder), matching(text);
  for (std::string_view entry : cache) {
    if (!under.In(entry)) continue;
    if (depth == SearchDepth::AllLevels) {
      if (matching.In(NameWithoutExtension(entry))) results.emplace_back(entry);
    } else {
      std::string_view relative = RelativePart(entry, folder);
      if (relative.find('\\') == std::string_view::npos && matching.In(relative)) results.emplace_back(entry);
    }
  }
}

void SearchFolders(const PackedTextList& cache, std::string_view folder, SearchDepth depth, std::string_view text,
                   TextList& results) {
  std::unordered_set<std::string> found;
  for (const std::string& result : results) found.insert(LowerCase(result));
  auto add = [&](std::string result) {
    if (found.insert(LowerCase(result)).second) results.push_back(std::move(result));
  };
  const Finder under(folder), matching(text);
  for (std::string_view entry : cache) {
    if (!under.In(entry)) continue;
    std::string_view relative = RelativePart(entry, folder);
    if (depth == SearchDepth::AllLevels) {
      std::string_view relativeFolder = BeforeLast(relative, '\\');
      if (!relativeFolder.empty() && matching.In(relativeFolder)) add(std::string(BeforeLast(entry, '\\')));
    } else {
      std::size_t slash = relative.find('\\');
      // A file directly in the folder has no first folder component, and an empty one matches nothing.
      if (slash == std::string_view::npos || slash == 0) continue;
      std::string_view component = relative.substr(0, slash);
      if (matching.In(component)) add(std::string(folder) + "\\" + std::string(component));
    }
  }
}

}  // namespace qf
