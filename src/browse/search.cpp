#include "browse/search.h"

#include <algorithm>
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

// Calls `test` with the index of each entry of `cache` that holds `needle` (folded to lower case, not
// empty) without regard to case, in cache order: a filter ahead of the exact test of an entry. Rather
// than looking into each entry, it goes over all the cache's text at once for one character of the
// needle (memchr, as fast as the machine reads memory; a letter in both its cases) and looks closer
// only where that character is. The rarest kind of character is taken: a sign, else a digit, else a
// blank, else the letter least used in English.
template <typename Test>
void ForEachHolding(const PackedTextList& cache, std::string_view needle, Test test) {
  auto rank = [](char c) -> std::size_t {
    constexpr std::string_view kLettersByUse = "etaoinshrdlcumwfgypbvkjxqz";
    if (c >= 'a' && c <= 'z') return 3 + kLettersByUse.size() - kLettersByUse.find(c);
    return c == ' ' ? 2 : c >= '0' && c <= '9' ? 1 : 0;
  };
  std::size_t pivot = 0;
  for (std::size_t i = 1; i < needle.size(); ++i)
    if (rank(needle[i]) < rank(needle[pivot])) pivot = i;
  const std::string_view text = cache.Joined();
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char lower = needle[pivot], upper = UpperChar(lower);
  // The next place of each case of the pivot character at or after `from`.
  auto next = [end](char c, const char* from) {
    const void* found = from < end ? std::memchr(from, c, static_cast<std::size_t>(end - from)) : nullptr;
    return found ? static_cast<const char*>(found) : end;
  };
  const char* nextLower = next(lower, begin + pivot);
  const char* nextUpper = upper == lower ? end : next(upper, begin + pivot);
  std::size_t entry = 0;
  while (nextLower != end || nextUpper != end) {
    const char* at;
    if (nextLower < nextUpper) {
      at = nextLower;
      nextLower = next(lower, at + 1);
    } else {
      at = nextUpper;
      nextUpper = next(upper, at + 1);
    }
    const std::size_t start = static_cast<std::size_t>(at - begin) - pivot;
    if (start + needle.size() > text.size()) break;
    std::size_t j = 0;
    while (j < needle.size() && LowerChar(begin[start + j]) == needle[j]) ++j;
    if (j < needle.size()) continue;
    while (cache.EndOf(entry) <= start) ++entry;
    if (start + needle.size() > cache.EndOf(entry)) continue;  // it runs on into the next entry
    test(entry);
    // On to the next entry: this one is tested.
    const char* after = begin + std::min(cache.EndOf(entry) + pivot, text.size());
    if (nextLower < after) nextLower = next(lower, after);
    if (nextUpper < after) nextUpper = next(upper, after);
    ++entry;
  }
}

}  // namespace

void SearchFiles(const PackedTextList& cache, std::string_view folder, SearchDepth depth, std::string_view text,
                 TextList& results) {
  const Finder under(folder), matching(text);
  if (depth == SearchDepth::AllLevels && !text.empty()) {
    // A name that holds the text lies in an entry that holds it: only those are looked at.
    ForEachHolding(cache, LowerCase(text), [&](std::size_t index) {
      std::string_view entry = cache[index];
      if (under.In(entry) && matching.In(NameWithoutExtension(entry))) results.emplace_back(entry);
    });
    return;
  }
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
