#pragma once
// TagLib's reading of a tag, put in the form ID3v2Library answers it, so that the two can be compared;
// and the conversions the comparison needs. TagLib is the reference here and nowhere else.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "id3v2library_loader.h"

namespace qftest::id3v2 {

// A text TagLib reads: the id to ask ID3v2Library for, and the text it must answer.
struct ReferenceText {
  std::string id;
  std::string text;
};

struct ReferenceTag {
  int majorVersion = 0;  // 0 when TagLib finds no tag
  // The first frame of each id that holds a text: text frames (values joined by " / "), TXXX, COMM,
  // USLT and URL frames.
  std::vector<ReferenceText> texts;
  std::optional<LibraryPicture> firstPicture;
};

ReferenceTag ReadWithTagLib(const std::filesystem::path& path);

// `utf8` in Windows-1252, converted by iconv, with '?' for each character the code page lacks.
std::string Windows1252(const std::string& utf8);

// The format ID3v2Library answers for a picture with this MIME type and these bytes.
int PictureFormatOf(const std::string& mimeType, const std::string& bytes);

}  // namespace qftest::id3v2
