// ID3v2Library on tags built byte by byte: ID3v2.2, unsynchronisation, extended headers, footers,
// skipped frames, plain sizes in ID3v2.4, and files that end early or state sizes they do not have.
// Where TagLib reads such a tag as the library should, the two are compared.

#include <algorithm>
#include <fstream>
#include <thread>

#include "id3v2library_fixture.h"
#include "tag_builder.h"

namespace qftest::id3v2 {
namespace {

using namespace std::string_literals;
using Ids = std::vector<std::string>;

const std::string kJpeg = "\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0\xFF\xFF\xE0\xFF\0\xFF\xD9"s;
const std::string kAudio = "\xFF\xFB\x90\x64 audio"s;

// A text frame's data: the encoding byte, then the text.
std::string Latin1(const std::string& text) { return "\0"s + text; }
std::string Utf16(const std::u16string& text) {
  std::string data = "\x01\xFF\xFE"s;
  for (char16_t c : text) data += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return data;
}

class HandBuiltTags : public Id3v2LibraryTest {};

TEST_F(HandBuiltTags, LoadAnswersByWhatTheFileStartsWith) {
  struct Case {
    const char* name;
    std::string bytes;
    int result;
  };
  const Case cases[] = {
      {"empty", "", ID3V2_NO_TAG},
      {"riff", "RIFF\0\0\0\0WAVEfmt "s, ID3V2_NO_TAG},
      {"two-bytes", "ID", ID3V2_NO_TAG},
      {"tag-after-start", "x" + Tag(3, 0, Frame23("TIT2", Latin1("a"))), ID3V2_NO_TAG},
      {"cut-header", "ID3\x03\0\0\0"s, ID3V2_MALFORMED},
      {"version-1", Tag(1, 0, ""), ID3V2_MALFORMED},
      {"version-5", Tag(5, 0, Frame23("TIT2", Latin1("a"))), ID3V2_MALFORMED},
      {"revision-ff", "ID3\x03\xFF\0\0\0\0\0"s, ID3V2_MALFORMED},
      {"size-not-synchsafe", "ID3\x03\0\0\0\0\x80\0"s, ID3V2_MALFORMED},
      {"compressed-v22", Tag(2, 0x40, Frame22("TT2", Latin1("a"))), ID3V2_MALFORMED},
      {"header-only", Tag(4, 0, ""), ID3V2_OK},
  };
  for (const Case& test : cases) {
    const LoadedTag tag(library_, WriteTagFile(test.name, test.bytes));
    EXPECT_EQ(tag.LoadResult(), test.result) << test.name;
    EXPECT_EQ(library_.FrameCount(tag.Handle()), 0) << test.name;
    EXPECT_EQ(tag.Text("TIT2"), "") << test.name;
  }
  const LoadedTag missing(library_, folder_.Path() / "missing.mp3");
  EXPECT_EQ(missing.LoadResult(), ID3V2_FILE_UNREADABLE);
  const LoadedTag folder(library_, folder_.Path());
  EXPECT_EQ(folder.LoadResult(), ID3V2_FILE_UNREADABLE);
}

TEST_F(HandBuiltTags, Version22FramesAreAskedForByEitherId) {
  const std::string body =
      Frame22("TT2", Latin1("Title \xE9")) + Frame22("TP1", Utf16(u"Art\u0152")) + Frame22("TAL", Latin1("Album")) +
      Frame22("TRK", Latin1("7")) + Frame22("TYE", Latin1("1999")) + Frame22("TCO", Latin1("Rock")) +
      Frame22("TP2", Latin1("Band")) + Frame22("COM", "\0engdesc\0Comment"s) + Frame22("ULT", "\0eng\0Lyrics"s) +
      Frame22("TXX", "\0key\0value"s) + Frame22("WAR", "http://a") + Frame22("PIC", "\0JPG\003desc\0"s + kJpeg) +
      std::string(20, '\0');
  const std::filesystem::path path = WriteTagFile("v22.mp3", Tag(2, 0, body) + kAudio);
  ExpectAgreesWithTagLib(path, 9);

  const LoadedTag tag(library_, path);
  EXPECT_EQ(tag.FrameIds(), (Ids{"TT2", "TP1", "TAL", "TRK", "TYE", "TCO", "TP2", "COM", "ULT", "TXX", "WAR", "PIC"}));
  const std::pair<const char*, const char*> asked[] = {
      {"TIT2", "Title \xE9"}, {"TT2", "Title \xE9"}, {"TPE1", "Art\x8C"},  {"TALB", "Album"},   {"TRCK", "7"},
      {"TYER", "1999"},       {"TCON", "Rock"},      {"TPE2", "Band"},     {"COMM", "Comment"}, {"COM", "Comment"},
      {"USLT", "Lyrics"},     {"TXXX", "value"},     {"WOAR", "http://a"}, {"TIT3", ""},        {"XXXX", ""},
  };
  for (const auto& [id, text] : asked) EXPECT_EQ(tag.Text(id), text) << id;
  EXPECT_EQ(tag.Picture(0).format, ID3V2_PICTURE_JPEG);
  EXPECT_EQ(tag.Picture(0).bytes, kJpeg);
}

TEST_F(HandBuiltTags, TagUnsynchronisationIsRemovedBeforeFramesAreRead) {
  for (int version : {2, 3}) {
    const std::string body =
        version == 2 ? Frame22("TT2", Latin1("\xFF\xE0\xFF")) + Frame22("PIC", "\0JPG\x03\0"s + kJpeg)
                     : Frame23("TIT2", Latin1("\xFF\xE0\xFF")) + Frame23("APIC", "\0image/jpeg\0\x03\0"s + kJpeg);
    const std::string encoded = Unsynchronise(body);
    ASSERT_NE(encoded, body);
    const std::filesystem::path path = WriteTagFile("unsync.mp3", Tag(version, 0x80, encoded) + kAudio);
    ExpectAgreesWithTagLib(path, 1);

    const LoadedTag tag(library_, path);
    EXPECT_EQ(tag.Text("TIT2"), "\xFF\xE0\xFF") << version;
    EXPECT_EQ(tag.Picture(0).bytes, kJpeg) << version;
    EXPECT_EQ(tag.FrameData(0), Latin1("\xFF\xE0\xFF")) << version;
  }
}

TEST_F(HandBuiltTags, Version24UnsynchronisationIsPerFrameOrForAllFrames) {
  const std::string title = Latin1("\xFF\xE0 title \xFF");
  const std::string picture = "\0image/jpeg\0\x03\0"s + kJpeg;
  // By the frame flag, once with a data length indicator before the data.
  const std::string flagged = Frame24("TIT2", Unsynchronise(title), 0x02) +
                              Frame24("APIC", Synchsafe(picture.size()) + Unsynchronise(picture), 0x02 | 0x01) +
                              Frame24("TPE1", Latin1("plain \xFF"));
  // By the tag flag: every frame, none flagged itself.
  const std::string all = Frame24("TIT2", Unsynchronise(title)) + Frame24("APIC", Unsynchronise(picture)) +
                          Frame24("TPE1", Unsynchronise(Latin1("plain \xFF")));
  for (const auto& [flags, body] : {std::pair{0, flagged}, std::pair{0x80, all}}) {
    const std::filesystem::path path = WriteTagFile("v24-unsync.mp3", Tag(4, flags, body) + kAudio);
    ExpectAgreesWithTagLib(path, 2);

    const LoadedTag tag(library_, path);
    EXPECT_EQ(tag.FrameIds(), (Ids{"TIT2", "APIC", "TPE1"}));
    EXPECT_EQ(tag.FrameData(0), title);
    EXPECT_EQ(tag.FrameData(1), picture);
    EXPECT_EQ(library_.GetFrameSize(tag.Handle(), 1), static_cast<int>(picture.size()));
    EXPECT_EQ(tag.Text("TPE1"), "plain \xFF");
    EXPECT_EQ(tag.Picture(0).bytes, kJpeg);
  }
}

TEST_F(HandBuiltTags, ExtendedHeadersAreSkipped) {
  const std::string frames = Frame23("TIT2", Latin1("Title")) + Frame23("TPE1", Latin1("Artist"));
  // ID3v2.3: the size leaves itself out; flags, padding size and, with the CRC flag, a CRC follow.
  const std::string plain23 = BigEndian(6, 4) + "\0\0\0\0\0\0"s;
  const std::string crc23 = BigEndian(10, 4) + "\x80\0\0\0\0\0\x12\x34\x56\x78"s;
  for (const std::string& extended : {plain23, crc23}) {
    const LoadedTag tag(library_, WriteTagFile("ext23.mp3", Tag(3, 0x40, extended + frames) + kAudio));
    EXPECT_EQ(tag.LoadResult(), ID3V2_OK);
    EXPECT_EQ(tag.FrameIds(), (Ids{"TIT2", "TPE1"}));
    EXPECT_EQ(tag.Text("TPE1"), "Artist");
  }
  // ID3v2.3 with unsynchronisation: the extended header is unsynchronised with the frames.
  const std::string raw = BigEndian(6, 4) + "\xFF\xE0\0\0\0\0"s + frames;
  const std::string unsynchronised = Unsynchronise(raw);
  ASSERT_NE(unsynchronised, raw);
  const LoadedTag both(library_, WriteTagFile("ext23-unsync.mp3", Tag(3, 0xC0, unsynchronised) + kAudio));
  EXPECT_EQ(both.FrameIds(), (Ids{"TIT2", "TPE1"}));

  // ID3v2.4: a synchsafe size that counts itself, a count of flag bytes, flags and their data.
  // Padding after the frames: TagLib counts an extended header twice and would miss a last frame.
  const std::string frames24 =
      Frame24("TIT2", Latin1("Title")) + Frame24("TPE1", Latin1("Artist")) + std::string(20, '\0');
  const std::string plain24 = Synchsafe(6) + "\x01\0"s;
  const std::string crc24 = Synchsafe(12) + "\x01\x20\x05\x01\x02\x03\x04\x05"s;
  for (const std::string& extended : {plain24, crc24}) {
    const std::filesystem::path path = WriteTagFile("ext24.mp3", Tag(4, 0x40, extended + frames24) + kAudio);
    ExpectAgreesWithTagLib(path, 2);
    const LoadedTag tag(library_, path);
    EXPECT_EQ(tag.FrameIds(), (Ids{"TIT2", "TPE1"}));
  }

  // An extended header larger than the tag leaves no frames, but the tag is still read.
  const LoadedTag oversized(library_, WriteTagFile("ext-big.mp3", Tag(3, 0x40, BigEndian(500, 4) + frames)));
  EXPECT_EQ(oversized.LoadResult(), ID3V2_OK);
  EXPECT_EQ(library_.FrameCount(oversized.Handle()), 0);
}

TEST_F(HandBuiltTags, FooterIsTolerated) {
  const std::string body = Frame24("TIT2", Latin1("Title")) + Frame24("TPE1", "\003\303\234ber"s);
  const std::string footer = "3DI\x04\0\x10"s + Synchsafe(body.size());
  const std::filesystem::path path = WriteTagFile("footer.mp3", Tag(4, 0x10, body) + footer + kAudio);
  // TagLib takes the footer out of the tag's stated size and so misses the last frame; the first agrees.
  ExpectAgreesWithTagLib(path, 1);
  const LoadedTag tag(library_, path);
  EXPECT_EQ(tag.FrameIds(), (Ids{"TIT2", "TPE1"}));
  EXPECT_EQ(tag.Text("TPE1"), "\334ber");
}

TEST_F(HandBuiltTags, CompressedAndEncryptedFramesAreSkipped) {
  // ID3v2.3: a compressed frame carries its decompressed size, an encrypted one its method byte, a
  // grouped one its group byte before the data.
  const std::string body23 = Frame23("TIT2", "x\x9C\x01\x02\x03"s, 0x80, BigEndian(40, 4)) +
                             Frame23("TALB", "\x01\x02\x03"s, 0x40, "\x80") +
                             Frame23("TPE1", Latin1("Grouped"), 0x20, "\x05") + Frame23("TRCK", Latin1("4"));
  const LoadedTag tag23(library_, WriteTagFile("skip23.mp3", Tag(3, 0, body23) + kAudio));
  EXPECT_EQ(tag23.FrameIds(), (Ids{"TPE1", "TRCK"}));
  EXPECT_EQ(tag23.Text("TIT2"), "");
  EXPECT_EQ(tag23.Text("TALB"), "");
  EXPECT_EQ(tag23.Text("TPE1"), "Grouped");
  EXPECT_EQ(tag23.FrameData(0), Latin1("Grouped"));

  // ID3v2.4: compression always comes with a data length indicator; a group byte comes before it.
  const std::string body24 =
      Frame24("TIT2", Synchsafe(40) + "x\x9C\x01\x02\x03"s, 0x08 | 0x01) + Frame24("TALB", "\x80\x01\x02\x03"s, 0x04) +
      Frame24("TPE1", "\x05"s + Synchsafe(8) + Latin1("Grouped"), 0x40 | 0x01) + Frame24("TRCK", Latin1("4"));
  const LoadedTag tag24(library_, WriteTagFile("skip24.mp3", Tag(4, 0, body24) + kAudio));
  EXPECT_EQ(tag24.FrameIds(), (Ids{"TPE1", "TRCK"}));
  EXPECT_EQ(tag24.Text("TIT2"), "");
  EXPECT_EQ(tag24.Text("TPE1"), "Grouped");
  EXPECT_EQ(tag24.Text("TRCK"), "4");
}

TEST_F(HandBuiltTags, Version24PlainSizesAreRecognised) {
  const std::string title = Latin1(std::string(300, 't'));
  const std::string artist = Latin1(std::string(200, 'a'));
  const std::string plain = Frame24PlainSize("TIT2", title) + Frame24PlainSize("TPE1", artist) +
                            Frame24PlainSize("TALB", Latin1("Album")) + std::string(30, '\0');
  const std::string synchsafe = Frame24("TIT2", title) + Frame24("TPE1", artist) + Frame24("TALB", Latin1("Album"));
  // Plain sizes in a tag that ends right after its last frame, and synchsafe ones that read the same way.
  for (const std::string& body : {plain, plain.substr(0, plain.size() - 30), synchsafe}) {
    const std::filesystem::path path = WriteTagFile("plain.mp3", Tag(4, 0, body) + kAudio);
    ExpectAgreesWithTagLib(path, 3);
    const LoadedTag tag(library_, path);
    EXPECT_EQ(tag.FrameIds(), (Ids{"TIT2", "TPE1", "TALB"}));
    EXPECT_EQ(tag.Text("TIT2"), std::string(300, 't'));
    EXPECT_EQ(tag.Text("TALB"), "Album");
  }
}

TEST_F(HandBuiltTags, FilesThatEndEarlyKeepTheWholeFrames) {
  const std::string frames = Frame23("TIT2", Latin1("Title")) + Frame23("TPE1", Latin1("Artist")) +
                             Frame23("TALB", Latin1("An album whose end is cut off"));
  // TagLib keeps a frame that is short by less than a frame header, so it is compared on a deeper cut;
  // the library never keeps a frame that is cut short.
  for (std::size_t missing : {15, 1}) {
    const std::filesystem::path path =
        WriteTagFile("cut.mp3", Header(3, 0, 1000) + frames.substr(0, frames.size() - missing));
    if (missing > 10) ExpectAgreesWithTagLib(path, 2);
    const LoadedTag tag(library_, path);
    EXPECT_EQ(tag.FrameIds(), (Ids{"TIT2", "TPE1"}));
    EXPECT_EQ(tag.Text("TALB"), "");
  }

  const LoadedTag headerCut(library_, WriteTagFile("cut-frame-header.mp3", Header(4, 0, 100) + "TIT2\0\0"s));
  EXPECT_EQ(headerCut.LoadResult(), ID3V2_OK);
  EXPECT_EQ(library_.FrameCount(headerCut.Handle()), 0);
}

TEST_F(HandBuiltTags, FrameSizesThatLieEndTheFrameList) {
  // TagLib reads these alike, except that it gives up on the whole tag at an empty frame and makes a
  // picture out of a MIME type without its terminator.
  struct Case {
    const char* name;
    std::string bytes;
    Ids ids;
    bool comparedWithTagLib = true;
  };
  const std::string title23 = Frame23("TIT2", Latin1("Title"));
  const std::string title24 = Frame24("TIT2", Latin1("Title"));
  const Case cases[] = {
      {"v23-huge", Tag(3, 0, title23 + "TPE1\xFF\xFF\xFF\xF0\0\0abc"s + std::string(20, '\0')), {"TIT2"}},
      {"v24-huge", Tag(4, 0, title24 + "TPE1\x7F\x7F\x7F\x7F\0\0abc"s), {"TIT2"}},
      {"v24-not-synchsafe", Tag(4, 0, title24 + "TPE1\xFF\xFF\xFF\xFF\0\0abc"s), {"TIT2"}},
      {"v22-huge", Tag(2, 0, Frame22("TT2", Latin1("Title")) + "TP1\377\377\377abc"s), {"TT2"}},
      {"past-tag-size", Header(3, 0, 12) + Frame23("TIT2", Latin1("A longer title")), {}},
      {"bad-id", Tag(3, 0, title23 + Frame23("tpe1", Latin1("Artist")) + Frame23("TALB", Latin1("A"))), {"TIT2"}},
      {"padding-then-frame", Tag(3, 0, title23 + std::string(4, '\0') + Frame23("TPE1", Latin1("A"))), {"TIT2"}},
      {"picture-without-data", Tag(3, 0, title23 + Frame23("APIC", "\0image/png"s)), {"TIT2", "APIC"}, false},
      {"empty-frames", Tag(4, 0, Frame24("TIT2", "") + Frame24("TPE1", Latin1("A"))), {"TIT2", "TPE1"}, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::filesystem::path path = WriteTagFile(test.name, test.bytes + kAudio);
    if (test.comparedWithTagLib) ExpectAgreesWithTagLib(path, test.ids.empty() ? 0 : 1);
    const LoadedTag tag(library_, path);
    EXPECT_EQ(tag.LoadResult(), ID3V2_OK) << test.name;
    EXPECT_EQ(tag.FrameIds(), test.ids) << test.name;
    EXPECT_EQ(tag.Picture(0).format, ID3V2_PICTURE_NONE) << test.name;
    for (int index = 0; index < static_cast<int>(test.ids.size()); ++index) {
      EXPECT_NO_THROW(tag.FrameData(index)) << test.name;
    }
  }
  const LoadedTag empty(library_, WriteTagFile("empty-frame.mp3", cases[8].bytes));
  EXPECT_EQ(library_.GetFrameSize(empty.Handle(), 0), 0);
  EXPECT_NE(library_.GetFrameDataP(empty.Handle(), 0), nullptr);
  EXPECT_EQ(empty.Text("TIT2"), "");
}

TEST_F(HandBuiltTags, TextsFollowTheLayoutOfTheirFrame) {
  struct Case {
    const char* id;
    std::string data;
    std::string text;
  };
  const Case cases[] = {
      {"TIT2", "\x03One\0Two\0\0Three\0"s, "One / Two / Three"},
      {"TIT3", "\x01\xFF\xFEO\0n\0\0\0\xFE\xFF\0T\0w"s, "On / Tw"},
      {"TPE1", "\x01O\0n\0e\0"s, "One"},             // no byte order mark: little-endian
      {"TPE2", "\x01\xFE\xFF\0A\0\0\0B"s, "A / B"},  // a value without a mark keeps the one before
      {"TPE3", "\x03\xEF\xBB\xBFUTF-8 with a mark"s, "UTF-8 with a mark"},
      {"TPE4", "\x03\xC3(\xF0\x9F\x8E\xB5\xED\xA0\x80!"s, "?(?\?!"},  // invalid, beyond, a surrogate
      {"TCOM", "\x01\xFF\xFE\x3D\xD8\x41\0\0\xD8"s, "?A?"},           // surrogates without their partners
      {"TOPE", "\x07Text"s, ""},                                      // no such encoding
      {"TEXT", "\x02\x01\x00\x20\xAC"s, "?\x80"},
      {"TXXX", "\003description\0v1\0v2"s, "v1 / v2"},
      {"WXXX", "\x01\xFF\xFEx\0\0\0http://w/\xE9\0junk"s, "http://w/\xE9"},
      {"WOAR", "http://u\0junk"s, "http://u"},
      {"USLT", "\0engdesc\0Lyrics"s, "Lyrics"},
      {"COMM", "\001eng\xFE\xFF\0d\0\0\0h\0i\0\0\0x"s, "hi"},  // the description's byte order goes on
      {"APIC", "\0image/png\0\x03\0data"s, ""},
      {"PRIV", "owner\0data"s, ""},
  };
  std::string body;
  for (const Case& test : cases) body += Frame24(test.id, test.data);
  const LoadedTag tag(library_, WriteTagFile("layouts.mp3", Tag(4, 0, body) + kAudio));
  ASSERT_EQ(library_.FrameCount(tag.Handle()), static_cast<int>(std::size(cases)));
  for (const Case& test : cases) EXPECT_EQ(tag.Text(test.id), test.text) << test.id;

  // Frames cut short before their text.
  std::string cut;
  for (const char* id : {"COMM", "TXXX", "WXXX", "TIT2"}) cut += Frame24(id, "\x01\xFF"s);
  const LoadedTag shortTag(library_, WriteTagFile("short.mp3", Tag(4, 0, cut + Frame24("USLT", "\0e"s))));
  for (const char* id : {"COMM", "TXXX", "WXXX", "TIT2", "USLT"}) EXPECT_EQ(shortTag.Text(id), "") << id;
}

TEST_F(HandBuiltTags, TagIsReadUpTo64MiBWhateverItsHeaderSays) {
  const std::filesystem::path path = folder_.Path() / "huge.mp3";
  {
    std::ofstream file(path, std::ios::binary);
    const std::size_t privateSize = 64u << 20;
    file << Header(3, 0, 0x0FFFFFFF) << Frame23("TIT2", Latin1("Title"));
    file << "PRIV" << BigEndian(static_cast<std::uint32_t>(privateSize), 4) << "\0\0"s;
    const std::string block(1 << 20, 'p');
    for (std::size_t written = 0; written < privateSize; written += block.size()) file << block;
    file << Frame23("TPE1", Latin1("Artist"));
    ASSERT_TRUE(file);
  }
  const LoadedTag tag(library_, path);
  EXPECT_EQ(tag.LoadResult(), ID3V2_OK);
  EXPECT_EQ(tag.FrameIds(), (Ids{"TIT2"}));
}

TEST_F(HandBuiltTags, LoadReplacesWhatTheHandleHeld) {
  const std::filesystem::path good = WriteTagFile("good.mp3", Tag(3, 0, Frame23("TIT2", Latin1("Title"))));
  LoadedTag tag(library_, good);
  EXPECT_EQ(tag.Text("TIT2"), "Title");
  const std::string missing = (folder_.Path() / "missing.mp3").string();
  EXPECT_EQ(library_.Load(tag.Handle(), missing.c_str()), ID3V2_FILE_UNREADABLE);
  EXPECT_EQ(library_.FrameCount(tag.Handle()), 0);
  EXPECT_EQ(tag.Text("TIT2"), "");
  EXPECT_EQ(library_.Load(tag.Handle(), nullptr), ID3V2_FILE_UNREADABLE);
  EXPECT_EQ(library_.Load(tag.Handle(), good.c_str()), ID3V2_OK);
  EXPECT_EQ(tag.Text("TIT2"), "Title");
  EXPECT_EQ(tag.Text(""), "");
  EXPECT_STREQ(library_.GetAsciiText(tag.Handle(), nullptr), "");
}

TEST_F(HandBuiltTags, NullHandleAnswersAsNoTag) {
  unsigned int length = 5;
  char buffer[4];
  EXPECT_EQ(library_.Load(nullptr, "x"), ID3V2_FILE_UNREADABLE);
  EXPECT_STREQ(library_.GetAsciiText(nullptr, "TIT2"), "");
  EXPECT_EQ(library_.GetAlbumPictureStream(nullptr, 0, nullptr, &length), ID3V2_PICTURE_NONE);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(library_.GetAlbumPicture(nullptr, 0, (folder_.Path() / "p").c_str()), ID3V2_PICTURE_NONE);
  EXPECT_EQ(library_.FrameCount(nullptr), 0);
  EXPECT_STREQ(library_.GetFrameID(nullptr, 0), "");
  EXPECT_EQ(library_.GetFrameSize(nullptr, 0), -1);
  EXPECT_EQ(library_.GetFrameData(nullptr, 0, buffer, sizeof buffer), -1);
  EXPECT_EQ(library_.GetFrameDataP(nullptr, 0), nullptr);
  library_.Free(nullptr);
}

class ConcurrentHandles : public Id3v2LibraryTest {};

TEST_F(ConcurrentHandles, ReadIndependently) {
  const std::filesystem::path path = WriteTagFile(
      "shared.mp3", Tag(4, 0, Frame24("TIT2", "\x03Tr\xC3\xA8s"s) + Frame24("APIC", "\0image/jpeg\0\x03\0"s + kJpeg)));
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (std::size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        const LoadedTag tag(library_, path);
        if (tag.Text("TIT2") != "Tr\xE8s" || tag.Picture(0).bytes != kJpeg) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace qftest::id3v2
