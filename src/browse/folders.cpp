#include "browse/folders.h"

#include "core/quenforth.h"
#include "core/records.h"
#include "core/settingsdata.h"
#include "core/text.h"
#include "platform/files.h"

namespace qf {

std::string FolderContext::Root() const {
  return user_ ? user_->RootDirectory.Get() : core_.CurrentSettings.Get()->RootDirectory;
}

std::string FolderContext::Current() const {
  return user_ ? user_->CurrentDirectory.Get() : core_.CurrentSettings.Get()->CurrentDirectory;
}

void FolderContext::SetCurrent(std::string folder) {
  if (user_)
    user_->CurrentDirectory.Set(std::move(folder));
  else
    Modify(core_.CurrentSettings, [&](Settings& settings) { settings.CurrentDirectory = std::move(folder); });
}

bool FolderContext::MayBrowseAboveRoot() const {
  return user_ ? user_->allowBrowseAboveRoot : core_.CurrentSettings.Get()->allowBrowseAboveRoot;
}

bool FolderContext::ShowsDrives() const {
  return user_ ? user_->displayDrives : core_.CurrentSettings.Get()->displayDrives;
}

TextList FolderContext::AdditionalFolders() const { return core_.CurrentSettings.Get()->AdditionalFolders; }

bool IsInside(std::string_view path, std::string_view folder) { return ContainsText(path, folder); }

// An empty folder text would be inside every path: it admits nothing.
bool InsideAllowedFolders(std::string_view path, const FolderContext& context) {
  std::string root = context.Root();
  if (!root.empty() && IsInside(path, root)) return true;
  for (const std::string& folder : context.AdditionalFolders())
    if (!folder.empty() && IsInside(path, folder)) return true;
  return false;
}

bool HasRefusedSequence(std::string_view argument) {
  for (std::string_view sequence : {"/..", "../", "\\..", "..\\"})
    if (argument.find(sequence) != std::string_view::npos) return true;
  return false;
}

void Home(FolderContext& context) { context.SetCurrent(context.Root()); }

void Drive(FolderContext& context, std::string_view entry) {
  std::string drive;
  if (entry.size() >= 2 && entry[1] == ':') {
    drive = std::string(entry.substr(0, 2));
  } else if (StartsText(entry, "\\\\")) {  // a network path: server and share
    std::size_t server = entry.find('\\', 2);
    std::size_t share = server == std::string_view::npos ? server : entry.find_first_of("\\ ", server + 1);
    drive = std::string(entry.substr(0, share));
  } else {
    return;
  }
  if (HasRefusedSequence(drive)) return;
  if (platform::DirectoryExists(drive)) context.SetCurrent(drive);
  if (context.IsUser()) {
    if (!context.MayBrowseAboveRoot() && !IsInside(context.Current(), context.Root()))
      context.SetCurrent(context.Root());
    return;
  }
  if (context.MayBrowseAboveRoot()) return;
  std::string current = context.Current();
  for (const std::string& folder : context.AdditionalFolders())
    if (!folder.empty() && IsInside(current, folder)) return;
  context.SetCurrent(context.Root());
}

void Dir(FolderContext& context, std::string_view argument) {
  if (HasRefusedSequence(argument)) return;
  std::string current = context.Current();
  if (SameText(argument, "..")) {
    std::size_t slash = current.rfind('\\');
    context.SetCurrent(slash == std::string::npos ? std::string() : current.substr(0, slash));
    return;
  }
  if (ContainsText(argument, ".lnk")) return;  // shortcuts are never followed as folders
  std::string folder(argument);
  bool relative = folder.find(':') == std::string::npos && folder.find("\\\\") == std::string::npos;
  if (relative) folder = current + "\\" + folder;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (platform::DirectoryExists(folder)) context.SetCurrent(folder);
}

std::optional<std::string> CurrentFolderFor(const FolderContext& context, FolderUse use) {
  std::string current = context.Current();
  if (use == FolderUse::Browse && context.MayBrowseAboveRoot()) return current;
  if (current.empty() || !InsideAllowedFolders(current, context)) return std::nullopt;
  return current;
}

void EnforceAllowedFolders(FolderContext& context) {
  if (context.MayBrowseAboveRoot()) return;
  if (!InsideAllowedFolders(context.Current(), context)) context.SetCurrent(context.Root());
}

TextList ListDrives(DriveRange range) {
  TextList drives;
  platform::FailCriticalErrors noMediumPrompts;
  for (int number = range == DriveRange::FromA ? 1 : 3; number <= 26; ++number) {
    std::string drive(1, static_cast<char>('A' + number - 1));
    drive += ':';
    std::string root = drive + "\\";
    if (!platform::GetDiskFreeSpaceExA(root, nullptr, nullptr, nullptr)) continue;
    std::optional<std::string> label = platform::GetVolumeLabel(root);
    // A drive without a label is listed by its letter alone rather than as "C: ()".
    if (label && !label->empty()) drive += " (" + *label + ")";
    drives.push_back(std::move(drive));
  }
  return drives;
}

}  // namespace qf
