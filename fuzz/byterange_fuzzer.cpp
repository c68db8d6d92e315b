// libFuzzer target: the Range header of file answers (src/http/byterange.*).
//
// Input: eight bytes are the file's size (little-endian, below 2^48), the rest the header's value.
//
// Oracles: a partial answer names bytes of the file (first <= last < size); and for the header
// "bytes=a-b" made of two numbers the input picks, the answer is what the rule says: bytes a to
// min(b, size - 1) when a <= b and a < size, 416 when a <= b and a >= size, the whole file when b < a.

#include <cstdint>
#include <string>

#include "fuzzing.h"
#include "http/byterange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::uint64_t fileSize = 0;
  for (int i = 5; i >= 0; --i) fileSize = fileSize << 8 | data[i];
  const std::string_view header = qffuzz::Text(data + 8, size - 8);

  qf::ByteRange range = qf::ParseByteRange(header, fileSize);
  if (range.kind == qf::ByteRange::Kind::Partial) QF_FUZZ_CHECK(range.first <= range.last && range.last < fileSize);

  const std::uint64_t a = data[6] * 4099ull, b = data[7] * 8209ull;
  qf::ByteRange made = qf::ParseByteRange("bytes=" + std::to_string(a) + "-" + std::to_string(b), fileSize);
  if (b < a) {
    QF_FUZZ_CHECK(made.kind == qf::ByteRange::Kind::Whole);
  } else if (a >= fileSize) {
    QF_FUZZ_CHECK(made.kind == qf::ByteRange::Kind::Unsatisfiable);
  } else {
    QF_FUZZ_CHECK(made.kind == qf::ByteRange::Kind::Partial && made.first == a &&
                  made.last == (b < fileSize ? b : fileSize - 1));
  }
  return 0;
}
