// The stand-in's reading of tags and audio properties for other formats than MP3.

#include "metadata.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio_files.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace host {
namespace {

using namespace testaudio;

std::string Flac(int seconds, const std::string& title, const std::string& artist) {
  return testaudio::Flac(seconds, {"TITLE=" + title, "ARTIST=" + artist});
}

std::string OggVorbis(int seconds, const std::string& title, const std::string& album) {
  return testaudio::OggVorbis(seconds, {"TITLE=" + title, "ALBUM=" + album});
}

class MetadataTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::emulation::MapDrive('C', folder_.Path().string()); }
  qftest::TempFolder folder_;
};

TEST_F(MetadataTest, WaveFiles) {
  qftest::WriteFile(folder_.Path() / "a.wav", Wav(3));
  Metadata metadata = ReadMetadata("C:\\A.WAV");
  EXPECT_TRUE(metadata.readable);
  EXPECT_EQ(metadata.LengthSeconds(), 3);
  EXPECT_EQ(metadata.sampleRate, 8000);
  EXPECT_EQ(metadata.channels, 2);
  EXPECT_EQ(metadata.bitrate, 256);
  EXPECT_EQ(DisplayTitle("C:\\a.wav", metadata), "a");
}

TEST_F(MetadataTest, FlacFiles) {
  qftest::WriteFile(folder_.Path() / "b.flac", Flac(125, "Tide Table", "Marisol Vantebrook"));
  Metadata metadata = ReadMetadata("C:\\b.flac");
  EXPECT_TRUE(metadata.readable);
  EXPECT_EQ(metadata.LengthSeconds(), 125);
  EXPECT_EQ(metadata.sampleRate, 44100);
  EXPECT_EQ(metadata.channels, 2);
  EXPECT_EQ(metadata.title, "Tide Table");
  EXPECT_EQ(DisplayTitle("C:\\b.flac", metadata), "Marisol Vantebrook - Tide Table");
}

TEST_F(MetadataTest, OggVorbisFiles) {
  qftest::WriteFile(folder_.Path() / "c.ogg", OggVorbis(47, "Low Water", "Estuary"));
  Metadata metadata = ReadMetadata("C:\\c.ogg");
  EXPECT_TRUE(metadata.readable);
  EXPECT_EQ(metadata.LengthSeconds(), 47);
  EXPECT_EQ(metadata.sampleRate, 22050);
  EXPECT_EQ(metadata.channels, 1);
  EXPECT_EQ(metadata.title, "Low Water");
  EXPECT_EQ(metadata.album, "Estuary");
}

TEST_F(MetadataTest, FilesThatAreNoAudio) {
  qftest::WriteFile(folder_.Path() / "notes.mp3", "just some text, no frames at all");
  EXPECT_FALSE(ReadMetadata("C:\\missing.mp3").readable);
  EXPECT_EQ(ReadMetadata("C:\\notes.mp3").LengthSeconds() <= 0, true);
}

}  // namespace
}  // namespace host
