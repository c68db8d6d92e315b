#include "core/crc32.h"

#include <bit>
#include <cstring>

namespace qf {
namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7;

std::uint32_t Reflect(std::uint32_t value, int bits) {
  std::uint32_t result = 0;
  for (int i = 0; i < bits; ++i)
    if (value & (1u << i)) result |= 1u << (bits - 1 - i);
  return result;
}

}  // namespace

Crc32Table::Crc32Table() {
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t value = Reflect(byte, 8) << 24;
    for (int step = 0; step < 8; ++step) value = (value & 0x80000000u) ? (value << 1) ^ kPolynomial : value << 1;
    entries_[0][byte] = Reflect(value, 32);
  }
  for (std::size_t k = 1; k < entries_.size(); ++k)
    for (std::size_t byte = 0; byte < 256; ++byte) {
      std::uint32_t previous = entries_[k - 1][byte];
      entries_[k][byte] = entries_[0][previous & 0xFF] ^ (previous >> 8);
    }
}

std::uint32_t Crc32Table::Compute(std::string_view bytes) const {
  std::uint32_t crc = 0xFFFFFFFFu;
  const char* at = bytes.data();
  std::size_t left = bytes.size();
  if constexpr (std::endian::native == std::endian::little) {
    for (; left >= 8; at += 8, left -= 8) {
      std::uint32_t low, high;
      std::memcpy(&low, at, 4);
      std::memcpy(&high, at + 4, 4);
      low ^= crc;
      crc = entries_[7][low & 0xFF] ^ entries_[6][(low >> 8) & 0xFF] ^ entries_[5][(low >> 16) & 0xFF] ^
            entries_[4][low >> 24] ^ entries_[3][high & 0xFF] ^ entries_[2][(high >> 8) & 0xFF] ^
            entries_[1][(high >> 16) & 0xFF] ^ entries_[0][high >> 24];
    }
  }
  for (; left > 0; ++at, --left) crc = entries_[0][(crc ^ static_cast<unsigned char>(*at)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::string Crc32Table::Key(std::string_view bytes) const { return FormatCrcKey(Compute(bytes)); }

std::string FormatCrcKey(std::uint32_t crc) {
  std::string text(8, '0');
  for (int digit = 7; digit >= 0; --digit, crc >>= 4)
    text[static_cast<std::size_t>(digit)] = "0123456789ABCDEF"[crc & 15];
  return text;
}

}  // namespace qf
