#pragma once
// ExtensionMatcher: which entries of a list of playable extensions a file name matches, where extension
// E matches the names that the file-name pattern "*." + E matches (platform::MatchesWildcard). One pass
// over a folder's names gives the same files, in the same order, as one enumeration of the folder per
// extension, without enumerating it once per extension.
//
// Immutable once built; any thread may use it.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/text.h"

namespace qf {

class ExtensionMatcher {
 public:
  explicit ExtensionMatcher(const TextList& extensions);

  std::size_t size() const { return count_; }
  // Appends to `matches` the index (in the list given) of every extension that `name` matches, in no
  // particular order; each index at most once.
  void Match(std::string_view name, std::vector<std::size_t>& matches) const;

  // `names` (in the order given) grouped by extension in list order: for each extension, the names it
  // matches. A name matched by two extensions is in both groups, as two enumerations would list it.
  std::vector<std::string> Group(const std::vector<std::string>& names) const;

 private:
  std::size_t count_ = 0;
  // Plain extensions by their lower-case suffix, the dot included (".mp3", ".mp3.lnk").
  std::unordered_map<std::string, std::vector<std::size_t>> bySuffix_;
  // The empty extension: "*." matches the names without a dot.
  std::vector<std::size_t> withoutDot_;
  // Extensions with wildcards or a final dot, matched by the pattern itself.
  std::vector<std::pair<std::size_t, std::string>> patterns_;
};

}  // namespace qf
