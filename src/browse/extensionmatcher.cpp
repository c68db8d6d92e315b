#include "browse/extensionmatcher.h"

#include "platform/files.h"

namespace qf {

ExtensionMatcher::ExtensionMatcher(const TextList& extensions) : count_(extensions.size()) {
  for (std::size_t index = 0; index < extensions.size(); ++index) {
    const std::string& extension = extensions[index];
    if (extension.empty()) {
      withoutDot_.push_back(index);
    } else if (extension.find_first_of("*?") != std::string::npos || extension.back() == '.') {
      // Wildcards, and the quirks of a mask ending in ".", are the pattern matcher's to decide.
      patterns_.emplace_back(index, "*." + extension);
    } else {
      // "*.E" with a plain E matches exactly the names that end in ".E", without regard to case.
      bySuffix_["." + LowerCase(extension)].push_back(index);
    }
  }
}

void ExtensionMatcher::Match(std::string_view name, std::vector<std::size_t>& matches) const {
  std::string lower = LowerCase(name);
  std::size_t dot = lower.find('.');
  if (dot == std::string::npos) {
    matches.insert(matches.end(), withoutDot_.begin(), withoutDot_.end());
  } else if (!bySuffix_.empty()) {
    for (; dot != std::string::npos; dot = lower.find('.', dot + 1)) {
      auto found = bySuffix_.find(lower.substr(dot));
      if (found != bySuffix_.end()) matches.insert(matches.end(), found->second.begin(), found->second.end());
    }
  }
  for (const auto& [index, pattern] : patterns_)
    if (platform::MatchesWildcard(pattern, name)) matches.push_back(index);
}

std::vector<std::string> ExtensionMatcher::Group(const std::vector<std::string>& names) const {
  std::vector<std::vector<std::size_t>> groups(count_);  // name positions per extension
  std::vector<std::size_t> matches;
  std::size_t total = 0;
  for (std::size_t position = 0; position < names.size(); ++position) {
    matches.clear();
    Match(names[position], matches);
    for (std::size_t index : matches) groups[index].push_back(position);
    total += matches.size();
  }
  std::vector<std::string> grouped;
  grouped.reserve(total);
  for (const std::vector<std::size_t>& group : groups)
    for (std::size_t position : group) grouped.push_back(names[position]);
  return grouped;
}

}  // namespace qf
