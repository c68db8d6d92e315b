#pragma once
// SettingsChange: what the settings tell the configuration window when something it shows has changed.
// The settings sit below the window and never include it: the main form wires
// TQuenforth::SettingsChanged to TConfigWindow::SettingsChanged.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qf {

struct Settings;

// A change of the settings that the configuration window shows.
struct SettingsChange {
  // The skins the data folder lists, in listing order, with the selected one's index (-1: none) and
  // name; nothing when the skins did not change.
  struct Skins {
    std::vector<std::string> names;
    int selected = -1;
    std::string selectedName;
  };
  std::optional<Skins> skins;
  // The whole settings record, when it was loaded or replaced from outside the window; null otherwise.
  std::shared_ptr<const Settings> settings{};
};

}  // namespace qf
