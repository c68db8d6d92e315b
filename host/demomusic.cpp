#include "demomusic.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "core/crc32.h"

namespace host {
namespace {

namespace fs = std::filesystem;

void AppendBe16(std::string& out, std::uint32_t value) {
  out += static_cast<char>((value >> 8) & 0xFF);
  out += static_cast<char>(value & 0xFF);
}

void AppendBe32(std::string& out, std::uint32_t value) {
  AppendBe16(out, value >> 16);
  AppendBe16(out, value & 0xFFFF);
}

void AppendLe16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

// ---- PNG ----

using Rgb = std::array<unsigned char, 3>;

// Spreads the seed's bits so that neighbouring seeds give unrelated colours and patterns.
std::uint32_t Mix(std::uint32_t value) {
  value ^= value >> 16;
  value *= 0x7FEB352Du;
  value ^= value >> 15;
  value *= 0x846CA68Bu;
  value ^= value >> 16;
  return value;
}

enum class Pattern { Checks, Stripes, Diagonals };

struct Design {
  Rgb dark;
  Rgb light;
  Pattern pattern;
  int cell;
};

Design DesignFor(std::uint32_t seed) {
  std::uint32_t bits = Mix(seed);
  std::uint32_t more = Mix(bits ^ 0x9E3779B9u);
  Design design;
  // The dark colour stays below 128 in every channel and the light one above, so they always differ.
  for (int channel = 0; channel < 3; ++channel) {
    design.dark[channel] = static_cast<unsigned char>((bits >> (8 * channel)) & 0x7F);
    design.light[channel] = static_cast<unsigned char>(0x80 | ((more >> (8 * channel)) & 0x7F));
  }
  design.pattern = static_cast<Pattern>((bits >> 24) % 3);
  design.cell = 4 + 2 * static_cast<int>((more >> 24) % 5);
  return design;
}

bool IsLight(const Design& design, int x, int y) {
  switch (design.pattern) {
    case Pattern::Checks:
      return (x / design.cell + y / design.cell) % 2 == 0;
    case Pattern::Stripes:
      return (y / design.cell) % 2 == 0;
    case Pattern::Diagonals:
      return ((x + y) / design.cell) % 2 == 0;
  }
  return false;
}

std::uint32_t Adler32(std::string_view bytes) {
  constexpr std::uint32_t kModulus = 65521;
  std::uint32_t a = 1, b = 0;
  for (char c : bytes) {
    a = (a + static_cast<unsigned char>(c)) % kModulus;
    b = (b + a) % kModulus;
  }
  return (b << 16) | a;
}

// A zlib stream of stored deflate blocks: valid for every inflater, and nothing here needs it smaller.
std::string StoredZlib(std::string_view data) {
  constexpr std::size_t kMaxStoredBlock = 65535;
  std::string out;
  out += '\x78';  // deflate, 32 KiB window
  out += '\x01';  // no dictionary, lowest level; makes the header a multiple of 31
  std::size_t offset = 0;
  do {
    std::size_t length = std::min(kMaxStoredBlock, data.size() - offset);
    bool last = offset + length == data.size();
    out += static_cast<char>(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
    AppendLe16(out, static_cast<std::uint32_t>(length));
    AppendLe16(out, static_cast<std::uint32_t>(~length & 0xFFFF));
    out.append(data.substr(offset, length));
    offset += length;
  } while (offset < data.size());
  AppendBe32(out, Adler32(data));
  return out;
}

void AppendChunk(std::string& png, std::string_view type, std::string_view data) {
  static const qf::Crc32Table crcTable;
  AppendBe32(png, static_cast<std::uint32_t>(data.size()));
  std::string typeAndData(type);
  typeAndData.append(data);
  png += typeAndData;
  AppendBe32(png, crcTable.Compute(typeAndData));
}

// ---- MP3 ----

// MPEG-1 Layer III, no CRC; 32 kbit/s; 32 kHz, no padding; stereo. 1152 samples at 32 kHz last 36 ms,
// and 144 * bitrate / sample rate makes the frame 144 bytes long.
constexpr std::array<unsigned char, 4> kFrameHeader = {0xFF, 0xFB, 0x18, 0x00};
constexpr std::size_t kFrameBytes = 144;
constexpr int kFrameMilliseconds = 36;
constexpr std::uint32_t kMaxTagSize = (1u << 28) - 1;  // what a synchsafe size can hold

void AppendFrame(std::string& tag, std::string_view id, std::string_view body) {
  tag.append(id);
  AppendBe32(tag, static_cast<std::uint32_t>(body.size()));
  AppendBe16(tag, 0);  // no frame flags
  tag.append(body);
}

void AppendTextFrame(std::string& tag, std::string_view id, const std::string& text) {
  if (text.empty()) return;
  std::string body(1, '\0');  // ISO-8859-1
  body += text;
  AppendFrame(tag, id, body);
}

void AppendNumberFrame(std::string& tag, std::string_view id, int number) {
  if (number > 0) AppendTextFrame(tag, id, std::to_string(number));
}

std::string Id3v2Tag(const TrackTags& tags, const std::string& cover) {
  std::string frames;
  AppendTextFrame(frames, "TIT2", tags.title);
  AppendTextFrame(frames, "TPE1", tags.artist);
  AppendTextFrame(frames, "TALB", tags.album);
  AppendNumberFrame(frames, "TRCK", tags.track);
  AppendNumberFrame(frames, "TYER", tags.year);
  AppendTextFrame(frames, "TCON", tags.genre);
  if (!cover.empty()) {
    std::string body(1, '\0');  // ISO-8859-1
    body += "image/png";
    body += '\0';
    body += '\x03';  // front cover
    body += '\0';    // empty description
    body += cover;
    AppendFrame(frames, "APIC", body);
  }
  if (frames.size() > kMaxTagSize) throw std::invalid_argument("the ID3v2 tag would be too large");

  std::string tag = "ID3";
  tag += '\x03';  // version 2.3.0
  tag += '\x00';
  tag += '\x00';  // no unsynchronisation, no extended header
  auto size = static_cast<std::uint32_t>(frames.size());
  for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((size >> shift) & 0x7F);
  return tag + frames;
}

// ---- The demo library ----

enum class Shape { Tagged, NoCover, Untagged };

struct DemoSong {
  const char* title;
  int seconds;
  Shape shape = Shape::Tagged;
};

struct DemoAlbum {
  const char* artist;
  const char* album;
  const char* genre;
  int year;
  std::uint32_t coverSeed;
  std::vector<DemoSong> songs;
};

constexpr int kCoverSide = 64;

const std::vector<DemoAlbum>& DemoAlbums() {
  static const std::vector<DemoAlbum> albums = {
      {"Marisol Vantebrook",
       "Paper Lighthouses",
       "Folk",
       2016,
       11,
       {{"Harbourmaster's Waltz", 185}, {"Lamplight on the Quay", 142}, {"Nine Knots", 20}, {"Gull Weather", 96}}},
      {"Marisol Vantebrook",
       "Salt Hours",
       "Folk",
       2019,
       23,
       {{"Low Tide Letters", 128},
        {"The Ferryman Sleeps", 240},
        {"Brine and Lavender", 73},
        {"Salt Hours", 111, Shape::NoCover}}},
      {"The Copperfen Ensemble",
       "Tidewater Ledger",
       "Jazz",
       2012,
       37,
       {{"Ledger in Blue", 164},
        {"Reedbed Shuffle", 58},
        {"Counting Herons", 201},
        {"Sluice Gate", 45, Shape::Untagged}}},
      {"The Copperfen Ensemble",
       "Small Engines",
       "Jazz",
       2021,
       41,
       {{"Flywheel Stomp", 87}, {"Gasket Blues", 133}, {"Idle Speed", 30}, {"Piston Lullaby", 176}}},
      {"Nimbus Carrow",
       "Low Orbit Gardens",
       "Electronic",
       2018,
       53,
       {{"Perigee Morning", 222},
        {"Hydroponic Dawn", 69},
        {"Solar Sail Drift", 150},
        {"Ground Station Hum", 27, Shape::Untagged},
        {"Apogee Return", 118, Shape::NoCover}}},
      {"Hollis & the Quietwrights",
       "Ferrous Meadow",
       "Rock",
       2014,
       67,
       {{"Rust Bloom", 195}, {"Iron Clover", 81}, {"Magnet Field", 109}}},
      {"Hollis & the Quietwrights",
       "Lantern Arithmetic",
       "Rock",
       2023,
       79,
       {{"Long Division by Candle", 234},
        {"Remainder of Seven", 52},
        {"Carry the Flame", 99},
        {"Proof by Moonlight", 147}}},
  };
  return albums;
}

std::string TrackPath(const DemoAlbum& album, int number, const DemoSong& song) {
  std::string numberText = std::to_string(number);
  if (numberText.size() < 2) numberText.insert(0, 1, '0');
  return std::string(album.artist) + '/' + album.album + '/' + numberText + ' ' + song.title + ".mp3";
}

// Calls `visit(track, album)` for every track in library order.
template <typename Visit>
void ForEachDemoTrack(Visit visit) {
  for (const DemoAlbum& album : DemoAlbums()) {
    int number = 0;
    for (const DemoSong& song : album.songs) {
      ++number;
      DemoTrack track;
      track.relativePath = TrackPath(album, number, song);
      track.seconds = song.seconds;
      track.hasCover = song.shape == Shape::Tagged;
      if (song.shape != Shape::Untagged)
        track.tags = TrackTags{song.title, album.artist, album.album, album.genre, number, album.year};
      visit(track, album);
    }
  }
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

std::string MakePng(int width, int height, std::uint32_t seed) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("a PNG needs a positive width and height");
  const Design design = DesignFor(seed);

  std::string pixels;
  pixels.reserve(static_cast<std::size_t>(height) * (1 + 3 * static_cast<std::size_t>(width)));
  for (int y = 0; y < height; ++y) {
    pixels += '\0';  // filter type None
    for (int x = 0; x < width; ++x) {
      const Rgb& colour = IsLight(design, x, y) ? design.light : design.dark;
      pixels.append(reinterpret_cast<const char*>(colour.data()), colour.size());
    }
  }

  std::string header;
  AppendBe32(header, static_cast<std::uint32_t>(width));
  AppendBe32(header, static_cast<std::uint32_t>(height));
  header += '\x08';  // bit depth
  header += '\x02';  // colour type RGB
  header += '\x00';  // deflate
  header += '\x00';  // adaptive filtering
  header += '\x00';  // not interlaced

  std::string png = "\x89PNG\r\n\x1A\n";
  AppendChunk(png, "IHDR", header);
  AppendChunk(png, "IDAT", StoredZlib(pixels));
  AppendChunk(png, "IEND", "");
  return png;
}

std::string MakeMp3(int seconds, const std::optional<TrackTags>& tags, const std::string& cover) {
  if (seconds <= 0) throw std::invalid_argument("an MP3 needs a positive length");
  // A CBR reader takes the stream's bytes * 8 / bitrate as the length, here 36 ms per frame, and
  // truncates it to whole seconds; rounding the frame count up lands within the wanted second.
  const std::size_t frames = (static_cast<std::size_t>(seconds) * 1000 + kFrameMilliseconds - 1) / kFrameMilliseconds;

  std::string mp3 = tags ? Id3v2Tag(*tags, cover) : std::string();
  const std::size_t audioStart = mp3.size();
  // All-zero side information and main data: no main data to carry over, no granule bits, silence.
  mp3.resize(audioStart + frames * kFrameBytes, '\0');
  for (std::size_t frame = 0; frame < frames; ++frame)
    std::copy(kFrameHeader.begin(), kFrameHeader.end(), mp3.begin() + audioStart + frame * kFrameBytes);
  return mp3;
}

std::vector<DemoTrack> DemoLibrary() {
  std::vector<DemoTrack> tracks;
  ForEachDemoTrack([&](const DemoTrack& track, const DemoAlbum&) { tracks.push_back(track); });
  return tracks;
}

std::vector<std::string> WriteDemoLibrary(const fs::path& folder) {
  std::vector<std::string> written;
  std::string cover;
  const DemoAlbum* coverAlbum = nullptr;
  ForEachDemoTrack([&](const DemoTrack& track, const DemoAlbum& album) {
    if (&album != coverAlbum) {
      cover = MakePng(kCoverSide, kCoverSide, album.coverSeed);
      coverAlbum = &album;
    }
    const fs::path path = folder / fs::path(track.relativePath);
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) throw std::runtime_error("cannot create " + path.parent_path().string() + ": " + error.message());
    WriteBytes(path, MakeMp3(track.seconds, track.tags, track.hasCover ? cover : std::string()));
    written.push_back(track.relativePath);
  });
  return written;
}

}  // namespace host
