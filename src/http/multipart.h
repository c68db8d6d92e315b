#pragma once
// The first part of a multipart/form-data body (RFC 7578, RFC 2046): where its data lie and the file
// name its Content-Disposition gives. The body is read through ByteSource in pieces of bounded size, so a
// body of hundreds of megabytes in a scratch file is cut without ever being held whole.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

// Bytes read by position: a request body in memory or in a scratch file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Up to `size` bytes from `offset`; fewer only at the end (or on a read error).
  virtual std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) = 0;
};

// A body held as one text; the text must outlive the source.
class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string_view text) : text_(text) {}
  std::uint64_t Size() const override { return text_.size(); }
  std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override;

 private:
  std::string_view text_;
};

// The boundary parameter of a Content-Type "multipart/form-data; boundary=...", quoted or not; nothing
// for any other type, or a boundary that is empty, longer than 70 characters or has a control character.
std::optional<std::string> MultipartBoundary(std::string_view contentType);

struct MultipartPart {
  bool hasFileName = false;  // the Content-Disposition carries a filename parameter
  std::string fileName;      // its value as the client sent it (possibly a whole client path)
  std::uint64_t dataBegin = 0;
  std::uint64_t dataEnd = 0;  // the CR LF before the next delimiter is not part of the data
};

// The first part of a multipart body. Nothing when the body has no delimiter line for `boundary`, when
// the part's headers do not end (within a few kilobytes), or when no closing delimiter follows the part:
// a body that is cut short stores nothing. Reads only positions below source.Size().
std::optional<MultipartPart> CutFirstPart(ByteSource& source, std::string_view boundary);

// The filename parameter of a Content-Disposition value ("form-data; name=\"f\"; filename=\"a.mp3\""),
// quoted or bare. A backslash inside quotes is an ordinary character: older browsers send whole Windows
// paths there.
std::optional<std::string> DispositionFileName(std::string_view disposition);

// Position of the first occurrence of `pattern` at or after `from` (compared byte by byte), or nothing.
// Reads the source in pieces of at most `piece` bytes plus the pattern's length.
std::optional<std::uint64_t> FindInSource(ByteSource& source, std::string_view pattern, std::uint64_t from,
                                          std::size_t piece = 256 * 1024);

}  // namespace qf
