#pragma once
// Skins: the folders of the data folder that hold an index.html, "help" never among them.

#include <optional>
#include <string>
#include <vector>

namespace qf {

class TQuenforth;

// The skin names in the order the file system lists them; nothing when the folder cannot be listed.
std::optional<std::vector<std::string>> FindSkins(const std::string& dataFolder);

// Lists the skins again: SkinNames (sorted, without duplicates) and the configuration window's selector
// (in listing order) are rebuilt, an empty global skin first becomes "base", and when the listing
// succeeds the global skin is spelled as its folder is, or becomes empty when no folder matches it.
void RefreshSkins(TQuenforth& core);

}  // namespace qf
