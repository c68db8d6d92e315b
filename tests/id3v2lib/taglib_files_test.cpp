// ID3v2Library on tags written by TagLib: texts in all four encodings, comments and pictures, each
// compared with TagLib's own reading of the same file and, where it pins the conversion, with the
// exact Windows-1252 bytes.

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/urllinkframe.h>

#include <algorithm>
#include <initializer_list>
#include <memory>

#include "id3v2library_fixture.h"

namespace qftest::id3v2 {
namespace {

using namespace std::string_literals;
using TagLib::String;

// Characters that ISO-8859-1 holds, that only Windows-1252 holds, and that neither holds.
const std::string kLatin1Text = "Café Müller ÿ½";
const std::string kLatin1Expected = "Caf\xE9 M\xFCller \xFF\xBD";
const std::string kWindows1252Text = "“Smart” – Œuvre € Šš ™";
const std::string kWindows1252Expected = "\x93Smart\x94 \x96 \x8Cuvre \x80 \x8A\x9A \x99";
const std::string kBeyondText = "Dvořák Ω 日本 🎵";
const std::string kBeyondExpected = "Dvo?\xE1k ? ?? ?";

const std::string kPng = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1F\x15\xC4\x89"s;
const std::string kJpeg = "\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0\xFF\xD9"s;
const std::string kGif = "GIF89a\x01\0\x01\0\0\0\0;"s;

String Utf8(const std::string& text) { return String(text, String::UTF8); }
TagLib::ByteVector Bytes(const std::string& bytes) {
  return TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

// Frames for a TagLib tag, which takes them over.
TagLib::ID3v2::Frame* TextFrame(const char* id, std::initializer_list<std::string> values, String::Type encoding) {
  auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(TagLib::ByteVector(id), encoding);
  TagLib::StringList list;
  for (const std::string& value : values) list.append(Utf8(value));
  frame->setText(list);
  return frame.release();
}

TagLib::ID3v2::Frame* CommentFrame(const std::string& description, const std::string& text, String::Type encoding) {
  auto frame = std::make_unique<TagLib::ID3v2::CommentsFrame>(encoding);
  frame->setLanguage("eng");
  frame->setDescription(Utf8(description));
  frame->setText(Utf8(text));
  return frame.release();
}

TagLib::ID3v2::Frame* PictureFrame(const std::string& mimeType, const std::string& bytes, String::Type encoding) {
  auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
  frame->setTextEncoding(encoding);
  frame->setMimeType(mimeType);
  frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
  frame->setDescription(Utf8("Cover “front”"));
  frame->setPicture(Bytes(bytes));
  return frame.release();
}

TagLib::ID3v2::Frame* UserTextFrame(const std::string& description, const std::string& value) {
  auto frame =
      std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(Utf8(description), Utf8(value), String::UTF16);
  return frame.release();
}

TagLib::ID3v2::Frame* UrlFrame(const char* id, const std::string& url) {
  auto frame = std::make_unique<TagLib::ID3v2::UrlLinkFrame>(TagLib::ByteVector(id));
  frame->setUrl(Utf8(url));
  return frame.release();
}

// The tag as TagLib renders it in `version`, followed by bytes that stand for the audio.
std::string Rendered(const TagLib::ID3v2::Tag& tag, TagLib::ID3v2::Version version) {
  const TagLib::ByteVector bytes = tag.render(version);
  return std::string(bytes.data(), bytes.size()) + "\xFF\xFB\x90\x64 audio frames"s;
}

// The index of the first frame `id` among the library's frames.
int IndexOf(const LoadedTag& tag, const std::string& id) {
  const std::vector<std::string> ids = tag.FrameIds();
  const auto found = std::find(ids.begin(), ids.end(), id);
  return found == ids.end() ? -1 : static_cast<int>(found - ids.begin());
}

// The encoding byte the library's copy of frame `id` starts with.
int EncodingOf(const LoadedTag& tag, const std::string& id) {
  const int index = IndexOf(tag, id);
  if (index < 0) return -1;
  const std::string data = tag.FrameData(index);
  return data.empty() ? -1 : static_cast<unsigned char>(data[0]);
}

class TagLibFiles : public Id3v2LibraryTest {
 protected:
  // An ID3v2.3 tag: TagLib writes its texts in ISO-8859-1 or UTF-16 with a byte order mark.
  std::filesystem::path WriteVersion23() {
    TagLib::ID3v2::Tag tag;
    tag.addFrame(TextFrame("TIT2", {kLatin1Text}, String::Latin1));
    tag.addFrame(TextFrame("TPE1", {kWindows1252Text}, String::UTF16));
    tag.addFrame(TextFrame("TALB", {kBeyondText}, String::UTF16));
    tag.addFrame(TextFrame("TRCK", {"3/12"}, String::Latin1));
    tag.addFrame(TextFrame("TDRC", {"2001"}, String::Latin1));
    tag.addFrame(TextFrame("TCON", {"Jazz"}, String::Latin1));
    tag.addFrame(TextFrame("TPE2", {kWindows1252Text}, String::Latin1));
    tag.addFrame(CommentFrame("", kBeyondText, String::UTF16));
    tag.addFrame(CommentFrame("Volume", " 0000 0001", String::Latin1));
    tag.addFrame(UserTextFrame("MOOD", "calm"));
    tag.addFrame(UrlFrame("WOAR", "http://example.org/artist"));
    tag.addFrame(PictureFrame("image/png", kPng, String::Latin1));
    tag.addFrame(PictureFrame("image/jpeg", kJpeg, String::UTF16));
    return WriteTagFile("v23.mp3", Rendered(tag, TagLib::ID3v2::v3));
  }

  // An ID3v2.4 tag with all four encodings, several values in a frame and four pictures, of which the
  // third is known by its bytes alone and the fourth not at all.
  std::filesystem::path WriteVersion24() {
    TagLib::ID3v2::Tag tag;
    tag.addFrame(TextFrame("TIT2", {kLatin1Text}, String::Latin1));
    tag.addFrame(TextFrame("TPE1", {kWindows1252Text}, String::UTF16));
    tag.addFrame(TextFrame("TALB", {kBeyondText}, String::UTF16BE));
    tag.addFrame(TextFrame("TCOM", {kWindows1252Text}, String::UTF8));
    tag.addFrame(TextFrame("TPE2", {"Alpha", "Beta ő"}, String::UTF8));
    tag.addFrame(TextFrame("TCON", {"Jazz", "Blues", "Ω"}, String::UTF16));
    tag.addFrame(TextFrame("TDRC", {"2001-05-06"}, String::Latin1));
    tag.addFrame(CommentFrame("short", kLatin1Text, String::UTF8));
    tag.addFrame(CommentFrame("", kBeyondText, String::UTF16BE));
    tag.addFrame(PictureFrame("image/jpeg", kJpeg, String::UTF8));
    tag.addFrame(PictureFrame("image/png", kPng, String::UTF16));
    tag.addFrame(PictureFrame("image/x-unknown", kGif, String::Latin1));
    tag.addFrame(PictureFrame("application/octet-stream", "junk", String::UTF16BE));
    return WriteTagFile("v24.mp3", Rendered(tag, TagLib::ID3v2::v4));
  }
};

TEST_F(TagLibFiles, Version23TextsAndFirstPictureAgreeWithTagLib) {
  const std::filesystem::path path = WriteVersion23();
  ExpectAgreesWithTagLib(path, 10);

  const LoadedTag tag(library_, path);
  EXPECT_EQ(tag.Text("TIT2"), kLatin1Expected);
  EXPECT_EQ(tag.Text("TPE1"), kWindows1252Expected);
  EXPECT_EQ(tag.Text("TALB"), kBeyondExpected);
  EXPECT_EQ(tag.Text("TPE2"), kWindows1252Expected);
  EXPECT_EQ(tag.Text("TYER"), "2001");
  EXPECT_EQ(tag.Text("TRCK"), "3/12");
  EXPECT_EQ(tag.Text("COMM"), kBeyondExpected);
  EXPECT_EQ(tag.Text("TXXX"), "calm");
  EXPECT_EQ(tag.Text("WOAR"), "http://example.org/artist");
  EXPECT_EQ(tag.Text("TPE4"), "");
  EXPECT_EQ(EncodingOf(tag, "TIT2"), 0);
  EXPECT_EQ(EncodingOf(tag, "TPE1"), 1);
  EXPECT_EQ(tag.Picture(0).format, ID3V2_PICTURE_PNG);
  EXPECT_EQ(tag.Picture(0).bytes, kPng);
  EXPECT_EQ(tag.Picture(1).format, ID3V2_PICTURE_JPEG);
  EXPECT_EQ(tag.Picture(1).bytes, kJpeg);
}

TEST_F(TagLibFiles, Version24TextsInAllEncodingsAgreeWithTagLib) {
  const std::filesystem::path path = WriteVersion24();
  ExpectAgreesWithTagLib(path, 8);

  const LoadedTag tag(library_, path);
  EXPECT_EQ(tag.Text("TIT2"), kLatin1Expected);
  EXPECT_EQ(tag.Text("TPE1"), kWindows1252Expected);
  EXPECT_EQ(tag.Text("TALB"), kBeyondExpected);
  EXPECT_EQ(tag.Text("TCOM"), kWindows1252Expected);
  EXPECT_EQ(tag.Text("TPE2"), "Alpha / Beta ?");
  EXPECT_EQ(tag.Text("TCON"), "Jazz / Blues / ?");
  EXPECT_EQ(tag.Text("TDRC"), "2001-05-06");
  // The first COMM frame answers, whatever its description.
  EXPECT_EQ(tag.Text("COMM"), kLatin1Expected);
  EXPECT_EQ(EncodingOf(tag, "TIT2"), 0);
  EXPECT_EQ(EncodingOf(tag, "TPE1"), 1);
  EXPECT_EQ(EncodingOf(tag, "TALB"), 2);
  EXPECT_EQ(EncodingOf(tag, "TCOM"), 3);
}

TEST_F(TagLibFiles, PicturesAnswerTheirFormatsInOrder) {
  const LoadedTag tag(library_, WriteVersion24());
  struct Expected {
    int format;
    std::string bytes;
  };
  const Expected expected[] = {
      {ID3V2_PICTURE_JPEG, kJpeg},  {ID3V2_PICTURE_PNG, kPng},
      {ID3V2_PICTURE_GIF, kGif},     // an unknown MIME type: known by its bytes
      {ID3V2_PICTURE_NONE, "junk"},  // neither: no format, but the bytes are there
      {ID3V2_PICTURE_NONE, ""},      // no fifth picture
  };
  for (int index = 0; index < 5; ++index) {
    const LibraryPicture picture = tag.Picture(index);
    EXPECT_EQ(picture.format, expected[index].format) << "picture " << index;
    EXPECT_EQ(picture.bytes, expected[index].bytes) << "picture " << index;
  }
  EXPECT_EQ(tag.Picture(-1).format, ID3V2_PICTURE_NONE);
}

TEST_F(TagLibFiles, PictureStreamCopiesOnlyIntoALargeEnoughBuffer) {
  const LoadedTag tag(library_, WriteVersion24());
  const unsigned int size = static_cast<unsigned int>(kPng.size());

  unsigned int length = 12345;
  EXPECT_EQ(library_.GetAlbumPictureStream(tag.Handle(), 1, nullptr, &length), ID3V2_PICTURE_PNG);
  EXPECT_EQ(length, size);

  std::string buffer(size + 8, '\xAA');
  length = size - 1;
  EXPECT_EQ(library_.GetAlbumPictureStream(tag.Handle(), 1, reinterpret_cast<unsigned char*>(buffer.data()), &length),
            ID3V2_PICTURE_PNG);
  EXPECT_EQ(length, size);
  EXPECT_EQ(buffer, std::string(size + 8, '\xAA'));

  length = size + 8;
  EXPECT_EQ(library_.GetAlbumPictureStream(tag.Handle(), 1, reinterpret_cast<unsigned char*>(buffer.data()), &length),
            ID3V2_PICTURE_PNG);
  EXPECT_EQ(length, size);
  EXPECT_EQ(buffer.substr(0, size), kPng);
  EXPECT_EQ(buffer.substr(size), std::string(8, '\xAA'));

  EXPECT_EQ(library_.GetAlbumPictureStream(tag.Handle(), 1, nullptr, nullptr), ID3V2_PICTURE_PNG);
  length = 99;
  EXPECT_EQ(library_.GetAlbumPictureStream(tag.Handle(), 7, nullptr, &length), ID3V2_PICTURE_NONE);
  EXPECT_EQ(length, 0u);
}

TEST_F(TagLibFiles, PictureIsWrittenToAFile) {
  const LoadedTag tag(library_, WriteVersion24());
  const std::filesystem::path target = folder_.Path() / "cover.png";
  EXPECT_EQ(library_.GetAlbumPicture(tag.Handle(), 1, target.c_str()), ID3V2_PICTURE_PNG);
  EXPECT_EQ(ReadFile(target), kPng);
  // An existing file is replaced.
  EXPECT_EQ(library_.GetAlbumPicture(tag.Handle(), 0, target.c_str()), ID3V2_PICTURE_JPEG);
  EXPECT_EQ(ReadFile(target), kJpeg);

  // A picture of an unknown format is written all the same.
  const std::filesystem::path unknown = folder_.Path() / "unknown.bin";
  EXPECT_EQ(library_.GetAlbumPicture(tag.Handle(), 3, unknown.c_str()), ID3V2_PICTURE_NONE);
  EXPECT_EQ(ReadFile(unknown), "junk");

  const std::filesystem::path none = folder_.Path() / "none.jpg";
  EXPECT_EQ(library_.GetAlbumPicture(tag.Handle(), 9, none.c_str()), ID3V2_PICTURE_NONE);
  EXPECT_FALSE(std::filesystem::exists(none));
  const std::filesystem::path unwritable = folder_.Path() / "missing-folder" / "cover.jpg";
  EXPECT_EQ(library_.GetAlbumPicture(tag.Handle(), 0, unwritable.c_str()), ID3V2_PICTURE_NONE);
  EXPECT_EQ(library_.GetAlbumPicture(tag.Handle(), 0, nullptr), ID3V2_PICTURE_NONE);
}

TEST_F(TagLibFiles, FramesAnswerTheirIdsAndDataAsTagLibRendersThem) {
  TagLib::ID3v2::Tag reference;
  reference.addFrame(TextFrame("TIT2", {kLatin1Text}, String::Latin1));
  reference.addFrame(TextFrame("TPE1", {"A", "B"}, String::UTF16));
  reference.addFrame(CommentFrame("d", "text", String::UTF8));
  reference.addFrame(PictureFrame("image/png", kPng, String::Latin1));
  const LoadedTag tag(library_, WriteTagFile("frames.mp3", Rendered(reference, TagLib::ID3v2::v4)));

  const TagLib::ID3v2::FrameList& frames = reference.frameList();
  ASSERT_EQ(library_.FrameCount(tag.Handle()), static_cast<int>(frames.size()));
  int index = 0;
  for (const TagLib::ID3v2::Frame* frame : frames) {
    const TagLib::ByteVector rendered = frame->render();
    const std::string data(rendered.data() + 10, rendered.size() - 10);
    EXPECT_EQ(library_.GetFrameID(tag.Handle(), index), std::string(frame->frameID().data(), 4));
    EXPECT_EQ(library_.GetFrameSize(tag.Handle(), index), static_cast<int>(data.size()));
    EXPECT_EQ(tag.FrameData(index), data);
    const void* own = library_.GetFrameDataP(tag.Handle(), index);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(own), data.size()), data);
    ++index;
  }

  char part[3] = {};
  EXPECT_EQ(library_.GetFrameData(tag.Handle(), 0, part, sizeof part), 3);
  EXPECT_EQ(std::string(part, 3), "\0Ca"s);
  EXPECT_EQ(library_.GetFrameData(tag.Handle(), 0, nullptr, 10), 0);
  EXPECT_EQ(library_.GetFrameData(tag.Handle(), 0, part, -1), 0);

  const int count = library_.FrameCount(tag.Handle());
  EXPECT_STREQ(library_.GetFrameID(tag.Handle(), count), "");
  EXPECT_STREQ(library_.GetFrameID(tag.Handle(), -1), "");
  EXPECT_EQ(library_.GetFrameSize(tag.Handle(), count), -1);
  EXPECT_EQ(library_.GetFrameData(tag.Handle(), count, part, sizeof part), -1);
  EXPECT_EQ(library_.GetFrameDataP(tag.Handle(), -1), nullptr);
}

}  // namespace
}  // namespace qftest::id3v2
