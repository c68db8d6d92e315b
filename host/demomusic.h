#pragma once
// Demo music: valid MP3 files of chosen lengths with ID3v2.3 tags and an embedded front cover, and the
// demo library the runner installs. Everything here is deterministic: the same arguments give the same
// bytes, so tests can compare files and the runner can rewrite the library at will.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace host {

// Texts are written as given, byte for byte, as ISO-8859-1; keep them ASCII (or Latin-1).
// A zero track or year and an empty text leave their frame out.
struct TrackTags {
  std::string title, artist, album, genre;
  int track = 0;
  int year = 0;
};

// A PNG image, width x height, 8-bit RGB, showing a two-colour pattern; `seed` picks the colours and the
// pattern. The image data is stored, not compressed. Throws std::invalid_argument when a side is not
// positive.
std::string MakePng(int width, int height, std::uint32_t seed);

// An MP3 file of silent MPEG-1 Layer III frames (32 kbit/s, 32 kHz, stereo, 144 bytes each), as many as
// make a CBR reader report exactly `seconds` as the whole-second length. When `tags` is given, the file
// starts with an ID3v2.3 tag holding the text frames TIT2, TPE1, TALB, TRCK, TYER, TCON and, when `cover`
// is not empty, one APIC front cover of MIME type "image/png" holding `cover`. Without `tags` there is no
// tag at all and `cover` is ignored. Throws std::invalid_argument when `seconds` is not positive.
std::string MakeMp3(int seconds, const std::optional<TrackTags>& tags, const std::string& cover);

struct DemoTrack {
  std::string relativePath;       // "Artist/Album/NN Title.mp3", '/'-separated
  std::optional<TrackTags> tags;  // empty for the few untagged tracks
  bool hasCover = true;           // the file embeds its album's cover
  int seconds = 0;
};

// The demo library, in artist, album, track order: fictional artists, each album in its own
// "Artist/Album" folder with one 64x64 cover of its own. Lengths run from 20 s to 240 s; a few tracks
// are untagged and a few tagged ones carry no cover, so both cases can be tried.
std::vector<DemoTrack> DemoLibrary();

// Writes DemoLibrary() below `folder` (a host folder, created as needed, existing files overwritten) and
// answers the written files' relative paths in library order. Throws std::runtime_error when a folder
// or file cannot be written.
std::vector<std::string> WriteDemoLibrary(const std::filesystem::path& folder);

}  // namespace host
