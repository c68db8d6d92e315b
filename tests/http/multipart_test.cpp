// Cutting the first part out of multipart bodies: boundaries, line ends, file names, bodies cut short or
// not multipart at all, and bodies far larger than any piece the cutter reads.

#include "http/multipart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace qf {
namespace {

std::string Cut(const std::string& body, const std::string& boundary, std::string* data = nullptr,
                std::string* name = nullptr) {
  TextSource source(body);
  std::optional<MultipartPart> part = CutFirstPart(source, boundary);
  if (!part) return "nothing";
  if (data) *data = body.substr(part->dataBegin, part->dataEnd - part->dataBegin);
  if (name) *name = part->hasFileName ? part->fileName : "<none>";
  return "part";
}

std::string FileBody(const std::string& boundary, const std::string& fileName, const std::string& data) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n--" + boundary + "--\r\n";
}

TEST(MultipartBoundary, ComesFromTheContentTypeQuotedOrNot) {
  struct Case {
    const char* contentType;
    std::optional<std::string> boundary;
  } cases[] = {
      {"multipart/form-data; boundary=----WebKitFormBoundaryx7", "----WebKitFormBoundaryx7"},
      {"multipart/form-data; boundary=\"quoted; with=signs\"", "quoted; with=signs"},
      {"Multipart/Form-Data;boundary=abc", "abc"},
      {"multipart/form-data; charset=utf-8; BOUNDARY=abc ", "abc"},
      {"multipart/form-data ; boundary=abc", "abc"},
      {"multipart/form-data", std::nullopt},
      {"multipart/form-data; boundary=", std::nullopt},
      {"multipart/form-data; boundary=\"\"", std::nullopt},
      {"multipart/form-data; boundary=\"unterminated", std::nullopt},
      {"multipart/mixed; boundary=abc", std::nullopt},
      {"application/x-www-form-urlencoded", std::nullopt},
      {"", std::nullopt},
      {"text/plain; x=\"boundary=abc\"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(MultipartBoundary(c.contentType), c.boundary) << c.contentType;
  EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=" + std::string(70, 'b')), std::string(70, 'b'));
  EXPECT_FALSE(MultipartBoundary("multipart/form-data; boundary=" + std::string(71, 'b')));
  EXPECT_FALSE(MultipartBoundary("multipart/form-data; boundary=\"a\tb\""));
}

TEST(DispositionFileName, TakesTheFilenameParameterOnly) {
  struct Case {
    const char* disposition;
    std::optional<std::string> name;
  } cases[] = {
      {"form-data; name=\"file\"; filename=\"a.mp3\"", "a.mp3"},
      {"form-data; filename=\"C:\\Docs\\a.mp3\"; name=\"file\"", "C:\\Docs\\a.mp3"},
      {"form-data; name=\"filename=x.mp3\"", std::nullopt},
      {"form-data; name=\"f;filename=x\"; filename=\"y.mp3\"", "y.mp3"},
      {"form-data; FileName=bare.mp3 ; size=3", "bare.mp3"},
      {"form-data; filename*=UTF-8''x.mp3", std::nullopt},
      {"form-data; filename=\"\"", ""},
      {"form-data; name=\"file\"", std::nullopt},
      {"form-data; filename=\"open", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(DispositionFileName(c.disposition), c.name) << c.disposition;
}

TEST(CutFirstPart, TheDataAreExactlyTheBytesBetweenTheHeadersAndTheDelimitersLineEnd) {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  const std::string datas[] = {
      "",
      "x",
      "line\r\n",
      "\r\n",
      "\r\n\r\n--",
      "text with --b but not the delimiter\r\n--bx and a longer boundary\r\n",
      "ends in CR\r",
      binary + binary,
  };
  for (const std::string& data : datas) {
    std::string got, name;
    ASSERT_EQ(Cut(FileBody("b", "a.bin", data), "b", &got, &name), "part") << data;
    EXPECT_EQ(got, data);
    EXPECT_EQ(name, "a.bin");
  }
}

TEST(CutFirstPart, OnlyTheFirstPartCounts) {
  std::string body =
      "--B\r\nContent-Disposition: form-data; name=\"one\"; filename=\"first.txt\"\r\n\r\nfirst\r\n"
      "--B\r\nContent-Disposition: form-data; name=\"two\"; filename=\"second.txt\"\r\n\r\nsecond\r\n--B--\r\n";
  std::string data, name;
  ASSERT_EQ(Cut(body, "B", &data, &name), "part");
  EXPECT_EQ(data, "first");
  EXPECT_EQ(name, "first.txt");

  std::string field = "--B\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nhello\r\n--B--\r\n";
  ASSERT_EQ(Cut(field, "B", &data, &name), "part");
  EXPECT_EQ(name, "<none>");
}

TEST(CutFirstPart, FindsTheDispositionAmongFoldedHeadersInAnyOrder) {
  std::string body =
      "--B\r\nContent-Type: audio/mpeg\r\ncontent-disposition: form-data;\r\n\tname=\"f\"; filename=\"x.mp3\"\r\n\r\n"
      "data\r\n--B--";
  std::string data, name;
  ASSERT_EQ(Cut(body, "B", &data, &name), "part");
  EXPECT_EQ(name, "x.mp3");
  EXPECT_EQ(data, "data");
}

TEST(CutFirstPart, AcceptsAPreambleAndPaddingAfterDelimiters) {
  std::string body = "preamble text\r\n--B \t\r\nContent-Disposition: form-data; filename=\"p.txt\"\r\n\r\nP\r\n--B--";
  std::string data, name;
  ASSERT_EQ(Cut(body, "B", &data, &name), "part");
  EXPECT_EQ(data, "P");
  EXPECT_EQ(name, "p.txt");
}

TEST(CutFirstPart, AMalformedOrTruncatedBodyGivesNothing) {
  const std::string good = FileBody("B", "a.txt", "content");
  ASSERT_EQ(Cut(good, "B"), "part");
  struct Case {
    const char* why;
    std::string body;
    std::string boundary;
  } cases[] = {
      {"no closing delimiter", good.substr(0, good.find("--B--")), "B"},
      {"cut inside the closing delimiter", good.substr(0, good.find("--B--") + 3), "B"},
      {"cut inside the data", good.substr(0, good.find("content") + 3), "B"},
      {"a next part but no closing delimiter", "--B\r\nA: b\r\n\r\none\r\n--B\r\nA: b\r\n\r\ntwo\r\n", "B"},
      {"headers that never end", "--B\r\nContent-Disposition: form-data; filename=\"a\"\r\n", "B"},
      {"headers longer than any browser sends", "--B\r\nX: " + std::string(20000, 'x') + "\r\n\r\nd\r\n--B--", "B"},
      {"another boundary", good, "C"},
      {"the boundary only as a prefix", good, "B2"},
      {"a body without parts", "--B--\r\n", "B"},
      {"a line end that is only LF", "--B\nA: b\n\ndata\n--B--\n", "B"},
      {"an empty body", "", "B"},
      {"not multipart at all", "name=value&other=1", "B"},
      {"the delimiter without its line end", "--Bxyz\r\n\r\ndata\r\n--B--", "B"},
  };
  for (const Case& c : cases) EXPECT_EQ(Cut(c.body, c.boundary), "nothing") << c.why;
}

// A body produced on demand: `size` bytes of filler with a multipart frame at both ends. Records the
// reads it is asked for.
class LargeSource : public ByteSource {
 public:
  LargeSource(std::uint64_t size, std::string head, std::string tail, std::string unit = "-\r\n-")
      : size_(size), head_(std::move(head)), tail_(std::move(tail)), unit_(std::move(unit)) {
    while (filler_.size() < 65536) filler_ += unit_;
  }
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override {
    largestRead = std::max(largestRead, size);
    ++reads;
    if (offset + size > size_) readPastEnd = true;
    if (offset >= size_) return 0;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
    const std::uint64_t tailStart = size_ - tail_.size();
    std::size_t done = 0;
    while (done < size) {
      std::uint64_t position = offset + done;
      std::size_t count;
      if (position < head_.size()) {
        count = std::min<std::size_t>(size - done, head_.size() - position);
        std::memcpy(data + done, head_.data() + position, count);
      } else if (position >= tailStart) {
        count = std::min<std::size_t>(size - done, static_cast<std::size_t>(size_ - position));
        std::memcpy(data + done, tail_.data() + (position - tailStart), count);
      } else {
        // Filler holding every piece of a delimiter, never a whole one.
        static const std::string filler = [] {
          std::string block;
          while (block.size() < 65536) block += "-\r\n-";
          return block;
        }();
        std::size_t phase = static_cast<std::size_t>(position % 4);
        count =
            std::min<std::size_t>({size - done, filler.size() - phase, static_cast<std::size_t>(tailStart - position)});
        std::memcpy(data + done, filler.data() + phase, count);
      }
      done += count;
    }
    return size;
  }
  std::size_t largestRead = 0;
  std::size_t reads = 0;
  bool readPastEnd = false;

 private:
  std::uint64_t size_;
  std::string head_, tail_;
  std::string unit_;    // repeated between head and tail
  std::string filler_;  // whole units, at least 64 KiB
};

TEST(CutFirstPart, CutsABodyLargerThanTheServersLimitInBoundedReads) {
  const std::uint64_t size = (512ull << 20) + 12345;
  std::string head = "--Boundary\r\nContent-Disposition: form-data; filename=\"big.bin\"\r\n\r\n";
  std::string tail = "\r\n--Boundary--\r\n";
  LargeSource source(size, head, tail);
  std::optional<MultipartPart> part = CutFirstPart(source, "Boundary");
  ASSERT_TRUE(part);
  EXPECT_EQ(part->fileName, "big.bin");
  EXPECT_EQ(part->dataBegin, head.size());
  EXPECT_EQ(part->dataEnd, size - tail.size());
  EXPECT_LE(source.largestRead, 1u << 20);
  EXPECT_FALSE(source.readPastEnd);
}

TEST(CutFirstPart, ABodyFullOfNearDelimitersIsStillReadOnce) {
  const std::uint64_t size = 64ull << 20;
  std::string head = "--Boundary\r\nContent-Disposition: form-data; filename=\"near.bin\"\r\n\r\n";
  std::string tail = "\r\n--Boundary--\r\n";
  for (const char* unit : {"\r\n--Boundaryx", "\r\n--Boundary-x", "\r\n--Boundary \t x"}) {
    LargeSource source(size, head, tail, unit);
    std::optional<MultipartPart> part = CutFirstPart(source, "Boundary");
    ASSERT_TRUE(part) << unit;
    EXPECT_EQ(part->dataEnd, size - tail.size());
    // One pass of pieces, and a few reads at their seams.
    EXPECT_LE(source.reads, 3 * (size / (256 * 1024)) + 10) << unit;
  }
}

TEST(CutFirstPart, NeverAsksForBytesPastTheEnd) {
  std::string head = "--B\r\nContent-Disposition: form-data; filename=\"a\"\r\n\r\n";
  for (const std::string& tail : {std::string("\r\n--B--"), std::string("\r\n--B"), std::string("\r\n-"),
                                  std::string(""), std::string("\r\n--B\r\n")}) {
    for (std::uint64_t size : {head.size() + tail.size(), head.size() + tail.size() + 5, std::uint64_t{300000}}) {
      LargeSource source(size, head, tail);
      CutFirstPart(source, "B");
      EXPECT_FALSE(source.readPastEnd) << tail << " " << size;
    }
  }
}

TEST(FindInSource, FindsAPatternThatStraddlesTwoPieces) {
  std::string text(1000, 'a');
  for (std::size_t at : {0u, 1u, 95u, 96u, 97u, 98u, 99u, 100u, 994u, 995u}) {
    std::string body = text;
    body.replace(at, 5, "\r\n--X");
    TextSource source(body);
    EXPECT_EQ(FindInSource(source, "\r\n--X", 0, 100), at) << at;
    EXPECT_EQ(FindInSource(source, "\r\n--X", at + 1, 100), std::nullopt) << at;
  }
  TextSource empty("");
  EXPECT_EQ(FindInSource(empty, "x", 0), std::nullopt);
  TextSource shortText("ab");
  EXPECT_EQ(FindInSource(shortText, "abc", 0), std::nullopt);
  EXPECT_EQ(FindInSource(shortText, "b", 5), std::nullopt);
}

}  // namespace
}  // namespace qf
