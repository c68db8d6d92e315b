#include "id3v2library_loader.h"

#include <dlfcn.h>

#include <stdexcept>

namespace qftest::id3v2 {

namespace {

template <typename Function>
void LookUp(void* module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(module, name));
  if (!function) throw std::runtime_error(std::string("ID3v2Library exports no ") + name);
}

}  // namespace

Id3v2Library::Id3v2Library() {
  module_ = dlopen(QF_ID3V2LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!module_) throw std::runtime_error(std::string("cannot load ") + QF_ID3V2LIBRARY + ": " + dlerror());
  try {
    LookUp(module_, "ID3v2_Create", Create);
    LookUp(module_, "ID3v2_Load", Load);
    LookUp(module_, "ID3v2_Free", Free);
    LookUp(module_, "ID3v2_GetAsciiText", GetAsciiText);
    LookUp(module_, "ID3v2_GetAlbumPictureStream", GetAlbumPictureStream);
    LookUp(module_, "ID3v2_GetAlbumPicture", GetAlbumPicture);
    LookUp(module_, "ID3v2_FrameCount", FrameCount);
    LookUp(module_, "ID3v2_GetFrameID", GetFrameID);
    LookUp(module_, "ID3v2_GetFrameSize", GetFrameSize);
    LookUp(module_, "ID3v2_GetFrameData", GetFrameData);
    LookUp(module_, "ID3v2_GetFrameDataP", GetFrameDataP);
  } catch (...) {
    dlclose(module_);
    throw;
  }
}

Id3v2Library::~Id3v2Library() { dlclose(module_); }

LoadedTag::LoadedTag(const Id3v2Library& library, const std::filesystem::path& path)
    : library_(library), handle_(library.Create()) {
  if (!handle_) throw std::runtime_error("ID3v2_Create answered null");
  loadResult_ = library_.Load(handle_, path.c_str());
}

LoadedTag::~LoadedTag() { library_.Free(handle_); }

std::string LoadedTag::Text(const std::string& frameId) const {
  const char* text = library_.GetAsciiText(handle_, frameId.c_str());
  if (!text) throw std::runtime_error("ID3v2_GetAsciiText answered null");
  return text;
}

LibraryPicture LoadedTag::Picture(int index) const {
  unsigned int length = 0;
  LibraryPicture picture;
  picture.format = library_.GetAlbumPictureStream(handle_, index, nullptr, &length);
  picture.bytes.resize(length);
  unsigned int copied = length;
  const int again =
      library_.GetAlbumPictureStream(handle_, index, reinterpret_cast<unsigned char*>(picture.bytes.data()), &copied);
  if (again != picture.format || copied != length) throw std::runtime_error("the two picture calls disagree");
  return picture;
}

std::vector<std::string> LoadedTag::FrameIds() const {
  std::vector<std::string> ids;
  for (int i = 0; i < library_.FrameCount(handle_); ++i) ids.push_back(library_.GetFrameID(handle_, i));
  return ids;
}

std::string LoadedTag::FrameData(int index) const {
  const int size = library_.GetFrameSize(handle_, index);
  if (size < 0) throw std::runtime_error("no frame " + std::to_string(index));
  std::string data(static_cast<std::size_t>(size), '\0');
  if (library_.GetFrameData(handle_, index, data.data(), size) != size) throw std::runtime_error("short copy");
  return data;
}

}  // namespace qftest::id3v2
