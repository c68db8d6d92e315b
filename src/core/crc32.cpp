#include "core/crc32.h"

#include <cstdio>

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
    entries_[byte] = Reflect(value, 32);
  }
}

std::uint32_t Crc32Table::Compute(std::string_view bytes) const {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : bytes) crc = entries_[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::string Crc32Table::Key(std::string_view bytes) const { return FormatCrcKey(Compute(bytes)); }

std::string FormatCrcKey(std::uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
  return text;
}

}  // namespace qf
