#pragma once
// The four text encodings of ID3v2 frames, decoded to UTF-16, and the conversion of UTF-16 to the
// single-byte code page the library answers in: Windows-1252 on Linux, the ANSI code page on Windows.
// Every function reads only within the bytes it is given.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qf::id3v2 {

using Bytes = std::span<const std::uint8_t>;

enum class TextEncoding : std::uint8_t { Latin1 = 0, Utf16 = 1, Utf16BigEndian = 2, Utf8 = 3 };

// The encoding an encoding byte names; nullopt for a byte that names none.
std::optional<TextEncoding> TextEncodingOf(std::uint8_t byte);

// `bytes` cut at the first terminator of `encoding`: one zero byte, or for UTF-16 two zero bytes at an
// even offset. `text` is what comes before it, `rest` what follows it; without a terminator `text` is
// all of `bytes`, `rest` is empty and `terminated` false.
struct TerminatedText {
  Bytes text;
  Bytes rest;
  bool terminated = false;
};
TerminatedText SplitAtTerminator(Bytes bytes, TextEncoding encoding);

// The byte order of UTF-16 text with a byte order mark. A value without a mark is read in the order of
// the value before it in the same frame, or little-endian for the first, as the writers that leave the
// mark out write it.
enum class ByteOrder { LittleEndian, BigEndian };

// Decodes `bytes` in `encoding`, dropping a leading byte order mark. `utf16Order` is the order assumed
// for UTF-16 without a mark, updated when a mark is found. Invalid UTF-8 and unpaired surrogates
// become U+FFFD; an odd last byte of UTF-16 is ignored.
std::u16string DecodeText(Bytes bytes, TextEncoding encoding, ByteOrder& utf16Order);

// `text` in the single-byte code page; characters it cannot hold become '?'.
std::string ToCodePage(std::u16string_view text);

}  // namespace qf::id3v2
