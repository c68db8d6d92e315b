#include "demomusic.h"

#include <attachedpictureframe.h>
#include <gtest/gtest.h>
#include <id3v2framefactory.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <tbytevectorstream.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;

// What TagLib makes of an MP3 file.
struct ReadBack {
  bool hasTag = false;
  host::TrackTags tags;
  int pictureCount = 0;
  std::string picture, pictureMime;
  int pictureType = -1;
  int seconds = 0, bitrate = 0, sampleRate = 0, channels = 0;
};

std::string ToStd(const TagLib::String& text) { return text.to8Bit(true); }

ReadBack Read(TagLib::MPEG::File& file) {
  ReadBack result;
  if (!file.isValid()) throw std::runtime_error("TagLib cannot open the file");
  if (const auto* properties = file.audioProperties()) {
    result.seconds = properties->lengthInSeconds();
    result.bitrate = properties->bitrate();
    result.sampleRate = properties->sampleRate();
    result.channels = properties->channels();
  }
  result.hasTag = file.hasID3v2Tag();
  if (result.hasTag) {
    const TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
    result.tags = {ToStd(tag->title()), ToStd(tag->artist()),           ToStd(tag->album()),
                   ToStd(tag->genre()), static_cast<int>(tag->track()), static_cast<int>(tag->year())};
    const TagLib::ID3v2::FrameList& pictures = tag->frameList("APIC");
    result.pictureCount = static_cast<int>(pictures.size());
    if (!pictures.isEmpty()) {
      const auto* picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(pictures.front());
      if (picture == nullptr) throw std::runtime_error("APIC is not a picture frame");
      const TagLib::ByteVector bytes = picture->picture();
      result.picture.assign(bytes.data(), bytes.size());
      result.pictureMime = ToStd(picture->mimeType());
      result.pictureType = static_cast<int>(picture->type());
    }
  }
  return result;
}

ReadBack ReadBytes(const std::string& mp3) {
  TagLib::ByteVectorStream stream(TagLib::ByteVector(mp3.data(), static_cast<unsigned>(mp3.size())));
  TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance());
  return Read(file);
}

ReadBack ReadFile(const fs::path& path) {
  TagLib::MPEG::File file(path.c_str());
  return Read(file);
}

void ExpectSameTags(const host::TrackTags& actual, const host::TrackTags& expected) {
  EXPECT_EQ(actual.title, expected.title);
  EXPECT_EQ(actual.artist, expected.artist);
  EXPECT_EQ(actual.album, expected.album);
  EXPECT_EQ(actual.genre, expected.genre);
  EXPECT_EQ(actual.track, expected.track);
  EXPECT_EQ(actual.year, expected.year);
}

std::uint32_t Be32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
  return value;
}

struct PngChunk {
  std::string type, data;
  std::uint32_t crc = 0;
};

// Splits a PNG into its chunks; fails the test when the signature or a chunk's framing is wrong.
std::vector<PngChunk> PngChunks(const std::string& png) {
  std::vector<PngChunk> chunks;
  if (png.compare(0, 8, "\x89PNG\r\n\x1A\n") != 0) {
    ADD_FAILURE() << "no PNG signature";
    return chunks;
  }
  std::size_t offset = 8;
  while (offset < png.size()) {
    if (png.size() - offset < 12) {
      ADD_FAILURE() << "truncated chunk at " << offset;
      break;
    }
    std::uint32_t length = Be32(png, offset);
    if (png.size() - offset - 12 < length) {
      ADD_FAILURE() << "chunk at " << offset << " runs past the end";
      break;
    }
    chunks.push_back({png.substr(offset + 4, 4), png.substr(offset + 8, length), Be32(png, offset + 8 + length)});
    offset += 12 + length;
  }
  return chunks;
}

// The PNG's width and height from its IHDR.
std::pair<int, int> PngSize(const std::string& png) {
  std::vector<PngChunk> chunks = PngChunks(png);
  if (chunks.empty() || chunks.front().type != "IHDR" || chunks.front().data.size() != 13) return {0, 0};
  return {static_cast<int>(Be32(chunks.front().data, 0)), static_cast<int>(Be32(chunks.front().data, 4))};
}

// The IDAT stream inflated with zlib; `room` bytes of output space beyond which inflation fails.
std::optional<std::string> InflateIdat(const std::string& png, std::size_t room) {
  std::string compressed;
  for (const PngChunk& chunk : PngChunks(png))
    if (chunk.type == "IDAT") compressed += chunk.data;
  std::string out(room, '\0');
  uLongf outLength = static_cast<uLongf>(out.size());
  int result = uncompress(reinterpret_cast<Bytef*>(out.data()), &outLength,
                          reinterpret_cast<const Bytef*>(compressed.data()), static_cast<uLong>(compressed.size()));
  if (result != Z_OK) return std::nullopt;
  out.resize(outLength);
  return out;
}

host::TrackTags SampleTags() { return {"Quiet Signal", "Test Artist", "Test Album", "Ambient", 7, 2020}; }

// ---- MakeMp3 ----

class MakeMp3Length : public testing::TestWithParam<int> {};

TEST_P(MakeMp3Length, TagLibReadsBackTagsCoverAndExactLength) {
  const host::TrackTags tags = SampleTags();
  const std::string cover = host::MakePng(64, 64, 5);
  ReadBack back = ReadBytes(host::MakeMp3(GetParam(), tags, cover));

  ASSERT_TRUE(back.hasTag);
  ExpectSameTags(back.tags, tags);
  EXPECT_EQ(back.seconds, GetParam());
  EXPECT_EQ(back.bitrate, 32);
  EXPECT_EQ(back.sampleRate, 32000);
  EXPECT_EQ(back.channels, 2);
  EXPECT_EQ(back.pictureCount, 1);
  EXPECT_EQ(back.picture, cover);
  EXPECT_EQ(back.pictureMime, "image/png");
  EXPECT_EQ(back.pictureType, static_cast<int>(TagLib::ID3v2::AttachedPictureFrame::FrontCover));
}

TEST_P(MakeMp3Length, UntaggedFileHasNoTagButTagLibReadsItsLength) {
  const std::string mp3 = host::MakeMp3(GetParam(), std::nullopt, host::MakePng(8, 8, 1));
  EXPECT_NE(mp3.compare(0, 3, "ID3"), 0);
  ReadBack back = ReadBytes(mp3);

  EXPECT_FALSE(back.hasTag);
  EXPECT_EQ(back.seconds, GetParam());
  EXPECT_EQ(back.bitrate, 32);
  EXPECT_EQ(back.sampleRate, 32000);
  EXPECT_EQ(back.channels, 2);
}

TEST_P(MakeMp3Length, AudioIsSilentFramesOf144BytesCoveringTheLength) {
  const std::string mp3 = host::MakeMp3(GetParam(), std::nullopt, "");
  ASSERT_EQ(mp3.size() % 144, 0u);
  const std::size_t frames = mp3.size() / 144;
  // 36 ms a frame: at least the wanted length, less than one second more.
  EXPECT_GE(frames * 36, static_cast<std::size_t>(GetParam()) * 1000);
  EXPECT_LT(frames * 36, static_cast<std::size_t>(GetParam() + 1) * 1000);
  const std::string header = "\xFF\xFB\x18";
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const std::string bytes = mp3.substr(frame * 144, 144);
    ASSERT_EQ(bytes.substr(0, 4), header + '\0') << "frame " << frame;
    ASSERT_EQ(bytes.find_first_not_of('\0', 4), std::string::npos) << "frame " << frame;
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, MakeMp3Length, testing::Values(1, 20, 37, 100, 185, 239, 240));

TEST(MakeMp3, TaggedFileWithoutCoverHasNoPicture) {
  ReadBack back = ReadBytes(host::MakeMp3(30, SampleTags(), ""));
  ASSERT_TRUE(back.hasTag);
  ExpectSameTags(back.tags, SampleTags());
  EXPECT_EQ(back.pictureCount, 0);
  EXPECT_EQ(back.seconds, 30);
}

TEST(MakeMp3, TagIsId3v23WithSynchsafeSizeEndingAtTheFirstFrame) {
  const std::string cover = host::MakePng(64, 64, 9);
  const std::string mp3 = host::MakeMp3(20, SampleTags(), cover);
  ASSERT_EQ(mp3.substr(0, 6), std::string("ID3\x03\x00\x00", 6));
  std::size_t size = 0;
  for (std::size_t i = 6; i < 10; ++i) {
    const auto byte = static_cast<unsigned char>(mp3[i]);
    ASSERT_LT(byte, 0x80);
    size = (size << 7) | byte;
  }
  ASSERT_LT(10 + size, mp3.size());
  EXPECT_EQ(mp3.substr(10 + size, 3), "\xFF\xFB\x18");
  EXPECT_EQ((mp3.size() - 10 - size) % 144, 0u);
}

TEST(MakeMp3, RejectsALengthBelowOneSecond) {
  EXPECT_THROW(host::MakeMp3(0, std::nullopt, ""), std::invalid_argument);
  EXPECT_THROW(host::MakeMp3(-5, SampleTags(), ""), std::invalid_argument);
}

// ---- MakePng ----

struct PngCase {
  int width, height;
  std::uint32_t seed;
};

class MakePngSize : public testing::TestWithParam<PngCase> {};

TEST_P(MakePngSize, HasSignatureIhdrAndCorrectChunkCrcs) {
  const PngCase size = GetParam();
  const std::vector<PngChunk> chunks = PngChunks(host::MakePng(size.width, size.height, size.seed));
  ASSERT_GE(chunks.size(), 3u);
  ASSERT_EQ(chunks.front().type, "IHDR");
  ASSERT_EQ(chunks.front().data.size(), 13u);
  EXPECT_EQ(Be32(chunks.front().data, 0), static_cast<std::uint32_t>(size.width));
  EXPECT_EQ(Be32(chunks.front().data, 4), static_cast<std::uint32_t>(size.height));
  EXPECT_EQ(chunks.front().data.substr(8), std::string("\x08\x02\x00\x00\x00", 5));  // 8-bit RGB
  EXPECT_EQ(chunks.back().type, "IEND");
  EXPECT_TRUE(chunks.back().data.empty());
  for (const PngChunk& chunk : chunks) {
    const std::string covered = chunk.type + chunk.data;
    EXPECT_EQ(chunk.crc, crc32(0, reinterpret_cast<const Bytef*>(covered.data()), static_cast<uInt>(covered.size())))
        << chunk.type;
  }
}

TEST_P(MakePngSize, IdatInflatesToOneUnfilteredRowPerLineInTwoColours) {
  const PngCase size = GetParam();
  const std::size_t rowBytes = 1 + 3 * static_cast<std::size_t>(size.width);
  const std::size_t expected = static_cast<std::size_t>(size.height) * rowBytes;
  const std::optional<std::string> pixels =
      InflateIdat(host::MakePng(size.width, size.height, size.seed), expected + 1);
  ASSERT_TRUE(pixels.has_value());
  ASSERT_EQ(pixels->size(), expected);
  std::set<std::string> colours;
  for (std::size_t row = 0; row < static_cast<std::size_t>(size.height); ++row) {
    ASSERT_EQ((*pixels)[row * rowBytes], '\0') << "row " << row;
    for (std::size_t x = 0; x < static_cast<std::size_t>(size.width); ++x)
      colours.insert(pixels->substr(row * rowBytes + 1 + 3 * x, 3));
  }
  EXPECT_LE(colours.size(), 2u);
  if (size.width * size.height >= 64 * 64) {
    EXPECT_EQ(colours.size(), 2u);
  }
}

// 200 x 150 needs more than one stored deflate block.
INSTANTIATE_TEST_SUITE_P(Sizes, MakePngSize,
                         testing::Values(PngCase{64, 64, 1}, PngCase{64, 64, 2}, PngCase{1, 1, 3}, PngCase{17, 5, 4},
                                         PngCase{200, 150, 5}, PngCase{64, 64, 0xFFFFFFFFu}));

TEST(MakePng, SameSeedGivesSameImageOtherSeedsOtherImages) {
  EXPECT_EQ(host::MakePng(64, 64, 42), host::MakePng(64, 64, 42));
  std::set<std::string> images;
  for (std::uint32_t seed = 0; seed < 16; ++seed) images.insert(host::MakePng(64, 64, seed));
  EXPECT_EQ(images.size(), 16u);
}

TEST(MakePng, RejectsEmptySides) {
  EXPECT_THROW(host::MakePng(0, 10, 1), std::invalid_argument);
  EXPECT_THROW(host::MakePng(10, -1, 1), std::invalid_argument);
}

// ---- DemoLibrary ----

TEST(DemoLibrary, HasAtLeast24TracksOver4ArtistsAnd6Albums) {
  const std::vector<host::DemoTrack> library = host::DemoLibrary();
  std::set<std::string> artists, albums;
  for (const host::DemoTrack& track : library) {
    fs::path path(track.relativePath);
    artists.insert(path.begin()->string());
    albums.insert(path.parent_path().generic_string());
  }
  EXPECT_GE(library.size(), 24u);
  EXPECT_GE(artists.size(), 4u);
  EXPECT_GE(albums.size(), 6u);
}

TEST(DemoLibrary, LengthsRunFrom20To240WithTracksOfExactly20And185Seconds) {
  int shortest = 1000, longest = 0, of20 = 0, of185 = 0;
  for (const host::DemoTrack& track : host::DemoLibrary()) {
    shortest = std::min(shortest, track.seconds);
    longest = std::max(longest, track.seconds);
    of20 += track.seconds == 20;
    of185 += track.seconds == 185;
  }
  EXPECT_EQ(shortest, 20);
  EXPECT_EQ(longest, 240);
  EXPECT_GE(of20, 1);
  EXPECT_GE(of185, 1);
}

TEST(DemoLibrary, HasUntaggedTracksAndTaggedTracksWithoutCover) {
  int untagged = 0, coverless = 0;
  for (const host::DemoTrack& track : host::DemoLibrary()) {
    if (!track.tags) {
      ++untagged;
      EXPECT_FALSE(track.hasCover) << track.relativePath;
    } else if (!track.hasCover) {
      ++coverless;
    }
  }
  EXPECT_GE(untagged, 2);
  EXPECT_GE(coverless, 2);
}

TEST(DemoLibrary, PathsAreUniqueArtistAlbumNumberTitleAndAgreeWithTags) {
  const std::regex shape(R"(([^/]+)/([^/]+)/(\d\d) ([^/]+)\.mp3)");
  std::set<std::string> paths;
  for (const host::DemoTrack& track : host::DemoLibrary()) {
    SCOPED_TRACE(track.relativePath);
    EXPECT_TRUE(paths.insert(track.relativePath).second) << "duplicate";
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(track.relativePath, parts, shape));
    if (!track.tags) continue;
    EXPECT_EQ(parts[1], track.tags->artist);
    EXPECT_EQ(parts[2], track.tags->album);
    EXPECT_EQ(std::stoi(parts[3]), track.tags->track);
    EXPECT_EQ(parts[4], track.tags->title);
    EXPECT_FALSE(track.tags->genre.empty());
    EXPECT_GT(track.tags->year, 0);
  }
}

// ---- WriteDemoLibrary ----

TEST(WriteDemoLibrary, WritesEveryFileAndTagLibReadsItAsDescribed) {
  qftest::TempFolder folder;
  const std::vector<host::DemoTrack> library = host::DemoLibrary();
  const std::vector<std::string> written = host::WriteDemoLibrary(folder.Path() / "Music");
  ASSERT_EQ(written.size(), library.size());
  for (std::size_t i = 0; i < library.size(); ++i) {
    const host::DemoTrack& track = library[i];
    SCOPED_TRACE(track.relativePath);
    EXPECT_EQ(written[i], track.relativePath);
    const fs::path path = folder.Path() / "Music" / track.relativePath;
    ASSERT_TRUE(fs::is_regular_file(path));
    ReadBack back = ReadFile(path);
    EXPECT_EQ(back.seconds, track.seconds);
    EXPECT_EQ(back.bitrate, 32);
    EXPECT_EQ(back.hasTag, track.tags.has_value());
    if (track.tags) ExpectSameTags(back.tags, *track.tags);
    EXPECT_EQ(back.pictureCount, track.hasCover ? 1 : 0);
  }
}

TEST(WriteDemoLibrary, EachAlbumHasOneCoverOfItsOwn) {
  qftest::TempFolder folder;
  host::WriteDemoLibrary(folder.Path());
  std::map<std::string, std::string> coverOfAlbum;
  std::set<std::string> albums;
  for (const host::DemoTrack& track : host::DemoLibrary()) {
    const std::string album = fs::path(track.relativePath).parent_path().generic_string();
    albums.insert(album);
    if (!track.hasCover) continue;
    SCOPED_TRACE(track.relativePath);
    ReadBack back = ReadFile(folder.Path() / track.relativePath);
    EXPECT_EQ(back.pictureMime, "image/png");
    EXPECT_EQ(back.pictureType, static_cast<int>(TagLib::ID3v2::AttachedPictureFrame::FrontCover));
    EXPECT_EQ(PngSize(back.picture), std::make_pair(64, 64));
    auto [known, inserted] = coverOfAlbum.emplace(album, back.picture);
    if (!inserted) {
      EXPECT_EQ(back.picture, known->second) << "two covers in one album";
    }
  }
  EXPECT_EQ(coverOfAlbum.size(), albums.size()) << "an album without a cover";
  std::set<std::string> covers;
  for (const auto& [album, cover] : coverOfAlbum) covers.insert(cover);
  EXPECT_EQ(covers.size(), coverOfAlbum.size()) << "two albums share a cover";
}

TEST(WriteDemoLibrary, ThrowsWhenTheFolderCannotBeCreated) {
  qftest::TempFolder folder;
  const fs::path blocker = folder.Path() / "file";
  qftest::WriteFile(blocker, "not a folder");
  EXPECT_THROW(host::WriteDemoLibrary(blocker / "Music"), std::runtime_error);
}

}  // namespace
