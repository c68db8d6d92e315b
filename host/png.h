#pragma once
// PNG files of screenshots, written without a library: a palette when the picture has at most 256
// colours (every window does), else 8-bit RGB; the pixel rows compressed with deflate's fixed codes and
// repeated strings, which is what window pictures, with their long runs of one colour, need.

#include <cstdint>
#include <span>
#include <vector>

namespace host {

// 8-bit red, green, blue per pixel, the top row first.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3 bytes
};

std::vector<std::uint8_t> EncodePng(const RgbImage& image);

// A zlib stream (RFC 1950) of `data`, as the PNG's image data is: one final block of deflate's fixed
// Huffman codes (RFC 1951), strings found again within the last 32 KB sent as references.
std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> data);

}  // namespace host
