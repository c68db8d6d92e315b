// The folder browser: the `browser_drives`, `browser_directories` and `browser_files` list tags, the item
// tags that print one entry (held in the session's ItemPath) as a name, a form value or a size,
// `CurrentBrowserDirectory`, and `search_files_string`.

#include <algorithm>

#include "browse/folders.h"
#include "browse/listing.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "core/settingsdata.h"
#include "core/text.h"
#include "pageproducer/tags.h"

namespace qf {
namespace {

BrowseState StateOf(const Tag& tag) { return TakeBrowseState(tag.Core(), tag.User(), tag.Session()); }

// Produces the item template once per entry. The list is made before the template is looked for, so a
// missing template is reported even for an empty list.
void ProduceList(Tag& tag, const TextList& entries) {
  ListTemplates templates(tag);
  if (!templates.LoadItemTemplate()) return;
  for (const std::string& entry : entries) {
    if (tag.producer.Stopped()) return;
    tag.Session().ItemPath = entry;
    templates.AppendItem();
  }
}

void BrowserDrives(Tag& tag) {
  FolderContext context(tag.Core(), tag.User());
  TextList drives;
  if (context.ShowsDrives() && tag.Session().SearchString.empty()) {
    bool fromA = tag.Core().CurrentSettings.Get()->displayFloppyDrives;
    drives = ListDrives(fromA ? DriveRange::FromA : DriveRange::FromC);
    std::stable_sort(drives.begin(), drives.end(),
                     [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  }
  ProduceList(tag, drives);
}

void BrowserDirectories(Tag& tag) {
  BrowseState state = StateOf(tag);
  Snapshot<PackedTextList> cache = tag.Core().FileCache.Get();
  ProduceList(tag, DirectoryEntries(state, *cache));
}

void BrowserFiles(Tag& tag) {
  BrowseState state = StateOf(tag);
  Snapshot<PackedTextList> cache = tag.Core().FileCache.Get();
  if (tag.Given("extension"))
    return ProduceList(tag, FileEntries(state, *cache, SplitExtensions(tag.Param("extension"))));
  Snapshot<SortedTextList> extensions = tag.Core().MusicExtensions.Get();
  ProduceList(tag, FileEntries(state, *cache, *extensions));
}

void BrowserDriveName(Tag& tag) { tag.Write(tag.Session().ItemPath, kUrlEncoded | kEscape); }
void BrowserEncDriveName(Tag& tag) { tag.output = UrlEncode(tag.Session().ItemPath); }

void BrowserDirectoryName(Tag& tag) {
  tag.Write(DisplayName(StateOf(tag), EntryKind::Folder, tag.Session().ItemPath), kTextOptions);
}
void BrowserFormDirectoryName(Tag& tag) {
  tag.Write(FormValue(StateOf(tag), EntryKind::Folder, tag.Session().ItemPath), kUrlEncoded | kEscape);
}
void BrowserEncDirectoryName(Tag& tag) {
  tag.output = UrlEncode(FormValue(StateOf(tag), EntryKind::Folder, tag.Session().ItemPath));
}

void CurrentBrowserDirectory(Tag& tag) { tag.Write(FolderContext(tag.Core(), tag.User()).Current(), kPathOptions); }

void BrowserFileName(Tag& tag) {
  std::string name = DisplayName(StateOf(tag), EntryKind::File, tag.Session().ItemPath);
  if (tag.Given("hideextension")) name = HideExtension(std::move(name), *tag.Core().MusicExtensions.Get());
  tag.Write(std::move(name), kTextOptions);
}
void BrowserFormFileName(Tag& tag) {
  tag.Write(FileFormValue(StateOf(tag), tag.Session().ItemPath), kUrlEncoded | kEscape);
}
void BrowserEncFileName(Tag& tag) { tag.output = UrlEncode(FileFormValue(StateOf(tag), tag.Session().ItemPath)); }

void BrowserFileSize(Tag& tag) { tag.Write(FileSizeText(tag.Session().ItemPath), kUrlEncoded); }

void SearchFilesString(Tag& tag) { tag.Write(tag.Session().SearchString, kTextOptions); }

}  // namespace

void AddBrowserTags(TagTable& table) {
  table["browser_drives"] = BrowserDrives;
  table["browser_directories"] = BrowserDirectories;
  table["browser_files"] = BrowserFiles;
  table["browser_drivename"] = BrowserDriveName;
  table["browser_enc_drivename"] = BrowserEncDriveName;
  table["browser_directoryname"] = BrowserDirectoryName;
  table["browser_form_directoryname"] = BrowserFormDirectoryName;
  table["browser_enc_directoryname"] = BrowserEncDirectoryName;
  table["currentbrowserdirectory"] = CurrentBrowserDirectory;
  table["browser_filename"] = BrowserFileName;
  table["browser_form_filename"] = BrowserFormFileName;
  table["browser_enc_filename"] = BrowserEncFileName;
  table["browser_filesize"] = BrowserFileSize;
  table["search_files_string"] = SearchFilesString;
}

}  // namespace qf
