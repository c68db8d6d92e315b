#pragma once
// Folder listings for the browser pages: the subfolders and playable files of the request's current
// folder, or the results of the request's file search, and the texts a page prints for one entry (its
// display name, the form value the folder and file commands take back, its size).
//
// Everything here works on a BrowseState taken once: a copy of the folder texts, the settings and the
// session's search fields, so that one listing never sees two different current folders.

#include <cstdint>
#include <string>
#include <string_view>

#include "browse/search.h"
#include "core/text.h"

namespace qf {

class FolderContext;
class TQuenforth;
struct SessionData;
struct UserClass;

struct BrowseState {
  // The folder listings and searches start from: the context's current folder, or empty when the
  // context may not use it (an earlier request moved it outside the allowed folders and the check after
  // its commands has not run yet). An empty folder lists nothing.
  std::string current;
  std::string root;
  TextList additionalFolders;
  bool useFullPath = true;
  std::string searchText;  // a search is active while it is not empty
  bool searchForDirectories = false;
  bool searchForFiles = false;
  SearchDepth searchDepth = SearchDepth::DirectContent;

  bool SearchActive() const { return !searchText.empty(); }
  // The additional folders take part in listings and searches only from the root, with full paths on.
  bool WithAdditionalFolders() const;
};

BrowseState TakeBrowseState(const FolderContext& context, const SessionData& session);
BrowseState TakeBrowseState(TQuenforth& core, UserClass* user, const SessionData& session);

// An extension list as "mp3:ogg:" texts give it: a final ":" is supplied, every piece before a ":" is an
// extension (two colons in a row give the empty one, for files without an extension) and a text of one
// character or less adds nothing. Sorted, without duplicates, ignoring case.
SortedTextList SplitExtensions(std::string_view text);

// The folder entries as full paths: during a search the folder results (none unless folders are searched
// for, not sorted); otherwise every directory entry of the current folder but "." sorted ignoring case,
// the parent entry first where the file system reports it, then at the root the subfolders of each
// additional folder in the order the file system gives them.
TextList DirectoryEntries(const BrowseState& state, const PackedTextList& cache);

// The file entries as full paths, sorted ignoring case: during a search the file results (none unless
// files are searched for); otherwise the files of the current folder, and at the root of each additional
// folder, matching "*." and one of `extensions`. A folder is enumerated once whatever the number of
// extensions.
TextList FileEntries(const BrowseState& state, const PackedTextList& cache, const SortedTextList& extensions);

// The files of `folder` matching "*." + E for each E of `extensions`, as full paths, in extension order
// and then in the order the file system reports them.
void AppendMatchingFiles(const std::string& folder, const SortedTextList& extensions, TextList& entries);

enum class EntryKind { Folder, File };
// The name a page shows for an entry: the text after its last "\", or during a search for that kind of
// entry its path relative to the folder it was found in (empty when it lies in none of them).
std::string DisplayName(const BrowseState& state, EntryKind kind, std::string_view entry);
// The value that the folder and file commands take back for an entry: with full paths the entry itself
// (the parent of the current folder for a folder entry holding ".."); else during a search for that
// kind of entry its path relative to the current folder; else its name.
std::string FormValue(const BrowseState& state, EntryKind kind, std::string_view entry);
std::string FileFormValue(const BrowseState& state, std::string_view path);
// The same for code that holds no state of its own (the media library's file names).
std::string FileFormValue(TQuenforth& core, UserClass* user, const SessionData& session, std::string_view path);

// The name cut before the first ".E" of the first extension E (of `extensions`, in order) it holds, and so
// on with each later extension on what is left.
std::string HideExtension(std::string name, const SortedTextList& extensions);

// A size in MiB with two decimals and "." as the decimal point whatever the locale ("2.86").
std::string MebibyteText(std::int64_t bytes);
// The size of the file at `path` as MebibyteText; "0.00" when there is no such file.
std::string FileSizeText(const std::string& path);

}  // namespace qf
