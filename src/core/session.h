#pragma once
// SessionData: the record of one GET or POST request, through which the commands, the upload and the
// page producer pass values to each other. Lives from after authentication to the end of the request;
// belongs to the request's thread.

#include <cstdint>
#include <string>

namespace qf {

struct SessionData {
  std::string SearchString;
  std::string PlaylistFilter;
  std::string MediaLibraryQuery;
  std::string MediaLibrarySearch;
  std::string MediaLibraryPage;
  bool SearchForDirectories = false;
  bool SearchForFiles = false;
  bool SearchInSubdirs = false;
  std::string SkinName;
  std::string ErrorMessage;
  std::string ItemPath;
  std::string UseFile;
  std::string TemplatePath;
  std::string Document;
  std::string UnparsedDocument;  // the request's path as sent, for names the pages encode form-style
  std::string ServeFile;         // a file to send instead of the page, or "forbidden"
  // The request came from a page of another site (a link or form there, a script's fetch): it may look,
  // but it runs no command that changes anything and stores no upload.
  bool FromAnotherSite = false;
  std::string ItemTitle;
  std::string ItemArtist;
  std::string ItemAlbum;
  std::string ItemGenre;
  std::int32_t ItemSeconds = 0;
  std::int32_t ItemIndex = 0;
  std::int32_t ItemRating = 0;
  std::int32_t ItemPlayCount = 0;
  std::int64_t ItemFileSize = 0;  // bytes: library files may pass 2 GiB
  std::int32_t ItemYear = 0;
  std::int32_t ItemTrack = 0;
  std::int64_t ItemLastPlayed = 0;  // seconds since 1970 (UTC), past 2038 too
  std::int32_t MediaLibraryResults = 0;
  std::int32_t MediaLibraryPages = 0;
};

}  // namespace qf
