#include "http/byterange.h"

#include <optional>

#include "core/text.h"

namespace qf {
namespace {

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

ByteRange ParseByteRange(std::string_view header, std::uint64_t size) {
  ByteRange whole;
  header = Trim(header);
  if (!StartsText(header, "bytes=")) return whole;
  std::string_view ranges = Trim(header.substr(6));
  if (ranges.find(',') != std::string_view::npos) return whole;  // several ranges: the whole file is allowed
  std::size_t dash = ranges.find('-');
  if (dash == std::string_view::npos) return whole;
  std::string_view from = Trim(ranges.substr(0, dash)), to = Trim(ranges.substr(dash + 1));

  ByteRange range{ByteRange::Kind::Partial};
  if (from.empty()) {  // the last n bytes
    std::optional<std::uint64_t> count = ParseNumber(to);
    if (!count) return whole;
    if (*count == 0 || size == 0) return ByteRange{ByteRange::Kind::Unsatisfiable};
    range.first = *count >= size ? 0 : size - *count;
    range.last = size - 1;
    return range;
  }
  std::optional<std::uint64_t> first = ParseNumber(from);
  std::optional<std::uint64_t> last = to.empty() ? first : ParseNumber(to);
  if (!first || !last || *last < *first) return whole;
  if (*first >= size) return ByteRange{ByteRange::Kind::Unsatisfiable};
  if (to.empty()) last = size - 1;
  range.first = *first;
  range.last = *last >= size ? size - 1 : *last;
  return range;
}

}  // namespace qf
