#pragma once
// Builds ID3v2 tags byte by byte for the tests and the fuzz seeds. Only sizes are computed; everything
// else is as the caller writes it, so a tag can be made as malformed as a test needs. Bytes are held in
// std::string, which keeps zero bytes (write them with the ""s literals).

#include <cstdint>
#include <string>
#include <string_view>

namespace qftest::id3v2 {

inline std::string BigEndian(std::uint32_t value, int width) {
  std::string bytes;
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(value >> shift & 0xFF));
  return bytes;
}

inline std::string Synchsafe(std::uint32_t value) {
  std::string bytes;
  for (int shift = 21; shift >= 0; shift -= 7) bytes.push_back(static_cast<char>(value >> shift & 0x7F));
  return bytes;
}

// A tag header stating `size` bytes after it.
inline std::string Header(int majorVersion, std::uint8_t flags, std::uint32_t size) {
  return std::string("ID3") + static_cast<char>(majorVersion) + '\0' + static_cast<char>(flags) + Synchsafe(size);
}

// A tag header stating the size of `body`, and `body`.
inline std::string Tag(int majorVersion, std::uint8_t flags, std::string_view body) {
  return Header(majorVersion, flags, static_cast<std::uint32_t>(body.size())) + std::string(body);
}

inline std::string Frame22(std::string_view id, std::string_view data) {
  return std::string(id) + BigEndian(static_cast<std::uint32_t>(data.size()), 3) + std::string(data);
}

// An ID3v2.3 frame; `extra` goes between the header and `data` (a decompressed size, a group byte).
inline std::string Frame23(std::string_view id, std::string_view data, std::uint8_t formatFlags = 0,
                           std::string_view extra = {}) {
  const auto size = static_cast<std::uint32_t>(extra.size() + data.size());
  return std::string(id) + BigEndian(size, 4) + '\0' + static_cast<char>(formatFlags) + std::string(extra) +
         std::string(data);
}

// An ID3v2.4 frame with a synchsafe size; `stored` is written as it is (unsynchronised already, with a
// data length indicator already, when the flags say so).
inline std::string Frame24(std::string_view id, std::string_view stored, std::uint8_t formatFlags = 0) {
  return std::string(id) + Synchsafe(static_cast<std::uint32_t>(stored.size())) + '\0' +
         static_cast<char>(formatFlags) + std::string(stored);
}

// An ID3v2.4 frame with its size written plainly, as some writers do.
inline std::string Frame24PlainSize(std::string_view id, std::string_view stored) {
  return std::string(id) + BigEndian(static_cast<std::uint32_t>(stored.size()), 4) + '\0' + '\0' + std::string(stored);
}

// `bytes` unsynchronised: a zero inserted after every 0xFF that precedes a byte of 0xE0 or more or a
// zero, and after a 0xFF at the end.
inline std::string Unsynchronise(std::string_view bytes) {
  std::string encoded;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    encoded.push_back(bytes[i]);
    if (static_cast<unsigned char>(bytes[i]) != 0xFF) continue;
    if (i + 1 == bytes.size() || static_cast<unsigned char>(bytes[i + 1]) >= 0xE0 || bytes[i + 1] == '\0') {
      encoded.push_back('\0');
    }
  }
  return encoded;
}

}  // namespace qftest::id3v2
