#pragma once
// An ID3v2 tag (version 2.2, 2.3 or 2.4) parsed from bytes in memory: its frames, their texts and its
// attached pictures. Parsing never reads outside the bytes it is given, whatever sizes they state;
// a frame that does not lie whole within them ends the frame list. Not thread-safe; const members may
// be called from several threads at once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qf::id3v2 {

enum class ParseResult {
  Tag,       // a tag header was read; its frames are those that lie whole within the bytes
  NoTag,     // the bytes do not start with "ID3"
  Malformed  // they start with "ID3" but no header this parser reads follows
};

// A frame as read: its id (three characters in ID3v2.2, four after) and its data, with unsynchronisation
// removed and a grouping byte or data length indicator left out.
struct Frame {
  std::string id;
  std::vector<std::uint8_t> data;
};

// The formats a picture is answered as; the values are those of the library's C interface.
enum class PictureFormat { Unknown = 0, Jpeg = 1, Png = 2, Bmp = 3, Gif = 4 };

// An attached picture: the format of its bytes and the bytes, which belong to the tag.
struct Picture {
  PictureFormat format = PictureFormat::Unknown;
  std::span<const std::uint8_t> data;
};

class Id3v2Tag {
 public:
  static constexpr std::size_t kHeaderSize = 10;
  // No tag is read past this size, whatever its header says.
  static constexpr std::size_t kMaximumSize = 64 * 1024 * 1024;

  // What the first bytes of a file (kHeaderSize of them, or all of a shorter file) say about a tag at
  // its start: `size` is the count of bytes to read for it, header included, at most kMaximumSize;
  // 0 unless `result` is ParseResult::Tag.
  struct Probe {
    ParseResult result = ParseResult::NoTag;
    std::size_t size = 0;
  };
  static Probe ProbeHeader(std::span<const std::uint8_t> firstBytes);

  // Parses the tag at the start of `bytes`, replacing what the object held; frames are copied.
  ParseResult Parse(std::span<const std::uint8_t> bytes);
  void Clear();

  // 2, 3 or 4; 0 when no tag was parsed.
  int MajorVersion() const { return majorVersion_; }
  const std::vector<Frame>& Frames() const { return frames_; }

  // The text of the first frame `frameId` in the code page of textencoding.h; "" when there is no such
  // frame or it holds no text. For an ID3v2.2 tag a four-character id is looked up by its
  // three-character form.
  std::string AsciiText(std::string_view frameId) const;

  // The index-th well-formed attached picture (APIC, or PIC in ID3v2.2); its data stays valid until the
  // next Parse or Clear.
  std::optional<Picture> AttachedPicture(std::size_t index) const;

 private:
  void ParseFrames(std::span<const std::uint8_t> frameList, bool unsynchronisedFrames);

  int majorVersion_ = 0;
  std::vector<Frame> frames_;
};

}  // namespace qf::id3v2
