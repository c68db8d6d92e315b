#pragma once
// What the stand-in player knows of a file: tags and audio properties, read with TagLib.

#include <cstdint>
#include <string>

namespace host {

struct Metadata {
  bool readable = false;  // TagLib could open the file as audio
  std::string title, artist, album, albumArtist, genre, comment;
  int year = 0;
  int track = 0;
  int lengthMs = -1;   // -1 when unknown
  int bitrate = 0;     // kbit/s
  int sampleRate = 0;  // Hz
  int channels = 0;
  std::uint64_t fileSize = 0;
  std::int64_t modified = 0;  // seconds since 1970

  int LengthSeconds() const { return lengthMs < 0 ? -1 : lengthMs / 1000; }
};

// Reads the file at a Windows path of the emulated drives. Texts come in the single-byte code page
// (Latin-1; characters it cannot hold become '?'). A file that is no audio file answers readable = false.
Metadata ReadMetadata(const std::string& windowsPath);

// The player's display title: "Artist - Title" when both tags exist, the title alone without an artist,
// else the file name without folder and extension.
std::string DisplayTitle(const std::string& windowsPath, const Metadata& metadata);

}  // namespace host
