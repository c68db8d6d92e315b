#pragma once
// ID3v2Library.dll loaded with dlopen, as the plug-in loads it, and a tag handle that always frees itself.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "id3v2lib/id3v2library.h"

namespace qftest::id3v2 {

// The library built beside the tests, with its eleven entry points looked up by name. Throws when the
// library or an entry point is missing; unloads the library when destroyed.
class Id3v2Library {
 public:
  Id3v2Library();
  ~Id3v2Library();
  Id3v2Library(const Id3v2Library&) = delete;
  Id3v2Library& operator=(const Id3v2Library&) = delete;

  ID3v2_Create_Fn Create = nullptr;
  ID3v2_Load_Fn Load = nullptr;
  ID3v2_Free_Fn Free = nullptr;
  ID3v2_GetAsciiText_Fn GetAsciiText = nullptr;
  ID3v2_GetAlbumPictureStream_Fn GetAlbumPictureStream = nullptr;
  ID3v2_GetAlbumPicture_Fn GetAlbumPicture = nullptr;
  ID3v2_FrameCount_Fn FrameCount = nullptr;
  ID3v2_GetFrameID_Fn GetFrameID = nullptr;
  ID3v2_GetFrameSize_Fn GetFrameSize = nullptr;
  ID3v2_GetFrameData_Fn GetFrameData = nullptr;
  ID3v2_GetFrameDataP_Fn GetFrameDataP = nullptr;

 private:
  void* module_ = nullptr;
};

// A picture as the library answers it.
struct LibraryPicture {
  int format = ID3V2_PICTURE_NONE;
  std::string bytes;
};

// A handle made by the library and freed when this goes; Load() keeps the answer of ID3v2_Load.
class LoadedTag {
 public:
  LoadedTag(const Id3v2Library& library, const std::filesystem::path& path);
  ~LoadedTag();
  LoadedTag(const LoadedTag&) = delete;
  LoadedTag& operator=(const LoadedTag&) = delete;

  ID3v2Tag* Handle() const { return handle_; }
  int LoadResult() const { return loadResult_; }
  std::string Text(const std::string& frameId) const;
  // The index-th picture through the two-call protocol: the size first, then the bytes.
  LibraryPicture Picture(int index) const;
  std::vector<std::string> FrameIds() const;
  std::string FrameData(int index) const;

 private:
  const Id3v2Library& library_;
  ID3v2Tag* handle_ = nullptr;
  int loadResult_ = -1;
};

}  // namespace qftest::id3v2
