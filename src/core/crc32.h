#pragma once
// CRC-32 as keys of the added-by register, song ids and the playback signature use it: the standard
// reflected CRC (polynomial 0x04C11DB7, initial value all ones, final complement), table-driven, eight
// bytes a step: a song id is computed for every entry of every playlist page.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qf {

class Crc32Table {
 public:
  // Builds the 256 entries: each byte value is reflected, moved to the top byte, run through eight
  // shift-left steps with the polynomial, and the 32-bit result reflected again.
  Crc32Table();

  std::uint32_t Compute(std::string_view bytes) const;
  // 8 upper-case hexadecimal digits, zero-padded: "352441C2" for "abc".
  std::string Key(std::string_view bytes) const;

  std::uint32_t operator[](std::size_t index) const { return entries_[0][index]; }

 private:
  // entries_[0] is the table of one byte; entries_[k][b] is the CRC contribution of byte b followed by k
  // zero bytes, so that eight bytes are folded in with eight lookups and no dependency between them.
  std::array<std::array<std::uint32_t, 256>, 8> entries_;
};

std::string FormatCrcKey(std::uint32_t crc);

}  // namespace qf
