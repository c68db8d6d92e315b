#include "id3v2tag.h"

#include <algorithm>

namespace qf::id3v2 {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint8_t kTagUnsynchronisation = 0x80;
constexpr std::uint8_t kTagExtendedHeader = 0x40;
// In ID3v2.2 the extended header's bit says the tag is compressed, in a way no writer ever defined.
constexpr std::uint8_t kTagCompressed22 = 0x40;

// How one version lays out a frame header, and which bits of its second flag byte matter here.
struct FrameRules {
  std::size_t idLength;
  std::size_t headerSize;
  std::uint8_t skippedFlags;        // compressed or encrypted: the data is not read
  std::uint8_t groupingFlag;        // the data starts with a group byte
  std::uint8_t dataLengthFlag;      // the data starts (after a group byte) with a 4-byte length
  std::uint8_t unsynchronisedFlag;  // the data is unsynchronised
};
constexpr FrameRules kFrameRules22{3, 6, 0, 0, 0, 0};
constexpr FrameRules kFrameRules23{4, 10, 0x80 | 0x40, 0x20, 0, 0};
constexpr FrameRules kFrameRules24{4, 10, 0x08 | 0x04, 0x40, 0x01, 0x02};

const FrameRules& FrameRulesOf(int majorVersion) {
  if (majorVersion == 2) return kFrameRules22;
  if (majorVersion == 3) return kFrameRules23;
  return kFrameRules24;
}

std::uint32_t BigEndian(Bytes bytes) {
  std::uint32_t value = 0;
  for (std::uint8_t byte : bytes) value = value << 8 | byte;
  return value;
}

// Four bytes of seven bits each; nullopt when a byte has its top bit set.
std::optional<std::uint32_t> Synchsafe(Bytes bytes) {
  std::uint32_t value = 0;
  for (std::uint8_t byte : bytes) {
    if (byte & 0x80) return std::nullopt;
    value = value << 7 | byte;
  }
  return value;
}

std::vector<std::uint8_t> RemoveUnsynchronisation(Bytes bytes) {
  std::vector<std::uint8_t> decoded;
  decoded.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    decoded.push_back(bytes[i]);
    if (bytes[i] == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0) ++i;
  }
  return decoded;
}

bool IsFrameId(Bytes id) {
  return std::all_of(id.begin(), id.end(),
                     [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// The frames after the extended header; empty when the extended header does not fit.
Bytes SkipExtendedHeader(Bytes body, int majorVersion) {
  if (body.size() < 4) return {};
  if (majorVersion == 3) {
    // The stated size leaves out the four bytes that state it.
    const std::uint32_t size = BigEndian(body.first(4));
    if (size > body.size() - 4) return {};
    return body.subspan(4 + size);
  }
  const std::optional<std::uint32_t> size = Synchsafe(body.first(4));
  if (!size || *size < 6 || *size > body.size()) return {};
  return body.subspan(*size);
}

enum class Continuation { None, Padding, Frame };

// What follows `size` bytes of data starting at `start` in the frame list: its end (counted as a frame,
// since nothing is missing), padding, another frame's id, or nothing that fits.
Continuation ContinuationAfter(Bytes frameList, std::size_t start, std::uint32_t size) {
  if (start > frameList.size() || size > frameList.size() - start) return Continuation::None;
  const std::size_t next = start + size;
  if (next == frameList.size()) return Continuation::Frame;
  if (frameList[next] == 0) return Continuation::Padding;
  if (frameList.size() - next >= 4 && IsFrameId(frameList.subspan(next, 4))) return Continuation::Frame;
  return Continuation::None;
}

// The data size of the frame whose header starts at `position`; the header lies within `frameList`.
std::uint32_t FrameSize(Bytes frameList, std::size_t position, int majorVersion) {
  if (majorVersion == 2) return BigEndian(frameList.subspan(position + 3, 3));
  const Bytes sizeBytes = frameList.subspan(position + 4, 4);
  const std::uint32_t plain = BigEndian(sizeBytes);
  if (majorVersion == 3) return plain;
  // ID3v2.4 sizes are synchsafe, but some writers store plain ones. Take the synchsafe reading when
  // it leads to the next frame or the end; else the plain one when that leads on; else the synchsafe
  // one, which then ends the list if it runs off.
  const std::optional<std::uint32_t> synchsafe = Synchsafe(sizeBytes);
  if (!synchsafe) return plain;
  if (*synchsafe == plain) return plain;
  const std::size_t dataStart = position + kFrameRules24.headerSize;
  if (ContinuationAfter(frameList, dataStart, *synchsafe) == Continuation::Frame) return *synchsafe;
  if (ContinuationAfter(frameList, dataStart, plain) != Continuation::None) return plain;
  return *synchsafe;
}

// The content of a frame's stored data; nullopt for a frame that is not read.
std::optional<std::vector<std::uint8_t>> FrameContent(Bytes stored, std::uint8_t formatFlags, const FrameRules& rules,
                                                      bool unsynchronisedTag) {
  if (formatFlags & rules.skippedFlags) return std::nullopt;
  std::vector<std::uint8_t> content = (formatFlags & rules.unsynchronisedFlag) || unsynchronisedTag
                                          ? RemoveUnsynchronisation(stored)
                                          : std::vector<std::uint8_t>(stored.begin(), stored.end());
  std::size_t prefix = 0;
  if (formatFlags & rules.groupingFlag) prefix += 1;
  if (formatFlags & rules.dataLengthFlag) prefix += 4;
  if (prefix > content.size()) return std::nullopt;
  content.erase(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(prefix));
  return content;
}

}  // namespace

Id3v2Tag::Probe Id3v2Tag::ProbeHeader(std::span<const std::uint8_t> firstBytes) {
  if (firstBytes.size() < 3 || firstBytes[0] != 'I' || firstBytes[1] != 'D' || firstBytes[2] != '3') return {};
  if (firstBytes.size() < kHeaderSize) return {ParseResult::Malformed, 0};
  const int majorVersion = firstBytes[3];
  const std::uint8_t revision = firstBytes[4];
  const std::uint8_t flags = firstBytes[5];
  const std::optional<std::uint32_t> size = Synchsafe(firstBytes.subspan(6, 4));
  if (majorVersion < 2 || majorVersion > 4 || revision == 0xFF || !size) return {ParseResult::Malformed, 0};
  if (majorVersion == 2 && (flags & kTagCompressed22)) return {ParseResult::Malformed, 0};
  return {ParseResult::Tag, std::min<std::size_t>(kHeaderSize + *size, kMaximumSize)};
}

void Id3v2Tag::Clear() {
  majorVersion_ = 0;
  frames_.clear();
}

ParseResult Id3v2Tag::Parse(std::span<const std::uint8_t> bytes) {
  Clear();
  const Probe probe = ProbeHeader(bytes.first(std::min(bytes.size(), kHeaderSize)));
  if (probe.result != ParseResult::Tag) return probe.result;
  majorVersion_ = bytes[3];
  const std::uint8_t flags = bytes[5];
  Bytes body = bytes.subspan(kHeaderSize, std::min(bytes.size(), probe.size) - kHeaderSize);

  // Up to ID3v2.3 the whole tag after its header is unsynchronised; in ID3v2.4 the tag flag stands
  // for the flag of every frame, whose headers are stored as they are.
  std::vector<std::uint8_t> decoded;
  const bool unsynchronised = flags & kTagUnsynchronisation;
  if (unsynchronised && majorVersion_ <= 3) {
    decoded = RemoveUnsynchronisation(body);
    body = decoded;
  }
  if (majorVersion_ >= 3 && (flags & kTagExtendedHeader)) body = SkipExtendedHeader(body, majorVersion_);
  ParseFrames(body, unsynchronised && majorVersion_ == 4);
  return ParseResult::Tag;
}

void Id3v2Tag::ParseFrames(std::span<const std::uint8_t> frameList, bool unsynchronisedFrames) {
  const FrameRules& rules = FrameRulesOf(majorVersion_);
  std::size_t position = 0;
  while (frameList.size() - position >= rules.headerSize) {
    const Bytes header = frameList.subspan(position, rules.headerSize);
    // A zero byte where an id would start is padding, and anything else no frame: either ends the list.
    if (header[0] == 0 || !IsFrameId(header.first(rules.idLength))) break;
    const std::uint32_t size = FrameSize(frameList, position, majorVersion_);
    const std::size_t dataStart = position + rules.headerSize;
    if (size > frameList.size() - dataStart) break;
    const Bytes stored = frameList.subspan(dataStart, size);
    position = dataStart + size;

    const std::uint8_t formatFlags = rules.headerSize > 6 ? header[9] : 0;
    std::optional<std::vector<std::uint8_t>> content = FrameContent(stored, formatFlags, rules, unsynchronisedFrames);
    if (!content) continue;
    const Bytes id = header.first(rules.idLength);
    frames_.push_back(Frame{std::string(id.begin(), id.end()), std::move(*content)});
  }
}

}  // namespace qf::id3v2
