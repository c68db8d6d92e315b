#include "player/id3v2library.h"

#include <memory>

#include "core/text.h"
#include "platform/files.h"

namespace qf {
namespace {

template <class Function>
bool Resolve(const platform::Module& module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(module.GetProcAddress(name));
  return function != nullptr;
}

}  // namespace

std::shared_ptr<const TID3v2Library> TakeTagLibrary(Kept<TID3v2Library>& kept, const std::string& folder) {
  return kept.Take(UpperCase(folder), [&folder]() -> std::shared_ptr<const TID3v2Library> {
    auto loaded = std::make_shared<TID3v2Library>();
    return loaded->LoadFrom(folder) ? loaded : nullptr;
  });
}

bool TID3v2Library::LoadFrom(std::string folder) {
  std::string path = kFileName;
  if (!folder.empty()) {
    for (char& c : folder)
      if (c == '/') c = '\\';
    if (folder.back() != '\\') folder += '\\';
    path = folder + kFileName;
  }
  module_ = platform::Module::LoadLibraryA(path);
  loaded_ = module_.IsLoaded() && Resolve(module_, "ID3v2_Create", ID3v2_Create) &&
            Resolve(module_, "ID3v2_Load", ID3v2_Load) && Resolve(module_, "ID3v2_Free", ID3v2_Free) &&
            Resolve(module_, "ID3v2_GetAsciiText", ID3v2_GetAsciiText) &&
            Resolve(module_, "ID3v2_GetAlbumPicture", ID3v2_GetAlbumPicture) &&
            Resolve(module_, "ID3v2_GetAlbumPictureStream", ID3v2_GetAlbumPictureStream) &&
            Resolve(module_, "ID3v2_GetFrameData", ID3v2_GetFrameData) &&
            Resolve(module_, "ID3v2_GetFrameDataP", ID3v2_GetFrameDataP) &&
            Resolve(module_, "ID3v2_FrameCount", ID3v2_FrameCount) &&
            Resolve(module_, "ID3v2_GetFrameID", ID3v2_GetFrameID) &&
            Resolve(module_, "ID3v2_GetFrameSize", ID3v2_GetFrameSize);
  return loaded_;
}

namespace {

// A tag handle of the library, freed when it goes.
struct TagDeleter {
  ID3v2_Free_Fn free;
  void operator()(ID3v2Tag* tag) const { free(tag); }
};
using TagHandle = std::unique_ptr<ID3v2Tag, TagDeleter>;

TagHandle Open(const TID3v2Library& library, const std::string& file) {
  TagHandle tag(library.ID3v2_Create(), TagDeleter{library.ID3v2_Free});
  if (tag) library.ID3v2_Load(tag.get(), platform::NativePath(file).c_str());
  return tag;
}

}  // namespace

void Slots::Enter() {
  std::unique_lock held(lock_);
  ++waiting_;
  left_.wait(held, [this] { return free_ > 0; });
  --waiting_;
  --free_;
}

void Slots::Leave() {
  {
    std::lock_guard guard(lock_);
    ++free_;
  }
  left_.notify_one();
}

int Slots::Waiting() const {
  std::lock_guard guard(lock_);
  return waiting_;
}

Slots& TID3v2Library::PictureDecodes() {
  static Slots decodes(2);
  return decodes;
}

AlbumPicture TID3v2Library::ReadPicture(const std::string& file, int index) const {
  AlbumPicture picture;
  if (!loaded_) return picture;
  Slots& decodes = PictureDecodes();
  decodes.Enter();
  struct Leaving {
    Slots& slots;
    ~Leaving() { slots.Leave(); }
  } leaving{decodes};
  TagHandle tag(ID3v2_Create(), TagDeleter{ID3v2_Free});
  if (!tag) throw ID3v2LibraryError();
  int loaded = ID3v2_Load(tag.get(), platform::NativePath(file).c_str());
  if (loaded == ID3V2_MALFORMED) throw ID3v2LibraryError();
  if (loaded != ID3V2_OK) return picture;  // no tag, or no such file (a stream, say)
  unsigned int length = 0;
  int type = ID3v2_GetAlbumPictureStream(tag.get(), index, nullptr, &length);
  if (type == 0 || length == 0 || length > kMaxPicture) return picture;
  picture.bytes.resize(length);
  unsigned int copied = length;
  type = ID3v2_GetAlbumPictureStream(tag.get(), index, reinterpret_cast<unsigned char*>(picture.bytes.data()), &copied);
  if (type == 0 || copied != length) throw ID3v2LibraryError();
  picture.type = type;
  return picture;
}

std::optional<std::string> TID3v2Library::CachePicture(const std::string& file, const std::string& cacheFolder) const {
  static const char* const kExtensions[] = {"", "jpg", "png", "bmp", "gif"};
  AlbumPicture picture = ReadPicture(file);
  if (picture.type < 1 || picture.type > 4 || !platform::DirectoryExists(cacheFolder)) return std::nullopt;
  std::size_t slash = file.find_last_of("\\/");
  std::string name = (slash == std::string::npos ? file : file.substr(slash + 1)) + "." + kExtensions[picture.type];
  std::string cached = cacheFolder + "\\" + name;
  // A picture that could not be stored is no picture: its name would only answer 404.
  if (!platform::FileExists(cached) && !platform::WriteFileReplacing(cached, picture.bytes)) return std::nullopt;
  return name;
}

std::string TID3v2Library::ReadText(const std::string& file, const std::string& frameId) const {
  if (!loaded_) return std::string();
  TagHandle tag = Open(*this, file);
  const char* text = tag ? ID3v2_GetAsciiText(tag.get(), frameId.c_str()) : nullptr;
  return text ? std::string(text) : std::string();
}

}  // namespace qf
