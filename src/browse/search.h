#pragma once
// File search: folders and playable files whose names contain a text, found in the file cache (full
// paths of playable files in scan order) rather than on the disk. Folders are known only as the folders
// of cached files, so a folder without a playable file at any depth is never found.
//
// The functions read the list they are given and nothing else; callers pass a snapshot of the cache,
// which no other thread changes. Text comparisons fold ASCII case.

#include <string_view>

#include "core/text.h"

namespace qf {

// How deep beneath the searched folder a search looks.
enum class SearchDepth {
  DirectContent,  // only the folder's own files and its direct subfolders
  AllLevels,      // every level beneath the folder
};

// Appends to `results`, in cache order, the cached files under `folder` whose names contain `text`: with
// AllLevels the names without their extension (and without a ".lnk" after it), with DirectContent the
// names of the folder's own files, extension included.
void SearchFiles(const PackedTextList& cache, std::string_view folder, SearchDepth depth, std::string_view text,
                 TextList& results);

// Appends to `results`, in the order they are first met in the cache, the folders under `folder` whose
// names contain `text`, skipping folders already in `results` (without regard to case). With AllLevels the
// text is matched against the whole folder path below `folder` and the folder that directly holds the file
// is found; with DirectContent only the direct subfolders of `folder` are matched and found.
void SearchFolders(const PackedTextList& cache, std::string_view folder, SearchDepth depth, std::string_view text,
                   TextList& results);

}  // namespace qf
