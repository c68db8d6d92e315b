#include "png.h"

#include <algorithm>
#include <array>
#include <map>
#include <string_view>

namespace host {
namespace {

// Writes bits least significant first, as deflate packs them.
class BitWriter {
 public:
  void Bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  // A Huffman code goes most significant bit first.
  void Code(std::uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  std::vector<std::uint8_t> Finish() {
    if (used_) bytes_.push_back(current_);
    return std::move(bytes_);
  }

 private:
  void Bit(std::uint32_t bit) {
    current_ |= static_cast<std::uint8_t>(bit << used_);
    if (++used_ == 8) {
      bytes_.push_back(current_);
      current_ = 0;
      used_ = 0;
    }
  }
  std::vector<std::uint8_t> bytes_;
  std::uint8_t current_ = 0;
  int used_ = 0;
};

// The fixed literal/length code of deflate.
void Symbol(BitWriter& out, int symbol) {
  if (symbol < 144)
    out.Code(0x30 + symbol, 8);
  else if (symbol < 256)
    out.Code(0x190 + (symbol - 144), 9);
  else if (symbol < 280)
    out.Code(symbol - 256, 7);
  else
    out.Code(0xC0 + (symbol - 280), 8);
}

constexpr std::array<int, 29> kLengthBase{3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> kLengthExtra{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> kDistanceBase{1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                            33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                            1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> kDistanceExtra{0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void Reference(BitWriter& out, int length, int distance) {
  int code =
      static_cast<int>(std::upper_bound(kLengthBase.begin(), kLengthBase.end(), length) - kLengthBase.begin()) - 1;
  Symbol(out, 257 + code);
  out.Bits(static_cast<std::uint32_t>(length - kLengthBase[static_cast<std::size_t>(code)]),
           kLengthExtra[static_cast<std::size_t>(code)]);
  int distanceCode =
      static_cast<int>(std::upper_bound(kDistanceBase.begin(), kDistanceBase.end(), distance) - kDistanceBase.begin()) -
      1;
  out.Code(static_cast<std::uint32_t>(distanceCode), 5);
  out.Bits(static_cast<std::uint32_t>(distance - kDistanceBase[static_cast<std::size_t>(distanceCode)]),
           kDistanceExtra[static_cast<std::size_t>(distanceCode)]);
}

std::uint32_t Adler32(std::span<const std::uint8_t> data) {
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
    return entries;
  }();
  crc = ~crc;
  for (std::uint8_t byte : data) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void Chunk(std::vector<std::uint8_t>& png, std::string_view type, const std::vector<std::uint8_t>& data) {
  Put32(png, static_cast<std::uint32_t>(data.size()));
  std::vector<std::uint8_t> typed(type.begin(), type.end());
  typed.insert(typed.end(), data.begin(), data.end());
  png.insert(png.end(), typed.begin(), typed.end());
  Put32(png, Crc32(typed));
}

}  // namespace

std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> data) {
  constexpr std::size_t kWindow = 32768;
  constexpr int kLongest = 258;
  constexpr int kCandidates = 32;  // positions tried per match
  constexpr std::size_t kHashSize = 1 << 15;
  BitWriter out;
  out.Bits(1, 1);  // the final block
  out.Bits(1, 2);  // fixed codes
  std::vector<std::int64_t> head(kHashSize, -1);
  std::vector<std::int64_t> previous(data.size(), -1);
  auto hash = [&](std::size_t at) { return ((data[at] << 10) ^ (data[at + 1] << 5) ^ data[at + 2]) & (kHashSize - 1); };
  auto insert = [&](std::size_t at) {
    if (at + 2 >= data.size()) return;
    std::size_t h = hash(at);
    previous[at] = head[h];
    head[h] = static_cast<std::int64_t>(at);
  };
  std::size_t at = 0;
  while (at < data.size()) {
    int bestLength = 0;
    std::size_t bestDistance = 0;
    if (at + 2 < data.size()) {
      std::int64_t candidate = head[hash(at)];
      const int longest = static_cast<int>(std::min<std::size_t>(kLongest, data.size() - at));
      for (int tries = 0; candidate >= 0 && tries < kCandidates; ++tries) {
        auto from = static_cast<std::size_t>(candidate);
        if (at - from > kWindow) break;
        int length = 0;
        while (length < longest &&
               data[from + static_cast<std::size_t>(length)] == data[at + static_cast<std::size_t>(length)])
          ++length;
        if (length > bestLength) {
          bestLength = length;
          bestDistance = at - from;
          if (length == longest) break;
        }
        candidate = previous[from];
      }
    }
    if (bestLength >= 3) {
      Reference(out, bestLength, static_cast<int>(bestDistance));
      for (int i = 0; i < bestLength; ++i) insert(at + static_cast<std::size_t>(i));
      at += static_cast<std::size_t>(bestLength);
    } else {
      Symbol(out, data[at]);
      insert(at);
      ++at;
    }
  }
  Symbol(out, 256);  // end of block
  std::vector<std::uint8_t> stream{0x78, 0x01};
  std::vector<std::uint8_t> block = out.Finish();
  stream.insert(stream.end(), block.begin(), block.end());
  Put32(stream, Adler32(data));
  return stream;
}

std::vector<std::uint8_t> EncodePng(const RgbImage& image) {
  const auto width = static_cast<std::size_t>(image.width);
  const auto height = static_cast<std::size_t>(image.height);
  std::map<std::uint32_t, std::uint8_t> palette;
  for (std::size_t i = 0; i + 2 < image.rgb.size() && palette.size() <= 256; i += 3) {
    std::uint32_t colour = image.rgb[i] << 16 | image.rgb[i + 1] << 8 | image.rgb[i + 2];
    palette.emplace(colour, 0);
  }
  const bool indexed = palette.size() <= 256;
  std::vector<std::uint8_t> paletteBytes;
  if (indexed) {
    std::uint8_t next = 0;
    for (auto& [colour, index] : palette) {
      index = next++;
      for (int shift = 16; shift >= 0; shift -= 8) paletteBytes.push_back(static_cast<std::uint8_t>(colour >> shift));
    }
  }
  // Each row after its filter byte 0 (none).
  std::vector<std::uint8_t> rows;
  rows.reserve(height * (1 + width * (indexed ? 1 : 3)));
  for (std::size_t y = 0; y < height; ++y) {
    rows.push_back(0);
    const std::uint8_t* row = image.rgb.data() + y * width * 3;
    if (!indexed) {
      rows.insert(rows.end(), row, row + width * 3);
      continue;
    }
    for (std::size_t x = 0; x < width; ++x) {
      std::uint32_t colour = row[x * 3] << 16 | row[x * 3 + 1] << 8 | row[x * 3 + 2];
      rows.push_back(palette[colour]);
    }
  }

  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  Put32(header, static_cast<std::uint32_t>(width));
  Put32(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, static_cast<std::uint8_t>(indexed ? 3 : 2), 0, 0, 0});
  Chunk(png, "IHDR", header);
  if (indexed) Chunk(png, "PLTE", paletteBytes);
  Chunk(png, "IDAT", ZlibCompress(rows));
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace host
