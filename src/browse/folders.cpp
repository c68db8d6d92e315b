#include "browse/folders.h"

#include "core/quenforth.h"
#include "core/records.h"
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

bool IsInside(std::string_view path, std::string_view folder) { return ContainsText(path, folder); }

bool InsideAllowedFolders(std::string_view path, const FolderContext& context) {
  if (IsInside(path, context.Root())) return true;
  Snapshot<Settings> settings = context.Core().CurrentSettings.Get();
  for (const std::string& folder : settings->AdditionalFolders)
    if (IsInside(path, folder)) return true;
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
  Snapshot<Settings> settings = context.Core().CurrentSettings.Get();
  std::string current = context.Current();
  for (const std::string& folder : settings->AdditionalFolders)
    if (IsInside(current, folder)) return;
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

}  // namespace qf
