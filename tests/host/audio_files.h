#pragma once
// Small audio files built in memory for the tag readers' tests: WAV, FLAC and Ogg Vorbis.

#include <cstdint>
#include <string>
#include <vector>

namespace host::testaudio {

inline void Put(std::string& bytes, std::uint64_t value, int count, bool bigEndian) {
  for (int i = 0; i < count; ++i) {
    int shift = bigEndian ? 8 * (count - 1 - i) : 8 * i;
    bytes += static_cast<char>((value >> shift) & 0xFF);
  }
}

// A PCM WAV file of silence: 16-bit stereo at 8000 Hz.
inline std::string Wav(int seconds) {
  std::uint32_t data = static_cast<std::uint32_t>(seconds) * 8000 * 4;
  std::string bytes = "RIFF";
  Put(bytes, 36 + data, 4, false);
  bytes += "WAVEfmt ";
  Put(bytes, 16, 4, false);
  Put(bytes, 1, 2, false);         // PCM
  Put(bytes, 2, 2, false);         // channels
  Put(bytes, 8000, 4, false);      // sample rate
  Put(bytes, 8000 * 4, 4, false);  // bytes per second
  Put(bytes, 4, 2, false);         // block align
  Put(bytes, 16, 2, false);        // bits per sample
  bytes += "data";
  Put(bytes, data, 4, false);
  bytes += std::string(data, '\0');
  return bytes;
}

// A FLAC file of stream information and a Vorbis comment of `fields` ("KEY=value") only: readers take
// the length from the first.
inline std::string Flac(int seconds, const std::vector<std::string>& fields) {
  std::string bytes = "fLaC";
  Put(bytes, 0x00, 1, true);  // STREAMINFO, not the last block
  Put(bytes, 34, 3, true);
  Put(bytes, 4096, 2, true);
  Put(bytes, 4096, 2, true);
  Put(bytes, 0, 3, true);
  Put(bytes, 0, 3, true);
  std::uint64_t samples = static_cast<std::uint64_t>(seconds) * 44100;
  // 20 bits of sample rate, 3 of channels - 1, 5 of bits per sample - 1, 36 of total samples.
  std::uint64_t packed = (44100ull << 44) | (1ull << 41) | (15ull << 36) | samples;
  Put(bytes, packed, 8, true);
  bytes += std::string(16, '\0');  // MD5 of the audio, unknown
  std::string comment;
  auto little = [&](std::uint32_t value) { Put(comment, value, 4, false); };
  std::string vendor = "quenforth";
  little(static_cast<std::uint32_t>(vendor.size()));
  comment += vendor;
  little(static_cast<std::uint32_t>(fields.size()));
  for (const std::string& field : fields) {
    little(static_cast<std::uint32_t>(field.size()));
    comment += field;
  }
  Put(bytes, 0x84, 1, true);  // VORBIS_COMMENT, the last block
  Put(bytes, comment.size(), 3, true);
  return bytes + comment;
}

// One Ogg page holding whole packets; the checksum is Ogg's own CRC (polynomial 04C11DB7, not reflected).
inline std::string OggPage(const std::vector<std::string>& packets, int headerType, std::uint64_t granule,
                           int sequence) {
  std::string lacing, body;
  for (const std::string& packet : packets) {
    lacing += std::string(packet.size() / 255, '\xFF');
    lacing += static_cast<char>(packet.size() % 255);
    body += packet;
  }
  std::string page = "OggS";
  Put(page, 0, 1, false);
  Put(page, headerType, 1, false);
  Put(page, granule, 8, false);
  Put(page, 0x51F0, 4, false);  // stream serial number
  Put(page, sequence, 4, false);
  Put(page, 0, 4, false);  // checksum, filled in below
  Put(page, lacing.size(), 1, false);
  page += lacing + body;
  std::uint32_t crc = 0;
  for (unsigned char byte : page) {
    crc ^= static_cast<std::uint32_t>(byte) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  for (int i = 0; i < 4; ++i) page[22 + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
  return page;
}

// An Ogg Vorbis file of headers only, its comment holding `fields`; readers take the length from the last
// page's sample position.
inline std::string OggVorbis(int seconds, const std::vector<std::string>& fields) {
  std::string identification = "\x01vorbis";
  Put(identification, 0, 4, false);  // version
  Put(identification, 1, 1, false);  // channels
  Put(identification, 22050, 4, false);
  Put(identification, 0, 4, false);      // maximum bit rate
  Put(identification, 64000, 4, false);  // nominal bit rate
  Put(identification, 0, 4, false);      // minimum bit rate
  Put(identification, 0xB8, 1, false);   // block sizes 256 and 2048
  Put(identification, 1, 1, false);      // framing
  std::string comment = "\x03vorbis";
  std::string vendor = "quenforth";
  Put(comment, vendor.size(), 4, false);
  comment += vendor;
  Put(comment, fields.size(), 4, false);
  for (const std::string& field : fields) {
    Put(comment, field.size(), 4, false);
    comment += field;
  }
  Put(comment, 1, 1, false);  // framing
  std::string setup = "\x05vorbis";
  return OggPage({identification}, 0x02, 0, 0) + OggPage({comment, setup}, 0x00, 0, 1) +
         OggPage({std::string(40, '\0')}, 0x04, static_cast<std::uint64_t>(seconds) * 22050, 2);
}

}  // namespace host::testaudio
