#include "browse/search.h"

#include <string>
#include <unordered_set>

#include "core/text.h"

namespace qf {
namespace {

// A containment test without regard to case, as IsInside and ContainsText make it, with the needle folded
// once for a whole pass over the cache instead of once per entry.
class Finder {
 public:
  explicit Finder(std::string_view needle) : needle_(LowerCase(needle)) {}

  bool In(std::string_view text) const {
    if (needle_.empty()) return true;
    if (text.size() < needle_.size()) return false;
    for (std::size_t i = 0, last = text.size() - needle_.size(); i <= last; ++i) {
      if (LowerChar(text[i]) != needle_[0]) continue;
      std::size_t j = 1;
      while (j < needle_.size() && LowerChar(text[i + j]) == needle_[j]) ++j;
      if (j == needle_.size()) return true;
    }
    return false;
  }

 private:
  std::string needle_;
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

// The file name the subfolder search matches: without its extension, and without ".lnk" before that.
std::string_view NameWithoutExtension(std::string_view entry) {
  std::size_t slash = entry.rfind('\\');
  std::string_view name = slash == std::string_view::npos ? entry : entry.substr(slash + 1);
  static const Finder shortcut(".lnk");
  if (shortcut.In(name)) name = BeforeLast(name, '.');
  return BeforeLast(name, '.');
}

}  // namespace

void SearchFiles(const TextList& cache, std::string_view folder, SearchDepth depth, std::string_view text,
                 TextList& results) {
  const Finder under(folder), matching(text);
  for (const std::string& entry : cache) {
    if (!under.In(entry)) continue;
    if (depth == SearchDepth::AllLevels) {
      if (matching.In(NameWithoutExtension(entry))) results.push_back(entry);
    } else {
      std::string_view relative = RelativePart(entry, folder);
      if (relative.find('\\') == std::string_view::npos && matching.In(relative)) results.push_back(entry);
    }
  }
}

void SearchFolders(const TextList& cache, std::string_view folder, SearchDepth depth, std::string_view text,
                   TextList& results) {
  std::unordered_set<std::string> found;
  for (const std::string& result : results) found.insert(LowerCase(result));
  auto add = [&](std::string result) {
    if (found.insert(LowerCase(result)).second) results.push_back(std::move(result));
  };
  const Finder under(folder), matching(text);
  for (const std::string& entry : cache) {
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
