// The screenshots' PNG writer, read back with zlib: the compressed stream inflates to its input, and a
// picture comes back pixel for pixel, with a palette or without.

#include "png.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Inflate(const Bytes& stream, std::size_t expected) {
  Bytes out(expected + 1);
  uLongf length = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
  out.resize(length);
  return out;
}

std::uint32_t Read32(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3]);
}

struct Chunk {
  std::string type;
  Bytes data;
};

// The chunks of a PNG file, each checked against its CRC.
std::vector<Chunk> Chunks(const Bytes& png) {
  std::vector<Chunk> chunks;
  const Bytes signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(std::equal(signature.begin(), signature.end(), png.begin()));
  for (std::size_t at = 8; at + 12 <= png.size();) {
    std::uint32_t length = Read32(png, at);
    Chunk chunk{std::string(png.begin() + static_cast<long>(at) + 4, png.begin() + static_cast<long>(at) + 8),
                Bytes(png.begin() + static_cast<long>(at) + 8, png.begin() + static_cast<long>(at + 8 + length))};
    uLong crc = crc32(0, png.data() + at + 4, length + 4);
    EXPECT_EQ(crc, Read32(png, at + 8 + length)) << chunk.type;
    chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  return chunks;
}

// The picture a PNG of ours holds, as RGB, with its colour type.
host::RgbImage Decode(const Bytes& png, int& colourType) {
  std::vector<Chunk> chunks = Chunks(png);
  EXPECT_EQ(chunks.front().type, "IHDR");
  EXPECT_EQ(chunks.back().type, "IEND");
  host::RgbImage image;
  image.width = static_cast<int>(Read32(chunks.front().data, 0));
  image.height = static_cast<int>(Read32(chunks.front().data, 4));
  colourType = chunks.front().data[9];
  Bytes palette, compressed;
  for (const Chunk& chunk : chunks) {
    if (chunk.type == "PLTE") palette = chunk.data;
    if (chunk.type == "IDAT") compressed.insert(compressed.end(), chunk.data.begin(), chunk.data.end());
  }
  const std::size_t pixel = colourType == 3 ? 1 : 3;
  const std::size_t stride = 1 + static_cast<std::size_t>(image.width) * pixel;
  Bytes rows = Inflate(compressed, stride * static_cast<std::size_t>(image.height));
  EXPECT_EQ(rows.size(), stride * static_cast<std::size_t>(image.height));
  for (std::size_t y = 0; y < static_cast<std::size_t>(image.height); ++y) {
    EXPECT_EQ(rows[y * stride], 0) << "filter of row " << y;
    for (std::size_t x = 0; x < static_cast<std::size_t>(image.width); ++x) {
      const std::uint8_t* at = &rows[y * stride + 1 + x * pixel];
      if (pixel == 1)
        image.rgb.insert(image.rgb.end(), palette.begin() + *at * 3, palette.begin() + *at * 3 + 3);
      else
        image.rgb.insert(image.rgb.end(), at, at + 3);
    }
  }
  return image;
}

TEST(Png, CompressedStreamsInflateToTheirInput) {
  std::mt19937 random(7);
  std::vector<Bytes> inputs{{}, {42}, Bytes(100000, 0xAB)};
  Bytes noise(70000);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
  inputs.push_back(noise);
  // Runs and repeats at every distance up to the window's end.
  Bytes mixed;
  for (int i = 0; i < 2000; ++i)
    for (int j = 0; j < i % 300; ++j) mixed.push_back(static_cast<std::uint8_t>(i * 7 + (j % (i % 13 + 1))));
  inputs.push_back(mixed);
  for (const Bytes& input : inputs) {
    Bytes stream = host::ZlibCompress(input);
    EXPECT_EQ(Inflate(stream, input.size()), input) << input.size();
  }
  EXPECT_LT(host::ZlibCompress(Bytes(100000, 0xAB)).size(), 2000u) << "a run costs a few bits per 258 bytes";
}

TEST(Png, PicturesComeBackPixelForPixel) {
  struct Case {
    int colours;
    int type;
  } cases[] = {{2, 3}, {256, 3}, {257, 2}, {5000, 2}};
  for (const Case& c : cases) {
    host::RgbImage image{123, 45, {}};
    for (int i = 0; i < image.width * image.height; ++i) {
      int colour = (i / 3) % c.colours;  // every colour, in short runs
      image.rgb.insert(image.rgb.end(), {static_cast<std::uint8_t>(colour), static_cast<std::uint8_t>(colour >> 8),
                                         static_cast<std::uint8_t>(255 - colour % 256)});
    }
    int type = -1;
    host::RgbImage decoded = Decode(host::EncodePng(image), type);
    EXPECT_EQ(type, c.type) << c.colours;
    EXPECT_EQ(decoded.width, image.width);
    EXPECT_EQ(decoded.height, image.height);
    EXPECT_EQ(decoded.rgb, image.rgb) << c.colours;
  }
}

}  // namespace
