#include "settings/skins.h"

#include "core/quenforth.h"
#include "core/text.h"
#include "platform/files.h"

namespace qf {

std::optional<std::vector<std::string>> FindSkins(const std::string& dataFolder) {
  if (!platform::DirectoryExists(dataFolder)) return std::nullopt;
  std::vector<std::string> skins;
  for (const platform::FindData& entry : platform::FindFiles(dataFolder + "\\*.*")) {
    if (!entry.info.IsDirectory() || entry.name == "." || entry.name == ".." || SameText(entry.name, "help")) continue;
    if (platform::FileExists(dataFolder + "\\" + entry.name + "\\index.html")) skins.push_back(entry.name);
  }
  return skins;
}

void RefreshSkins(TQuenforth& core) {
  Modify(core.CurrentSettings, [](Settings& settings) {
    if (settings.Skin.empty()) settings.Skin = "base";
  });
  std::optional<std::vector<std::string>> found = FindSkins(core.DataFolder());
  auto sorted = std::make_shared<SortedTextList>();
  if (found)
    for (const std::string& skin : *found) sorted->Add(skin);
  core.SkinNames.Set(sorted);
  if (!found) return;

  std::string selected;
  int index = -1;
  Modify(core.CurrentSettings, [&](Settings& settings) {
    for (std::size_t i = 0; i < found->size(); ++i) {
      if (SameText((*found)[i], settings.Skin)) {
        selected = (*found)[i];
        index = static_cast<int>(i);
        break;
      }
    }
    settings.Skin = selected;
  });
  if (core.SettingsChanged) core.SettingsChanged(SettingsChange{SettingsChange::Skins{*found, index, selected}});
}

}  // namespace qf
