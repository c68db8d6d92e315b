// Id3v2Tag: attached pictures.

#include <algorithm>

#include "id3v2tag.h"
#include "textencoding.h"

namespace qf::id3v2 {

namespace {

struct NamedFormat {
  std::string_view name;
  PictureFormat format;
};

// MIME types of APIC frames, compared without regard to case.
constexpr NamedFormat kMimeTypes[] = {
    {"image/jpeg", PictureFormat::Jpeg}, {"image/jpg", PictureFormat::Jpeg}, {"image/png", PictureFormat::Png},
    {"image/bmp", PictureFormat::Bmp},   {"image/gif", PictureFormat::Gif},
};

// Image formats of ID3v2.2 PIC frames, compared without regard to case.
constexpr NamedFormat kImageFormats[] = {
    {"JPG", PictureFormat::Jpeg},
    {"PNG", PictureFormat::Png},
    {"BMP", PictureFormat::Bmp},
    {"GIF", PictureFormat::Gif},
};

struct Signature {
  std::string_view start;
  PictureFormat format;
};

// How each format's files begin, for pictures whose type names no format.
constexpr Signature kSignatures[] = {
    {"\xFF\xD8\xFF", PictureFormat::Jpeg},
    {"\x89PNG\r\n\x1A\n", PictureFormat::Png},
    {"BM", PictureFormat::Bmp},
    {"GIF87a", PictureFormat::Gif},
    {"GIF89a", PictureFormat::Gif},
};

bool SameAsciiText(Bytes text, std::string_view name) {
  auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  return text.size() == name.size() && std::equal(text.begin(), text.end(), name.begin(), [&](std::uint8_t a, char b) {
           return lower(a) == lower(static_cast<unsigned char>(b));
         });
}

PictureFormat FormatNamed(Bytes name, std::span<const NamedFormat> table) {
  for (const NamedFormat& row : table) {
    if (SameAsciiText(name, row.name)) return row.format;
  }
  return PictureFormat::Unknown;
}

PictureFormat FormatOfBytes(Bytes data) {
  for (const Signature& signature : kSignatures) {
    if (data.size() >= signature.start.size() &&
        std::equal(signature.start.begin(), signature.start.end(), data.begin(),
                   [](char a, std::uint8_t b) { return static_cast<unsigned char>(a) == b; })) {
      return signature.format;
    }
  }
  return PictureFormat::Unknown;
}

// APIC: encoding byte, Latin-1 MIME type, picture type byte, description, data. PIC has a three-letter
// image format in place of the MIME type. Nullopt when the frame is cut short before its data.
std::optional<Picture> ParsePicture(Bytes frame, int majorVersion) {
  if (frame.empty()) return std::nullopt;
  const std::optional<TextEncoding> encoding = TextEncodingOf(frame[0]);
  if (!encoding) return std::nullopt;
  Bytes rest = frame.subspan(1);
  PictureFormat format = PictureFormat::Unknown;
  if (majorVersion == 2) {
    if (rest.size() < 3) return std::nullopt;
    format = FormatNamed(rest.first(3), kImageFormats);
    rest = rest.subspan(3);
  } else {
    const TerminatedText mimeType = SplitAtTerminator(rest, TextEncoding::Latin1);
    if (!mimeType.terminated) return std::nullopt;
    format = FormatNamed(mimeType.text, kMimeTypes);
    rest = mimeType.rest;
  }
  if (rest.empty()) return std::nullopt;
  const TerminatedText description = SplitAtTerminator(rest.subspan(1), *encoding);
  if (!description.terminated) return std::nullopt;
  if (format == PictureFormat::Unknown) format = FormatOfBytes(description.rest);
  return Picture{format, description.rest};
}

}  // namespace

std::optional<Picture> Id3v2Tag::AttachedPicture(std::size_t index) const {
  const std::string_view id = majorVersion_ == 2 ? "PIC" : "APIC";
  std::size_t seen = 0;
  for (const Frame& frame : frames_) {
    if (frame.id != id) continue;
    const std::optional<Picture> picture = ParsePicture(frame.data, majorVersion_);
    if (!picture) continue;
    if (seen == index) return picture;
    ++seen;
  }
  return std::nullopt;
}

}  // namespace qf::id3v2
