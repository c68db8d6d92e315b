#include "http/multipart.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "core/pathrules.h"
#include "core/text.h"

namespace qf {
namespace {

// How far the headers of the first part may reach: a browser sends two short lines.
constexpr std::size_t kMaxPartHeaders = 16 * 1024;
// Blanks a sender may put between a delimiter and its line end (RFC 2046 transport padding).
constexpr std::size_t kMaxPadding = 64;
constexpr std::size_t kMaxBoundary = 70;
// The most the cutter reads at once.
constexpr std::size_t kPiece = 256 * 1024;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Up to `size` bytes from `offset`, fewer at the end of the source.
std::string ReadText(ByteSource& source, std::uint64_t offset, std::size_t size) {
  if (offset >= source.Size()) return std::string();
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, source.Size() - offset));
  std::string text(size, '\0');
  text.resize(source.ReadAt(offset, text.data(), size));
  return text;
}

// The value of parameter `name` in a header value "type; a=1; b=\"two\"", or nothing. Quoted values end
// at the next quote: a backslash is taken as it stands.
std::optional<std::string> Parameter(std::string_view value, std::string_view name) {
  std::size_t i = value.find(';');
  while (i != std::string_view::npos && i < value.size()) {
    ++i;  // past the ";"
    std::size_t equals = value.find_first_of("=;", i);
    std::string_view key = TrimBlanks(value.substr(i, equals == std::string_view::npos ? equals : equals - i));
    if (equals == std::string_view::npos) return std::nullopt;
    if (value[equals] == ';') {
      i = equals;
      continue;
    }
    std::size_t start = equals + 1;
    while (start < value.size() && (value[start] == ' ' || value[start] == '\t')) ++start;
    std::string_view text;
    std::size_t next;
    if (start < value.size() && value[start] == '"') {
      std::size_t close = value.find('"', start + 1);
      if (close == std::string_view::npos) return std::nullopt;  // an unterminated quote names nothing
      text = value.substr(start + 1, close - start - 1);
      next = value.find(';', close);
    } else {
      next = value.find(';', start);
      text = TrimBlanks(value.substr(start, next == std::string_view::npos ? next : next - start));
    }
    if (SameText(key, name)) return std::string(text);
    i = next;
  }
  return std::nullopt;
}

// Finds a pattern in a source piece by piece and keeps the piece it read last: the next search and the
// look at the bytes after a match cost no read while they stay inside it. A body full of near-delimiters
// is therefore read once, not once per near-delimiter.
class PatternScanner {
 public:
  PatternScanner(ByteSource& source, std::string_view pattern, std::size_t piece)
      : source_(source),
        pattern_(pattern),
        searcher_(pattern_.begin(), pattern_.end()),
        buffer_(std::max<std::size_t>(piece, 1) + pattern_.size()) {}

  std::optional<std::uint64_t> Find(std::uint64_t from) {
    const std::uint64_t size = source_.Size();
    const std::size_t length = pattern_.size();
    if (length == 0) return std::nullopt;
    for (;;) {
      if (from >= size || size - from < length) return std::nullopt;
      if (from < start_ || start_ + filled_ < from + length) {
        Load(from);
        if (start_ + filled_ < from + length) return std::nullopt;  // the source ended early
      }
      auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(from - start_);
      auto last = buffer_.begin() + static_cast<std::ptrdiff_t>(filled_);
      auto found = std::search(first, last, searcher_);
      if (found != last) return start_ + static_cast<std::uint64_t>(found - buffer_.begin());
      // The last length - 1 bytes may begin a match that the next piece completes.
      from = start_ + filled_ - (length - 1);
    }
  }

  // Up to `size` bytes from `offset`, fewer at the end of the source.
  std::string Bytes(std::uint64_t offset, std::size_t size) {
    if (offset >= source_.Size()) return std::string();
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, source_.Size() - offset));
    if (offset >= start_ && offset + size <= start_ + filled_)
      return std::string(buffer_.data() + (offset - start_), size);
    return ReadText(source_, offset, size);
  }

 private:
  void Load(std::uint64_t offset) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), source_.Size() - offset));
    start_ = offset;
    filled_ = source_.ReadAt(offset, buffer_.data(), want);
  }

  ByteSource& source_;
  const std::string pattern_;
  const std::boyer_moore_horspool_searcher<std::string::const_iterator> searcher_;
  std::vector<char> buffer_;
  std::uint64_t start_ = 0;
  std::size_t filled_ = 0;
};

// What follows "--boundary" at `after`: the end of a delimiter line, the "--" of the closing one, or
// neither (the boundary is only the start of a longer text).
enum class DelimiterKind { Line, Closing, None };

DelimiterKind KindAfter(PatternScanner& scanner, std::uint64_t after, std::uint64_t* lineEnd) {
  std::string tail = scanner.Bytes(after, kMaxPadding + 2);
  if (tail.compare(0, 2, "--") == 0) return DelimiterKind::Closing;
  std::size_t blanks = 0;
  while (blanks < tail.size() && (tail[blanks] == ' ' || tail[blanks] == '\t')) ++blanks;
  if (tail.compare(blanks, 2, "\r\n") != 0) return DelimiterKind::None;
  *lineEnd = after + blanks + 2;
  return DelimiterKind::Line;
}

// The Content-Disposition line among a part's headers (folded lines joined), or nothing.
std::optional<std::string> DispositionOf(std::string_view headers) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= headers.size()) {
    std::size_t end = headers.find("\r\n", start);
    if (end == std::string_view::npos) end = headers.size();
    std::string_view line = headers.substr(start, end - start);
    if (!lines.empty() && !line.empty() && (line.front() == ' ' || line.front() == '\t'))
      lines.back().append(line);
    else
      lines.emplace_back(line);
    start = end + 2;
  }
  for (const std::string& line : lines) {
    std::size_t colon = line.find(':');
    if (colon != std::string::npos &&
        SameText(TrimBlanks(std::string_view(line).substr(0, colon)), "Content-Disposition"))
      return line.substr(colon + 1);
  }
  return std::nullopt;
}

}  // namespace

std::size_t TextSource::ReadAt(std::uint64_t offset, char* data, std::size_t size) {
  if (offset >= text_.size()) return 0;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, text_.size() - offset));
  std::memcpy(data, text_.data() + offset, size);
  return size;
}

std::optional<std::uint64_t> FindInSource(ByteSource& source, std::string_view pattern, std::uint64_t from,
                                          std::size_t piece) {
  return PatternScanner(source, pattern, piece).Find(from);
}

std::optional<std::string> MultipartBoundary(std::string_view contentType) {
  std::string_view type = TrimBlanks(contentType.substr(0, contentType.find(';')));
  if (!SameText(type, "multipart/form-data")) return std::nullopt;
  std::optional<std::string> boundary = Parameter(contentType, "boundary");
  if (!boundary || boundary->empty() || boundary->size() > kMaxBoundary || HasControlCharacter(*boundary))
    return std::nullopt;
  return boundary;
}

std::optional<std::string> DispositionFileName(std::string_view disposition) {
  return Parameter(disposition, "filename");
}

std::optional<MultipartPart> CutFirstPart(ByteSource& source, std::string_view boundary) {
  if (boundary.empty()) return std::nullopt;
  const std::string dashBoundary = "--" + std::string(boundary);
  const std::string delimiter = "\r\n" + dashBoundary;

  PatternScanner scanner(source, delimiter, kPiece);

  // The first delimiter line: at the very start, or after a preamble that ends in CR LF.
  std::uint64_t headersBegin = 0;
  std::optional<std::uint64_t> candidate;
  if (scanner.Bytes(0, dashBoundary.size()) == dashBoundary)
    candidate = 0;
  else if ((candidate = scanner.Find(0)))
    *candidate += 2;
  for (;;) {
    if (!candidate) return std::nullopt;
    DelimiterKind kind = KindAfter(scanner, *candidate + dashBoundary.size(), &headersBegin);
    if (kind == DelimiterKind::Closing) return std::nullopt;  // a body without parts
    if (kind == DelimiterKind::Line) break;
    candidate = scanner.Find(*candidate + 1);
    if (candidate) *candidate += 2;
  }

  MultipartPart part;
  std::string headers = ReadText(source, headersBegin, kMaxPartHeaders);
  if (headers.compare(0, 2, "\r\n") == 0) {
    part.dataBegin = headersBegin + 2;  // a part without headers
  } else {
    std::size_t end = headers.find("\r\n\r\n");
    if (end == std::string::npos) return std::nullopt;
    headers.resize(end);
    part.dataBegin = headersBegin + end + 4;
    if (std::optional<std::string> disposition = DispositionOf(headers)) {
      if (std::optional<std::string> name = DispositionFileName(*disposition)) {
        part.hasFileName = true;
        part.fileName = std::move(*name);
      }
    }
  }

  // The part ends at the next delimiter; the body must go on to a closing one.
  bool ended = false;
  std::uint64_t from = part.dataBegin;
  while (std::optional<std::uint64_t> found = scanner.Find(from)) {
    std::uint64_t lineEnd = 0;
    DelimiterKind kind = KindAfter(scanner, *found + delimiter.size(), &lineEnd);
    if (kind != DelimiterKind::None && !ended) {
      part.dataEnd = *found;
      ended = true;
    }
    if (kind == DelimiterKind::Closing) return part;
    from = kind == DelimiterKind::Line ? lineEnd : *found + 1;
  }
  return std::nullopt;
}

}  // namespace qf
