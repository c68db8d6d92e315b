// The library's C interface: handles, reading the tag from a file and writing pictures to one. The
// tag itself is parsed and answered by Id3v2Tag. Nothing may escape into the caller: every entry
// catches what the standard library may throw (only std::bad_alloc here) and answers as documented.

#include "id3v2library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "id3v2tag.h"

using qf::id3v2::Id3v2Tag;
using qf::id3v2::ParseResult;
using qf::id3v2::Picture;

struct ID3v2Tag {
  Id3v2Tag tag;
  std::string text;  // the answer of the last ID3v2_GetAsciiText
};

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Appends up to `count` bytes of `file` to `bytes`; false on a read error (not at the end of the file).
// Reads in pieces, so that a header stating a huge tag costs no more memory than the file holds.
bool ReadMore(std::FILE* file, std::vector<std::uint8_t>& bytes, std::size_t count) {
  constexpr std::size_t kPiece = 1 << 20;
  while (count > 0) {
    const std::size_t start = bytes.size();
    const std::size_t wanted = std::min(count, kPiece);
    bytes.resize(start + wanted);
    const std::size_t read = std::fread(bytes.data() + start, 1, wanted, file);
    bytes.resize(start + read);
    if (read < wanted) break;
    count -= read;
  }
  return !std::ferror(file);
}

int LoadFile(Id3v2Tag& tag, const char* path) {
  const UniqueFile file(std::fopen(path, "rb"));
  if (!file) return ID3V2_FILE_UNREADABLE;
  std::vector<std::uint8_t> bytes;
  if (!ReadMore(file.get(), bytes, Id3v2Tag::kHeaderSize)) return ID3V2_FILE_UNREADABLE;
  const Id3v2Tag::Probe probe = Id3v2Tag::ProbeHeader(bytes);
  if (probe.result == ParseResult::NoTag) return ID3V2_NO_TAG;
  if (probe.result == ParseResult::Malformed) return ID3V2_MALFORMED;
  if (!ReadMore(file.get(), bytes, probe.size - bytes.size())) return ID3V2_FILE_UNREADABLE;
  return tag.Parse(bytes) == ParseResult::Tag ? ID3V2_OK : ID3V2_MALFORMED;
}

const qf::id3v2::Frame* FrameAt(const ID3v2Tag* tag, int index) {
  if (!tag || index < 0 || static_cast<std::size_t>(index) >= tag->tag.Frames().size()) return nullptr;
  return &tag->tag.Frames()[static_cast<std::size_t>(index)];
}

std::optional<Picture> PictureAt(const ID3v2Tag* tag, int index) {
  if (!tag || index < 0) return std::nullopt;
  return tag->tag.AttachedPicture(static_cast<std::size_t>(index));
}

// Writes `data` to a new file `path`; on failure leaves no part of it behind.
bool WriteFile(const char* path, std::span<const std::uint8_t> data) {
  UniqueFile file(std::fopen(path, "wb"));
  if (!file) return false;
  const bool written = std::fwrite(data.data(), 1, data.size(), file.get()) == data.size();
  // Closing flushes, and a full disk may only show then.
  const bool closed = std::fclose(file.release()) == 0;
  if (written && closed) return true;
  std::remove(path);
  return false;
}

}  // namespace

extern "C" {

ID3V2_API ID3v2Tag* ID3V2_CALL ID3v2_Create(void) {
  try {
    // The handle is the caller's from here on, until ID3v2_Free takes it back.
    return std::make_unique<ID3v2Tag>().release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ID3V2_API int ID3V2_CALL ID3v2_Load(ID3v2Tag* tag, const char* path) {
  if (!tag) return ID3V2_FILE_UNREADABLE;
  tag->tag.Clear();
  tag->text.clear();
  if (!path) return ID3V2_FILE_UNREADABLE;
  try {
    const int result = LoadFile(tag->tag, path);
    if (result != ID3V2_OK) tag->tag.Clear();
    return result;
  } catch (const std::bad_alloc&) {
    tag->tag.Clear();
    return ID3V2_FILE_UNREADABLE;
  }
}

ID3V2_API void ID3V2_CALL ID3v2_Free(ID3v2Tag* tag) { std::unique_ptr<ID3v2Tag> released(tag); }

ID3V2_API const char* ID3V2_CALL ID3v2_GetAsciiText(ID3v2Tag* tag, const char* frameId) {
  if (!tag) return "";
  try {
    tag->text = frameId ? tag->tag.AsciiText(frameId) : std::string();
  } catch (const std::bad_alloc&) {
    tag->text.clear();
  }
  return tag->text.c_str();
}

ID3V2_API int ID3V2_CALL ID3v2_GetAlbumPictureStream(const ID3v2Tag* tag, int index, unsigned char* buffer,
                                                     unsigned int* length) {
  const std::optional<Picture> picture = PictureAt(tag, index);
  if (!picture) {
    if (length) *length = 0;
    return ID3V2_PICTURE_NONE;
  }
  if (length) {
    // Pictures are at most as large as a tag, which is far below UINT_MAX.
    const auto size = static_cast<unsigned int>(picture->data.size());
    if (buffer && *length >= size) std::copy(picture->data.begin(), picture->data.end(), buffer);
    *length = size;
  }
  return static_cast<int>(picture->format);
}

ID3V2_API int ID3V2_CALL ID3v2_GetAlbumPicture(const ID3v2Tag* tag, int index, const char* targetPath) {
  const std::optional<Picture> picture = PictureAt(tag, index);
  if (!picture || !targetPath || !WriteFile(targetPath, picture->data)) return ID3V2_PICTURE_NONE;
  return static_cast<int>(picture->format);
}

ID3V2_API int ID3V2_CALL ID3v2_FrameCount(const ID3v2Tag* tag) {
  return tag ? static_cast<int>(tag->tag.Frames().size()) : 0;
}

ID3V2_API const char* ID3V2_CALL ID3v2_GetFrameID(const ID3v2Tag* tag, int index) {
  const qf::id3v2::Frame* frame = FrameAt(tag, index);
  return frame ? frame->id.c_str() : "";
}

ID3V2_API int ID3V2_CALL ID3v2_GetFrameSize(const ID3v2Tag* tag, int index) {
  const qf::id3v2::Frame* frame = FrameAt(tag, index);
  return frame ? static_cast<int>(frame->data.size()) : -1;
}

ID3V2_API int ID3V2_CALL ID3v2_GetFrameData(const ID3v2Tag* tag, int index, void* buffer, int bufferSize) {
  const qf::id3v2::Frame* frame = FrameAt(tag, index);
  if (!frame) return -1;
  if (!buffer || bufferSize <= 0) return 0;
  const std::size_t count = std::min(frame->data.size(), static_cast<std::size_t>(bufferSize));
  if (count > 0) std::memcpy(buffer, frame->data.data(), count);
  return static_cast<int>(count);
}

ID3V2_API const void* ID3V2_CALL ID3v2_GetFrameDataP(const ID3v2Tag* tag, int index) {
  // An empty vector may have no storage; its frame still answers a pointer that is not null.
  static const std::uint8_t kNoData = 0;
  const qf::id3v2::Frame* frame = FrameAt(tag, index);
  if (!frame) return nullptr;
  return frame->data.empty() ? &kNoData : frame->data.data();
}

}  // extern "C"
