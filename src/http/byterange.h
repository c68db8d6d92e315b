#pragma once
// The single byte range of a "Range" header, as audio players ask for when seeking.

#include <cstdint>
#include <string_view>

namespace qf {

struct ByteRange {
  enum class Kind {
    Whole,          // no usable range: send the whole file (also for several ranges)
    Partial,        // send bytes first..last (inclusive) with 206
    Unsatisfiable,  // answer 416
  };
  Kind kind = Kind::Whole;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
};

// Parses "bytes=a-b", "bytes=a-" and "bytes=-n" against a file of `size` bytes.
ByteRange ParseByteRange(std::string_view header, std::uint64_t size);

}  // namespace qf
