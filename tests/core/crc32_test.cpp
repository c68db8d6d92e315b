#include "core/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

namespace qf {
namespace {

TEST(Crc32, KnownValues) {
  Crc32Table table;
  EXPECT_EQ(table.Compute("abc"), 0x352441C2u);
  EXPECT_EQ(table.Key("abc"), "352441C2");
  EXPECT_EQ(table.Compute(""), 0u);
  EXPECT_EQ(table.Key(""), "00000000");
  EXPECT_EQ(table.Key("123456789"), "CBF43926");  // the standard check value
  EXPECT_EQ(FormatCrcKey(0x0000ABCD), "0000ABCD");
  EXPECT_EQ(FormatCrcKey(0xFEDCBA98), "FEDCBA98");
}

TEST(Crc32, AgreesWithZlibOnRandomData) {
  Crc32Table table;
  std::mt19937 random(42);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 3000, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    uLong expected = crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    ASSERT_EQ(table.Compute(bytes), static_cast<std::uint32_t>(expected)) << "length " << bytes.size();
    // From every alignment, and with every length of the tail that is folded in a byte at a time.
    std::size_t from = random() % 8, length = bytes.size() > 24 ? bytes.size() - 24 + random() % 8 : 0;
    std::string_view part = std::string_view(bytes).substr(from, length);
    expected = crc32(0L, reinterpret_cast<const Bytef*>(part.data()), static_cast<uInt>(part.size()));
    ASSERT_EQ(table.Compute(part), static_cast<std::uint32_t>(expected)) << "from " << from << ", length " << length;
  }
}

TEST(Crc32, TableMatchesTheReflectedPolynomial) {
  Crc32Table table;
  EXPECT_EQ(table[0], 0u);
  EXPECT_EQ(table[1], 0x77073096u);
  EXPECT_EQ(table[255], 0x2D02EF8Du);
}

}  // namespace
}  // namespace qf
