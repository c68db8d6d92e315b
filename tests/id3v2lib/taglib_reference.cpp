#include "taglib_reference.h"

#include <iconv.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/urllinkframe.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>

namespace qftest::id3v2 {

namespace {

std::string ToStd(const TagLib::ByteVector& bytes) { return std::string(bytes.data(), bytes.size()); }

std::string Joined(const TagLib::StringList& values) {
  std::string joined;
  for (const TagLib::String& value : values) {
    if (value.isEmpty()) continue;
    if (!joined.empty()) joined += " / ";
    joined += value.to8Bit(true);
  }
  return joined;
}

// The text of a frame as ID3v2Library answers it, in UTF-8; nullopt for frames without text.
std::optional<std::string> TextOf(TagLib::ID3v2::Frame* frame) {
  using namespace TagLib::ID3v2;
  if (auto* user = dynamic_cast<UserTextIdentificationFrame*>(frame)) {
    TagLib::StringList values = user->fieldList();
    if (!values.isEmpty()) values.erase(values.begin());  // the description
    return Joined(values);
  }
  if (auto* text = dynamic_cast<TextIdentificationFrame*>(frame)) return Joined(text->fieldList());
  if (auto* comment = dynamic_cast<CommentsFrame*>(frame)) return comment->text().to8Bit(true);
  if (auto* lyrics = dynamic_cast<UnsynchronizedLyricsFrame*>(frame)) return lyrics->text().to8Bit(true);
  if (auto* url = dynamic_cast<UrlLinkFrame*>(frame)) return url->url().to8Bit(true);
  return std::nullopt;
}

// TagLib reads ID3v2.2 and 2.3 dates into the ID3v2.4 frames; the library is asked for what the file holds.
std::string StoredId(const std::string& id, int majorVersion) {
  if (majorVersion <= 3 && id == "TDRC") return "TYER";
  if (majorVersion <= 3 && id == "TDOR") return "TORY";
  return id;
}

std::size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

ReferenceTag ReadWithTagLib(const std::filesystem::path& path) {
  ReferenceTag reference;
  TagLib::MPEG::File file(path.c_str(), false);
  TagLib::ID3v2::Tag* tag = file.isValid() && file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr;
  if (!tag) return reference;
  reference.majorVersion = static_cast<int>(tag->header()->majorVersion());
  for (TagLib::ID3v2::Frame* frame : tag->frameList()) {
    const std::string id = StoredId(ToStd(frame->frameID()), reference.majorVersion);
    const bool seen = std::any_of(reference.texts.begin(), reference.texts.end(),
                                  [&](const ReferenceText& text) { return text.id == id; });
    if (seen) continue;
    if (std::optional<std::string> text = TextOf(frame)) reference.texts.push_back({id, Windows1252(*text)});
  }
  const TagLib::ID3v2::FrameList& pictures = tag->frameList("APIC");
  if (!pictures.isEmpty()) {
    if (auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(pictures.front())) {
      const std::string bytes = ToStd(picture->picture());
      reference.firstPicture = LibraryPicture{PictureFormatOf(picture->mimeType().to8Bit(), bytes), bytes};
    }
  }
  return reference;
}

std::string Windows1252(const std::string& utf8) {
  const iconv_t converter = iconv_open("WINDOWS-1252", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv has no WINDOWS-1252");
  std::string converted;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length = std::min(Utf8Length(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
    std::string character = utf8.substr(i, length);
    char output[8];
    char* in = character.data();
    char* out = output;
    std::size_t inLeft = length, outLeft = sizeof output;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) || out - output != 1) {
      converted.push_back('?');
    } else {
      converted.push_back(output[0]);
    }
    i += length;
  }
  iconv_close(converter);
  return converted;
}

int PictureFormatOf(const std::string& mimeType, const std::string& bytes) {
  std::string mime = mimeType;
  std::transform(mime.begin(), mime.end(), mime.begin(), [](unsigned char c) { return std::tolower(c); });
  if (mime == "image/jpeg" || mime == "image/jpg") return ID3V2_PICTURE_JPEG;
  if (mime == "image/png") return ID3V2_PICTURE_PNG;
  if (mime == "image/bmp") return ID3V2_PICTURE_BMP;
  if (mime == "image/gif") return ID3V2_PICTURE_GIF;
  const std::string_view start = bytes;
  if (start.starts_with("\xFF\xD8\xFF")) return ID3V2_PICTURE_JPEG;
  if (start.starts_with("\x89PNG\r\n\x1A\n")) return ID3V2_PICTURE_PNG;
  if (start.starts_with("BM")) return ID3V2_PICTURE_BMP;
  if (start.starts_with("GIF87a") || start.starts_with("GIF89a")) return ID3V2_PICTURE_GIF;
  return ID3V2_PICTURE_NONE;
}

}  // namespace qftest::id3v2
