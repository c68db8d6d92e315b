#pragma once
// TID3v2Library: the binding to our ID3v2Library.dll, loaded at run time from the plug-in's data folder.
// One instance per use: it loads the library, reads one file's tag and unloads the library when it goes.
// Used by one thread at a time.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/kept.h"
#include "id3v2lib/id3v2library.h"
#include "platform/system.h"

namespace qf {

struct AlbumPicture {
  int type = 0;  // 0 none, 1 JPEG, 2 PNG, 3 BMP, 4 GIF
  std::string bytes;
};

// The library failed while reading a file: it made no handle, could not make sense of a tag that is
// there, or answered a picture inconsistently.
struct ID3v2LibraryError : std::runtime_error {
  ID3v2LibraryError() : std::runtime_error("There was an error in ID3v2Library.dll.") {}
};

// Room for a fixed number of callers at once; the others wait for one to leave. Any thread.
class Slots {
 public:
  explicit Slots(int count) : free_(count) {}
  Slots(const Slots&) = delete;
  Slots& operator=(const Slots&) = delete;
  void Enter();
  void Leave();
  int Waiting() const;  // callers waiting in Enter now

 private:
  mutable std::mutex lock_;
  std::condition_variable left_;
  int free_;         // Guarded by lock_
  int waiting_ = 0;  // Guarded by lock_
};

class TID3v2Library {
 public:
  static constexpr char kFileName[] = "ID3v2Library.dll";

  // Loads the library from `folder` ("/" read as "\", a trailing delimiter added); an empty folder leaves
  // the search to the system. True only when the library and all eleven entry points were found.
  bool LoadFrom(std::string folder);
  bool Loaded() const { return loaded_; }

  // Pictures larger than this are no pictures here: neither read into memory nor cached.
  static constexpr unsigned int kMaxPicture = 16u * 1024 * 1024;
  // The album-art decodes of all threads: at most two at once, each holding a whole picture in memory in
  // the player's 32-bit address space.
  static Slots& PictureDecodes();

  // The index-th picture of the tag of `file` (a path of ours); type 0 when there is none, it is larger
  // than kMaxPicture, the file has no tag or cannot be opened, or the library is not loaded. Throws
  // ID3v2LibraryError when the library fails. Waits for a slot of PictureDecodes.
  AlbumPicture ReadPicture(const std::string& file, int index = 0) const;
  // Stores the first picture of `file` in `cacheFolder` as the file's name, "." and the picture's type
  // ("jpg", "png", "bmp", "gif"), unless that file is there already, and answers that name (without
  // folder). Nothing when there is no picture or no such folder. The file is written under a name of its
  // own and renamed, so no reader and no second writer of the same picture ever sees it torn. Throws as
  // ReadPicture does.
  std::optional<std::string> CachePicture(const std::string& file, const std::string& cacheFolder) const;
  // The text of the first frame `frameId` of the tag of `file`; empty when there is none.
  std::string ReadText(const std::string& file, const std::string& frameId) const;

  // The entry points, valid while Loaded().
  ID3v2_Create_Fn ID3v2_Create = nullptr;
  ID3v2_Load_Fn ID3v2_Load = nullptr;
  ID3v2_Free_Fn ID3v2_Free = nullptr;
  ID3v2_GetAsciiText_Fn ID3v2_GetAsciiText = nullptr;
  ID3v2_GetAlbumPicture_Fn ID3v2_GetAlbumPicture = nullptr;
  ID3v2_GetAlbumPictureStream_Fn ID3v2_GetAlbumPictureStream = nullptr;
  ID3v2_GetFrameData_Fn ID3v2_GetFrameData = nullptr;
  ID3v2_GetFrameDataP_Fn ID3v2_GetFrameDataP = nullptr;
  ID3v2_FrameCount_Fn ID3v2_FrameCount = nullptr;
  ID3v2_GetFrameID_Fn ID3v2_GetFrameID = nullptr;
  ID3v2_GetFrameSize_Fn ID3v2_GetFrameSize = nullptr;

 private:
  platform::Module module_;
  bool loaded_ = false;
};

// The tag library of `folder` (the data folder, in whatever letter case a caller spells it) as `kept`
// holds it, loaded when it holds none; null when it cannot be loaded.
std::shared_ptr<const TID3v2Library> TakeTagLibrary(Kept<TID3v2Library>& kept, const std::string& folder);

}  // namespace qf
