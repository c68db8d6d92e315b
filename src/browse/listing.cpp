#include "browse/listing.h"

#include <algorithm>
#include <charconv>

#include "browse/folders.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "core/settingsdata.h"
#include "platform/files.h"

namespace qf {
namespace {

void SortIgnoringCase(TextList& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
}

std::string_view AfterLastDelimiter(std::string_view entry) {
  std::size_t slash = entry.rfind('\\');
  return slash == std::string_view::npos ? entry : entry.substr(slash + 1);
}

// The entry without as many characters as `folder` has and the "\" after them.
std::string_view CutFolder(std::string_view entry, std::string_view folder) {
  return entry.substr(std::min(entry.size(), folder.size() + 1));
}

bool Searching(const BrowseState& state, EntryKind kind) {
  return state.SearchActive() && (kind == EntryKind::Folder ? state.searchForDirectories : state.searchForFiles);
}

// The folders a search or listing covers: the current one, then at the root the additional ones.
TextList SearchedFolders(const BrowseState& state) {
  TextList folders{state.current};
  if (state.WithAdditionalFolders())
    for (const std::string& folder : state.additionalFolders)
      if (!folder.empty()) folders.push_back(folder);
  return folders;
}

// One extension test of "*." + extension. Most extensions are plain words, for which that mask means "ends
// with the dot and the word"; anything with wildcards or dots at the end goes through the full rules.
class ExtensionMask {
 public:
  explicit ExtensionMask(const std::string& extension)
      : mask_("*." + extension),
        suffix_(mask_.substr(1)),
        plain_(!extension.empty() && extension.find_first_of("*?") == std::string::npos && extension.back() != '.') {}

  bool Matches(std::string_view name) const {
    return plain_ ? EndsText(name, suffix_) : platform::MatchesWildcard(mask_, name);
  }

 private:
  std::string mask_;
  std::string suffix_;
  bool plain_;
};

}  // namespace

bool BrowseState::WithAdditionalFolders() const { return useFullPath && !current.empty() && SameText(current, root); }

BrowseState TakeBrowseState(const FolderContext& context, const SessionData& session) {
  Snapshot<Settings> settings = context.Core().CurrentSettings.Get();
  BrowseState state;
  state.current = CurrentFolderFor(context, FolderUse::Browse).value_or(std::string());
  state.root = context.Root();
  state.additionalFolders = settings->AdditionalFolders;
  state.useFullPath = settings->useFullPath;
  state.searchText = session.SearchString;
  state.searchForDirectories = session.SearchForDirectories;
  state.searchForFiles = session.SearchForFiles;
  state.searchDepth = session.SearchInSubdirs ? SearchDepth::AllLevels : SearchDepth::DirectContent;
  return state;
}

BrowseState TakeBrowseState(TQuenforth& core, UserClass* user, const SessionData& session) {
  return TakeBrowseState(FolderContext(core, user), session);
}

SortedTextList SplitExtensions(std::string_view text) {
  std::string rest(text);
  if (rest.empty() || rest.back() != ':') rest += ':';
  SortedTextList extensions;
  std::size_t start = 0;
  while (rest.size() - start > 1) {
    std::size_t colon = rest.find(':', start);
    extensions.Add(rest.substr(start, colon - start));
    start = colon + 1;
  }
  return extensions;
}

TextList DirectoryEntries(const BrowseState& state, const PackedTextList& cache) {
  TextList entries;
  if (state.current.empty()) return entries;
  if (state.SearchActive()) {
    if (!state.searchForDirectories) return entries;
    for (const std::string& folder : SearchedFolders(state))
      SearchFolders(cache, folder, state.searchDepth, state.searchText, entries);
    return entries;
  }
  for (const platform::FindData& found : platform::FindFiles(state.current + "\\*"))
    if (found.info.IsDirectory() && found.name != ".") entries.push_back(state.current + "\\" + found.name);
  SortIgnoringCase(entries);
  const std::string parent = state.current + "\\..";
  auto at = std::find_if(entries.begin(), entries.end(), [&](const std::string& e) { return SameText(e, parent); });
  if (at != entries.end()) std::iter_swap(entries.begin(), at);
  if (!state.WithAdditionalFolders()) return entries;
  for (const std::string& folder : state.additionalFolders) {
    if (folder.empty()) continue;
    for (const platform::FindData& found : platform::FindFiles(folder + "\\*"))
      if (found.info.IsDirectory() && found.name != "." && found.name != "..")
        entries.push_back(folder + "\\" + found.name);
  }
  return entries;
}

void AppendMatchingFiles(const std::string& folder, const SortedTextList& extensions, TextList& entries) {
  std::vector<std::string> names;
  for (platform::FindData& found : platform::FindFiles(folder + "\\*"))
    if (!found.info.IsDirectory()) names.push_back(std::move(found.name));
  for (const std::string& extension : extensions) {
    ExtensionMask mask(extension);
    for (const std::string& name : names)
      if (mask.Matches(name)) entries.push_back(folder + "\\" + name);
  }
}

TextList FileEntries(const BrowseState& state, const PackedTextList& cache, const SortedTextList& extensions) {
  TextList entries;
  if (state.current.empty()) return entries;
  if (state.SearchActive()) {
    if (!state.searchForFiles) return entries;
    for (const std::string& folder : SearchedFolders(state))
      SearchFiles(cache, folder, state.searchDepth, state.searchText, entries);
  } else {
    for (const std::string& folder : SearchedFolders(state)) AppendMatchingFiles(folder, extensions, entries);
  }
  SortIgnoringCase(entries);
  return entries;
}

std::string DisplayName(const BrowseState& state, EntryKind kind, std::string_view entry) {
  if (!Searching(state, kind)) return std::string(AfterLastDelimiter(entry));
  if (!state.current.empty() && IsInside(entry, state.current)) return std::string(CutFolder(entry, state.current));
  std::string name;
  for (const std::string& folder : state.additionalFolders)
    if (!folder.empty() && IsInside(entry, folder)) name = CutFolder(entry, folder);
  return name;
}

std::string FormValue(const BrowseState& state, EntryKind kind, std::string_view entry) {
  if (state.useFullPath) {
    if (kind == EntryKind::Folder && entry.find("..") != std::string_view::npos) {
      std::size_t slash = state.current.rfind('\\');
      return slash == std::string::npos ? std::string() : state.current.substr(0, slash);
    }
    return std::string(entry);
  }
  if (Searching(state, kind)) return std::string(CutFolder(entry, state.current));
  return std::string(AfterLastDelimiter(entry));
}

std::string FileFormValue(const BrowseState& state, std::string_view path) {
  return FormValue(state, EntryKind::File, path);
}

std::string FileFormValue(TQuenforth& core, UserClass* user, const SessionData& session, std::string_view path) {
  return FileFormValue(TakeBrowseState(core, user, session), path);
}

std::string HideExtension(std::string name, const SortedTextList& extensions) {
  for (const std::string& extension : extensions) {
    std::size_t at = FindText(name, "." + extension);
    if (at != std::string::npos) name.erase(at);
  }
  return name;
}

std::string MebibyteText(std::int64_t bytes) {
  char text[64];
  auto [end, error] =
      std::to_chars(text, text + sizeof text, static_cast<double>(bytes) / 1048576.0, std::chars_format::fixed, 2);
  return error == std::errc() ? std::string(text, end) : std::string("0.00");
}

// The size comes from the directory entry: opening the file would block on a pipe and wake a sleeping
// network share for a number.
std::string FileSizeText(const std::string& path) {
  std::optional<platform::FileInfo> info = platform::GetFileInfo(path);
  return MebibyteText(info && !info->IsDirectory() ? static_cast<std::int64_t>(info->size) : 0);
}

}  // namespace qf
