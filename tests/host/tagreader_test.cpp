// The built-in tag reader against the TagLib reader, on the demo library and on hand-built files.

#include "tagreader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio_files.h"
#include "demomusic.h"
#include "metadata.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace host {
namespace {

using namespace std::string_literals;

std::string Be(std::uint32_t value, int count) {
  std::string bytes;
  for (int i = count - 1; i >= 0; --i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string Le(std::uint32_t value, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string Synchsafe(std::uint32_t value) {
  std::string bytes;
  for (int shift = 21; shift >= 0; shift -= 7) bytes += static_cast<char>((value >> shift) & 0x7F);
  return bytes;
}

// One frame of an ID3v2 tag of `version` (2, 3 or 4).
std::string Frame(int version, const std::string& id, const std::string& body, int flags = 0) {
  if (version == 2) return id + Be(static_cast<std::uint32_t>(body.size()), 3) + body;
  std::string size = version == 3 ? Be(static_cast<std::uint32_t>(body.size()), 4)
                                  : Synchsafe(static_cast<std::uint32_t>(body.size()));
  return id + size + Be(static_cast<std::uint32_t>(flags), 2) + body;
}

std::string Tag(int version, const std::string& frames, int flags = 0) {
  return "ID3" + std::string(1, static_cast<char>(version)) + std::string(1, '\0') +
         std::string(1, static_cast<char>(flags)) + Synchsafe(static_cast<std::uint32_t>(frames.size())) + frames;
}

// What an unsynchronising writer stores: a zero byte after every 0xFF.
std::string Unsynchronised(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    out += c;
    if (c == '\xFF') out += '\0';
  }
  return out;
}

std::string Latin1(const std::string& text) { return std::string(1, '\0') + text; }
std::string Utf8(const std::string& text) { return "\x03" + text; }

// UTF-16 of 16-bit units, with a byte order mark (encoding 1) or big-endian without (encoding 2).
std::string Utf16(const std::u16string& text, bool bigEndianWithoutMark = false) {
  std::string bytes(1, bigEndianWithoutMark ? '\x02' : '\x01');
  if (!bigEndianWithoutMark) bytes += "\xFF\xFE";
  for (char16_t unit : text) bytes += bigEndianWithoutMark ? Be(unit, 2) : Le(unit, 2);
  return bytes;
}

// `count` frames of MPEG audio with the header bytes given; the frame length follows from them.
std::string MpegFrames(unsigned b1, unsigned b2, unsigned b3, int count, int length) {
  std::string frame = {'\xFF', static_cast<char>(b1), static_cast<char>(b2), static_cast<char>(b3)};
  frame.resize(static_cast<std::size_t>(length), '\0');
  std::string frames;
  for (int i = 0; i < count; ++i) frames += frame;
  return frames;
}

// Ten seconds of the demo's silent stream without a tag: MPEG-1 Layer III, 32 kbit/s, 32 kHz, stereo.
std::string Audio() { return MakeMp3(10, std::nullopt, ""); }

std::string Id3v1(const std::string& title, const std::string& artist, int track, int genre) {
  std::string tag = "TAG";
  auto field = [&](const std::string& text, std::size_t size) {
    tag += text.substr(0, size) + std::string(size - std::min(size, text.size()), '\0');
  };
  field(title, 30);
  field(artist, 30);
  field("Album One", 30);
  field("1999", 4);
  field("a comment", 28);
  tag += '\0';
  tag += static_cast<char>(track);
  tag += static_cast<char>(genre);
  return tag;
}

// An APE tag of text items ("KEY", "value"), with a header when `header` is true.
std::string Ape(const std::vector<std::pair<std::string, std::string>>& items, bool header) {
  std::string body;
  for (const auto& [key, value] : items)
    body += Le(static_cast<std::uint32_t>(value.size()), 4) + Le(0, 4) + key + '\0' + value;
  auto frame = [&](bool isHeader) {
    std::uint32_t flags = (header ? 0x80000000u : 0) | (isHeader ? 0x20000000u : 0);
    return "APETAGEX" + Le(2000, 4) + Le(static_cast<std::uint32_t>(body.size() + 32), 4) +
           Le(static_cast<std::uint32_t>(items.size()), 4) + Le(flags, 4) + std::string(8, '\0');
  };
  return (header ? frame(true) : "") + body + frame(false);
}

class TagReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::emulation::MapDrive('C', folder_.Path().string()); }

  std::string Write(const std::string& name, const std::string& bytes) {
    qftest::WriteFile(folder_.Path() / name, bytes);
    return "C:\\" + name;
  }

  enum class Readability { Same, Own };

  // Both readers on one file, field by field; answers the built-in reader's result. With
  // Readability::Own the caller checks `readable` itself.
  static Metadata ExpectSameAsTagLib(const std::string& path, Readability readability = Readability::Same) {
    SCOPED_TRACE(path);
    Metadata expected = ReadMetadata(path);
    Metadata actual = ReadMetadataBuiltIn(path);
    if (readability == Readability::Same) {
      EXPECT_EQ(actual.readable, expected.readable);
    }
    EXPECT_EQ(actual.title, expected.title);
    EXPECT_EQ(actual.artist, expected.artist);
    EXPECT_EQ(actual.album, expected.album);
    EXPECT_EQ(actual.albumArtist, expected.albumArtist);
    EXPECT_EQ(actual.genre, expected.genre);
    EXPECT_EQ(actual.comment, expected.comment);
    EXPECT_EQ(actual.year, expected.year);
    EXPECT_EQ(actual.track, expected.track);
    EXPECT_NEAR(actual.lengthMs, expected.lengthMs, 1);
    EXPECT_EQ(actual.bitrate, expected.bitrate);
    EXPECT_EQ(actual.sampleRate, expected.sampleRate);
    EXPECT_EQ(actual.channels, expected.channels);
    EXPECT_EQ(actual.fileSize, expected.fileSize);
    EXPECT_EQ(actual.modified, expected.modified);
    return actual;
  }

  qftest::TempFolder folder_;
};

TEST_F(TagReaderTest, ReadsTheDemoLibraryAsTagLibDoes) {
  std::vector<std::string> files = WriteDemoLibrary(folder_.Path() / "Music");
  ASSERT_FALSE(files.empty());
  int tagged = 0;
  for (std::string file : files) {
    for (char& c : file)
      if (c == '/') c = '\\';
    Metadata metadata = ExpectSameAsTagLib("C:\\Music\\" + file);
    EXPECT_TRUE(metadata.readable);
    EXPECT_GT(metadata.lengthMs, 0);
    if (!metadata.title.empty()) ++tagged;
  }
  EXPECT_GT(tagged, 0);
}

struct TagCase {
  const char* name;
  std::string bytes;
  std::string title;  // what both readers find
};

TEST_F(TagReaderTest, ReadsId3v2FramesAsTagLibDoes) {
  const std::string latinTitle = Frame(3, "TIT2", Latin1("Caf\xE9 Noir"));
  const std::vector<TagCase> cases = {
      {"v23_latin1",
       Tag(3, latinTitle + Frame(3, "TPE1", Latin1("Somebody")) + Frame(3, "TALB", Latin1("Album")) +
                  Frame(3, "TPE2", Latin1("Various")) + Frame(3, "TYER", Latin1("1987")) +
                  Frame(3, "TRCK", Latin1("4/12")) + Frame(3, "TCON", Latin1("(17)")) +
                  Frame(3, "COMM", Latin1("eng\0Nice"s)) + std::string(64, '\0')) +
           Audio(),
       "Caf\xE9 Noir"},
      {"v23_utf16_with_mark",
       Tag(3, Frame(3, "TIT2", Utf16(u"Gr\u00FC\u00DFe \u263A")) + Frame(3, "TPE1", Utf16(u"\u00C5sa"))) + Audio(),
       "Gr\xFC\xDF"
       "e ?"},
      {"v23_utf16_big_endian_mark",
       Tag(3, Frame(3, "TIT2", "\x01\xFE\xFF"s + Be(u'H', 2) + Be(u'i', 2) + std::string(2, '\0'))) + Audio(), "Hi"},
      {"v24_utf16be_and_utf8",
       Tag(4, Frame(4, "TIT2", Utf16(u"Big End", true)) + Frame(4, "TPE1", Utf8("M\xC3\xBCller \xF0\x9F\x8E\xB5")) +
                  Frame(4, "TDRC", Latin1("2004-05-06")) + Frame(4, "TCON", Latin1("Rock\0Jazz\0"s + "17"))) +
           Audio(),
       "Big End"},
      {"v24_synchsafe_sizes",
       Tag(4, Frame(4, "TIT2", Latin1(std::string(300, 'x'))) + Frame(4, "TPE1", Latin1("After the long one"))) +
           Audio(),
       std::string(300, 'x')},
      {"v24_plain_sizes_from_a_careless_writer",
       Tag(4, "TIT2" + Be(201, 4) + Be(0, 2) + Latin1(std::string(200, 'y')) + Frame(4, "TPE1", Latin1("Next"))) +
           Audio(),
       std::string(200, 'y')},
      {"v24_unsynchronised_frame",
       Tag(4, Frame(4, "TIT2",
                    "\x01\xFF\x00\xFE"
                    "A\0"s,
                    0x02) +
                  Frame(4, "TPE1", Latin1("Artist"))) +
           Audio(),
       "A"},
      {"v24_data_length_indicator", Tag(4, Frame(4, "TIT2", Synchsafe(5) + Latin1("Four"), 0x01)) + Audio(), "Four"},
      {"v24_extended_header", Tag(4, Synchsafe(6) + "\x01\x00"s + Frame(4, "TIT2", Latin1("Extended")), 0x40) + Audio(),
       "Extended"},
      {"v23_unsynchronised_tag",
       Tag(3, Unsynchronised(Frame(3, "TIT2", Utf16(u"\u00FF\u00FFtitle")) + Frame(3, "TPE1", Latin1("\xFF\x00z"s))),
           0x80) +
           Audio(),
       "\xFF\xFFtitle"},
      {"v22_three_letter_frames",
       Tag(2, Frame(2, "TT2", Latin1("Old Style")) + Frame(2, "TP1", Latin1("Oldie")) + Frame(2, "TAL", Latin1("Al")) +
                  Frame(2, "TYE", Latin1("1970")) + Frame(2, "TRK", Latin1("7")) +
                  Frame(2, "COM", Latin1("eng\0Old comment"s)) + Frame(2, "TCO", Latin1("(8)Jazz"))) +
           Audio(),
       "Old Style"},
      {"several_values_and_comments",
       Tag(4, Frame(4, "TIT2", Latin1("One\0Two"s)) + Frame(4, "TIT2", Latin1("Ignored")) +
                  Frame(4, "COMM", Latin1("engdesc\0described"s)) + Frame(4, "COMM", Latin1("eng\0plain"s)) +
                  Frame(4, "TPE2", Latin1("First\0Second"s))) +
           Audio(),
       "One Two"},
      {"id3v1_fills_what_id3v2_lacks", Tag(3, latinTitle) + Audio() + Id3v1("v1 title", "v1 artist", 9, 12),
       "Caf\xE9 Noir"},
      {"junk_before_the_tag", std::string(5000, 'j') + Tag(3, Frame(3, "TIT2", Latin1("After junk"))) + Audio(),
       "After junk"},
      {"a_tag_after_the_first_frame_is_not_looked_for", Audio() + Tag(3, Frame(3, "TIT2", Latin1("Too late"))), ""},
      {"ape_between_stream_and_id3v1",
       Audio() +
           Ape({{"Title", "Ape Title"},
                {"ARTIST", "One\0Two"s},
                {"Album Artist", "Band"},
                {"YEAR", "2010"},
                {"TRACK", "3/4"},
                {"GENRE", "Ska"},
                {"COMMENT", "ape"}},
               true) +
           Id3v1("v1 title", "v1 artist", 9, 12),
       "Ape Title"},
      {"ape_under_id3v2", Tag(3, Frame(3, "TPE1", Latin1("ID3 artist"))) + Audio() + Ape({{"TITLE", "Ape"}}, false),
       "Ape"},
      {"id3v1_alone", Audio() + Id3v1("Only v1", "Somebody", 3, 255), "Only v1"},
      {"empty_text_frames_and_no_mark",
       Tag(3, Frame(3, "TIT2", "\x01"s + "AB") + Frame(3, "TPE1", "\x00"s) + Frame(3, "TALB", Latin1("Kept"))) +
           Audio(),
       ""},
      {"invalid_utf8_empties_the_text",
       Tag(4, Frame(4, "TIT2", Utf8("ok\xC3")) + Frame(4, "TALB", Latin1("x"))) + Audio(), ""},
      {"frame_of_size_zero_ends_the_tag",
       Tag(3, Frame(3, "TIT2", Latin1("Before")) + Frame(3, "TPE1", "") + Frame(3, "TALB", Latin1("Never"))) + Audio(),
       "Before"},
      {"frame_larger_than_the_tag_ends_it",
       Tag(3, Frame(3, "TIT2", Latin1("Before")) + "TPE1" + Be(100000, 4) + Be(0, 2) + Latin1("cut")) + Audio(),
       "Before"},
      {"lowercase_frame_name_ends_the_tag",
       Tag(3, Frame(3, "TIT2", Latin1("Before")) + Frame(3, "tpe1", Latin1("x")) + Frame(3, "TALB", Latin1("Never"))) +
           Audio(),
       "Before"},
  };
  for (const TagCase& tagCase : cases) {
    Metadata metadata = ExpectSameAsTagLib(Write(std::string(tagCase.name) + ".mp3", tagCase.bytes));
    EXPECT_EQ(metadata.title, tagCase.title) << tagCase.name;
    EXPECT_EQ(metadata.LengthSeconds(), 10) << tagCase.name;
  }
}

TEST_F(TagReaderTest, ReadsGenresAsTagLibDoes) {
  for (int number = 0; number < 256; ++number) {
    std::string name = "genre" + std::to_string(number);
    Metadata byNumber =
        ExpectSameAsTagLib(Write(name + ".mp3", Tag(4, Frame(4, "TCON", Latin1(std::to_string(number)))) + Audio()));
    Metadata inId3v1 = ExpectSameAsTagLib(Write(name + "v1.mp3", Audio() + Id3v1("t", "a", 1, number)));
    EXPECT_EQ(byNumber.genre, inId3v1.genre) << number;
  }
  for (const std::string& genre : std::vector<std::string>{"(17)Rock", "(17)Rocky", "(RX)", "(255)", "Rock\0(4)"s,
                                                           "(1)(2)", " 12", "+3", "(abc)Pop"})
    ExpectSameAsTagLib(Write("genre.mp3", Tag(3, Frame(3, "TCON", Latin1(genre))) + Audio()));
}

struct StreamCase {
  const char* name;
  std::string bytes;
  int lengthMs;  // what both readers find
};

std::string XingFrame(bool withBytes) {
  // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, stereo: 417 bytes; the VBR header after the side information.
  std::string frame = MpegFrames(0xFB, 0x90, 0x00, 1, 417);
  std::string xing = "Xing" + Be(withBytes ? 3 : 1, 4) + Be(1000, 4) + Be(withBytes ? 300000 : 0, 4);
  frame.replace(36, xing.size(), xing);
  return frame;
}

std::string VbriFrame() {
  std::string frame = MpegFrames(0xFB, 0x90, 0x00, 1, 417);
  std::string vbri = "VBRI" + Be(1, 2) + Be(0, 2) + Be(0, 2) + Be(200000, 4) + Be(500, 4) + std::string(14, '\0');
  frame.replace(36, vbri.size(), vbri);
  return frame;
}

TEST_F(TagReaderTest, ReadsMpegStreamsAsTagLibDoes) {
  const std::vector<StreamCase> cases = {
      {"mpeg1_layer3_128k", MpegFrames(0xFB, 0x90, 0x00, 100, 417), 2606},
      {"mpeg1_layer3_padded_mono", MpegFrames(0xFB, 0x92, 0xC0, 50, 418), 1306},
      {"mpeg2_layer3_64k_22k", MpegFrames(0xF3, 0x80, 0x00, 80, 208), 2080},
      {"mpeg25_layer3_8k", MpegFrames(0xE3, 0x48, 0x00, 40, 288), 2880},
      {"mpeg1_layer2_192k", MpegFrames(0xFD, 0xA4, 0x00, 60, 576), 1440},
      {"mpeg1_layer1_128k_with_crc", MpegFrames(0xFE, 0x44, 0x00, 60, 128), 480},
      {"xing_header", XingFrame(true) + MpegFrames(0xFB, 0x90, 0x00, 20, 417), 26122},
      {"xing_without_bytes_is_read_as_cbr", XingFrame(false) + MpegFrames(0xFB, 0x90, 0x00, 20, 417), 547},
      {"vbri_header", VbriFrame() + MpegFrames(0xFB, 0x90, 0x00, 20, 417), 13061},
      {"garbage_before_the_stream", std::string(3000, 'g') + "\xFF\xFB" + MpegFrames(0xFB, 0x90, 0x00, 30, 417), 782},
      {"garbage_after_the_stream", MpegFrames(0xFB, 0x90, 0x00, 30, 417) + std::string(5000, '\x11'), 782},
  };
  for (const StreamCase& stream : cases) {
    Metadata metadata = ExpectSameAsTagLib(Write(std::string(stream.name) + ".mp3", stream.bytes));
    EXPECT_TRUE(metadata.readable) << stream.name;
    EXPECT_NEAR(metadata.lengthMs, stream.lengthMs, 1) << stream.name;
  }
}

std::string RiffChunk(const std::string& name, const std::string& data) {
  return name + Le(static_cast<std::uint32_t>(data.size()), 4) + data + (data.size() % 2 ? "\0"s : "");
}

// A PCM WAV file of silence with `chunks` between its format and its data.
std::string Wave(int channels, int rate, int bits, std::uint32_t dataBytes, const std::string& chunks = "") {
  std::string format = Le(1, 2) + Le(channels, 2) + Le(rate, 4) + Le(rate * channels * bits / 8, 4) +
                       Le(channels * bits / 8, 2) + Le(bits, 2);
  std::string body = "WAVE" + RiffChunk("fmt ", format) + chunks + RiffChunk("data", std::string(dataBytes, '\0'));
  return "RIFF" + Le(static_cast<std::uint32_t>(body.size()), 4) + body;
}

TEST_F(TagReaderTest, ReadsWaveFilesAsTagLibDoes) {
  Metadata stereo = ExpectSameAsTagLib(Write("stereo.wav", Wave(2, 8000, 16, 8000 * 4 * 3, RiffChunk("LIST", "INFO"))));
  EXPECT_EQ(stereo.lengthMs, 3000);
  EXPECT_EQ(stereo.bitrate, 256);
  Metadata mono = ExpectSameAsTagLib(Write("mono.wav", Wave(1, 11025, 8, 12345)));
  EXPECT_EQ(mono.channels, 1);
  std::string info = "INFO" + RiffChunk("INAM", "Wave Title") + RiffChunk("IART", "Caf\xC3\xA9") +
                     RiffChunk("IPRD", "Odd") + RiffChunk("ICRD", "2011-01-01") + RiffChunk("IPRT", "6") +
                     RiffChunk("IGNR", "Ambient") + RiffChunk("ICMT", "remark") + RiffChunk("INAM", "Later Title");
  Metadata tagged = ExpectSameAsTagLib(Write("info.wav", Wave(2, 8000, 16, 8000, RiffChunk("LIST", info))));
  EXPECT_EQ(tagged.title, "");  // an INFO list is not read, as the TagLib reader does not
  std::string id3 = Tag(3, Frame(3, "TIT2", Latin1("From ID3")) + Frame(3, "TPE2", Latin1("Band")));
  Metadata both =
      ExpectSameAsTagLib(Write("both.wav", Wave(2, 8000, 16, 8000, RiffChunk("LIST", info) + RiffChunk("id3 ", id3))));
  EXPECT_EQ(both.title, "From ID3");
  EXPECT_EQ(both.albumArtist, "Band");
}

TEST_F(TagReaderTest, ReadsFlacAndOggVorbisAsTagLibDoes) {
  const std::vector<std::vector<std::string>> comments = {
      {"TITLE=Zo\xC3\xAB", "ARTIST=One", "ARTIST=Two", "album=Lower Case Key", "ALBUMARTIST=Band", "DATE=2001-02-03",
       "TRACKNUMBER=5/9", "GENRE=Folk", "COMMENT=second", "DESCRIPTION=first"},
      {"ALBUMARTIST=Only This", "YEAR=1999", "TRACKNUM=3", "no separator", "=no key", "TITLE=", "COMMENT=kept"},
      {"TITLE=bad \xC3", "ARTIST=\xE2\x98\xBA smile \xF0\x9F\x8E\xB5"},
      {},
  };
  int index = 0;
  for (const std::vector<std::string>& fields : comments) {
    std::string name = std::to_string(index++);
    Metadata flac = ExpectSameAsTagLib(Write(name + ".flac", testaudio::Flac(125, fields)));
    EXPECT_TRUE(flac.readable);
    EXPECT_EQ(flac.LengthSeconds(), 125);
    Metadata ogg = ExpectSameAsTagLib(Write(name + ".ogg", testaudio::OggVorbis(47, fields)));
    EXPECT_TRUE(ogg.readable);
    EXPECT_EQ(ogg.LengthSeconds(), 47);
    EXPECT_EQ(ogg.title, flac.title);
  }
  Metadata withId3 = ExpectSameAsTagLib(
      Write("id3.flac", Tag(3, Frame(3, "TIT2", Latin1("From ID3")) + Frame(3, "TALB", Latin1("ID3 album"))) +
                            testaudio::Flac(30, {"ALBUM=Vorbis album"})));
  EXPECT_EQ(withId3.title, "From ID3");
  EXPECT_EQ(withId3.album, "Vorbis album");
}

std::string ManyTinyFrames() {
  std::string frames;
  for (int i = 0; i < 20000; ++i) frames += Frame(3, "TXXX", "\0"s);
  return Tag(3, frames + Frame(3, "TIT2", Latin1("Last"))) + Audio();
}

struct HostileCase {
  const char* name;
  std::string bytes;
  bool readable;  // TagLib calls every file named .mp3 or .wav readable, audio or not
  std::string title;
};

TEST_F(TagReaderTest, HostileFilesAreReadAsFarAsTheyHold) {
  const std::string audio = Audio();
  std::string syncPatterns;
  for (int i = 0; i < 50000; ++i) syncPatterns += "\xFF\xFB\x90\x00"s;
  const std::vector<HostileCase> cases = {
      {"empty.mp3", "", false, ""},
      {"tag_header_only.mp3", "ID3\x03\x00\x00"s, false, ""},
      {"truncated_tag.mp3", Tag(3, Frame(3, "TIT2", Latin1("Cut short"))).substr(0, 18), true, ""},
      {"tag_size_beyond_the_file.mp3", "ID3\x03\x00\x00\x7F\x7F\x7F\x7F"s + Frame(3, "TIT2", Latin1("Huge")), true,
       "Huge"},
      {"frame_size_beyond_the_tag.mp3", Tag(4, "TIT2\x7F\x7F\x7F\x7F\x00\x00"s + Latin1("x")) + audio, true, ""},
      {"unsynchronised_tag_too_large.mp3", "ID3\x03\x00\x80\x7F\x7F\x7F\x7F"s + audio, true, ""},
      {"extended_header_beyond_the_tag.mp3", Tag(4, "\x7F\x7F\x7F\x7F"s + Frame(4, "TIT2", Latin1("x")), 0x40) + audio,
       true, ""},
      {"many_tiny_frames.mp3", ManyTinyFrames(), true, "Last"},
      {"garbage.mp3", std::string(200000, '\xFF'), false, ""},
      {"sync_patterns_only.mp3", syncPatterns, false, ""},
      {"riff_chunk_beyond_the_file.wav", "RIFF\xFF\xFF\xFF\xFFWAVEfmt \xFF\xFF\xFF\x7F"s, false, ""},
      {"text.txt", "just some text, no frames at all", false, ""},
  };
  for (const HostileCase& hostile : cases) {
    Metadata metadata = ExpectSameAsTagLib(Write(hostile.name, hostile.bytes), Readability::Own);
    EXPECT_EQ(metadata.readable, hostile.readable) << hostile.name;
    EXPECT_EQ(metadata.title, hostile.title) << hostile.name;
    EXPECT_EQ(metadata.fileSize, hostile.bytes.size()) << hostile.name;
  }
}

TEST_F(TagReaderTest, AStreamWhoseEndIsNotInTheTailRunsToTheEndOfTheFile) {
  // The file is sparse: its size costs no disk, and a reader that read it whole would take long.
  std::string path = Write("long.mp3", Audio());
  constexpr std::uintmax_t kSize = 256ull << 20;
  std::filesystem::resize_file(folder_.Path() / "long.mp3", kSize);
  Metadata metadata = ReadMetadataBuiltIn(path);
  EXPECT_TRUE(metadata.readable);
  EXPECT_EQ(metadata.lengthMs, static_cast<int>(kSize * 8 / 32));
  EXPECT_EQ(metadata.bitrate, 32);
}

TEST_F(TagReaderTest, FilesWithoutAudioAreNotReadable) {
  for (const std::string& bytes : {std::string("just some text, no frames at all"), std::string(100000, '\0')}) {
    Metadata metadata = ReadMetadataBuiltIn(Write("notes.mp3", bytes));
    EXPECT_FALSE(metadata.readable);
    EXPECT_EQ(metadata.fileSize, bytes.size());
  }
  EXPECT_FALSE(ReadMetadataBuiltIn("C:\\missing.mp3").readable);
  std::filesystem::create_directory(folder_.Path() / "folder.mp3");
  EXPECT_FALSE(ReadMetadataBuiltIn("C:\\folder.mp3").readable);
}

TEST_F(TagReaderTest, AnId3v23ExtendedHeaderIsSkippedWithItsSizeField) {
  // The size of an ID3v2.3 extended header does not count its own four bytes.
  std::string tag = Tag(3, Be(6, 4) + Be(0, 2) + Be(0, 4) + Frame(3, "TIT2", Latin1("Behind the header")), 0x40);
  Metadata metadata = ReadMetadataBuiltIn(Write("ext.mp3", tag + Audio()));
  EXPECT_EQ(metadata.title, "Behind the header");
  EXPECT_EQ(metadata.LengthSeconds(), 10);
}

}  // namespace
}  // namespace host
