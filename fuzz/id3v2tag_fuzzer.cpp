// libFuzzer target: the tag parser of ID3v2Library and every accessor on arbitrary bytes. Built with
// AddressSanitizer and UndefinedBehaviorSanitizer, so a read outside the input or the parser's own
// buffers, or undefined arithmetic on a stated size, is a crash. See run.sh.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "id3v2tag.h"

namespace {

// The ids a player asks for, in both forms, and a few that no frame has.
constexpr std::string_view kAskedIds[] = {
    "TIT2", "TPE1", "TALB", "TRCK", "TYER", "TCON", "COMM", "TPE2", "TDRC", "TCOM", "TPOS", "TXXX", "WXXX",
    "WOAR", "USLT", "APIC", "TT2",  "TP1",  "COM",  "TXX",  "WXX",  "ULT",  "PIC",  "XXXX", "T",    "",
};

// A text the C interface answers is read up to its first zero byte: it must not hold one.
void CheckText(const std::string& text) {
  if (text.find('\0') != std::string::npos) __builtin_trap();
}

// The C interface's two calls for a picture: the size with no buffer, then the bytes into a buffer of
// exactly that size (or one byte short, when nothing may be copied).
void CopyPicture(const qf::id3v2::Picture& picture, bool shortBuffer) {
  const std::size_t length = picture.data.size();
  std::vector<std::uint8_t> buffer(shortBuffer && length > 0 ? length - 1 : length);
  if (buffer.size() >= length) std::copy(picture.data.begin(), picture.data.end(), buffer.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  qf::id3v2::Id3v2Tag::ProbeHeader(bytes.first(std::min(size, qf::id3v2::Id3v2Tag::kHeaderSize)));

  qf::id3v2::Id3v2Tag tag;
  tag.Parse(bytes);
  for (std::string_view id : kAskedIds) CheckText(tag.AsciiText(id));
  std::size_t total = 0;
  for (const qf::id3v2::Frame& frame : tag.Frames()) {
    if (frame.id.size() != 3 && frame.id.size() != 4) __builtin_trap();
    CheckText(tag.AsciiText(frame.id));
    const std::vector<std::uint8_t> copy(frame.data.begin(), frame.data.end());
    total += copy.size();
  }
  // Every frame's data came out of the input, and unsynchronisation only ever removes bytes.
  if (total > size) __builtin_trap();
  for (std::size_t index = 0;; ++index) {
    const std::optional<qf::id3v2::Picture> picture = tag.AttachedPicture(index);
    if (!picture) break;
    if (static_cast<int>(picture->format) < 0 || static_cast<int>(picture->format) > 4) __builtin_trap();
    CopyPicture(*picture, false);
    CopyPicture(*picture, true);
  }
  return 0;
}
