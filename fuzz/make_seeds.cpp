// Writes the seed corpus of the tag parser's fuzz target: one small file for each structure the parser
// knows, so that fuzzing starts from tags that reach every path. Usage: make_seeds FOLDER

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "tag_builder.h"  // the tests' tag builder (tests/id3v2lib)

using namespace std::string_literals;
using namespace qftest::id3v2;

namespace {

const std::string kPng = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s;
const std::string kJpeg = "\xFF\xD8\xFF\xE0\0\x10JFIF\0\xFF\xD9"s;

std::vector<std::pair<std::string, std::string>> Seeds() {
  const std::string utf16Artist = "\x01\xFF\xFE\xC4\0r\0t\0\0\0"s;
  return {
      {"v22-pic", Tag(2, 0,
                      Frame22("TT2", "\0Title"s) + Frame22("TP1", utf16Artist) + Frame22("COM", "\0engdesc\0text"s) +
                          Frame22("PIC", "\0PNG\x03\0"s + kPng) + std::string(8, '\0'))},
      {"v23-texts", Tag(3, 0,
                        Frame23("TIT2", "\0Caf\xE9"s) + Frame23("TPE1", utf16Artist) +
                            Frame23("COMM", "\001eng\xFF\xFE\0\0\xFF\xFEh\0i\0"s) + Frame23("TXXX", "\0name\0value"s) +
                            Frame23("WXXX", "\0\0http://x"s) + Frame23("WOAR", "http://y"s) +
                            Frame23("APIC", "\0image/jpeg\0\x03\0"s + kJpeg) + std::string(16, '\0'))},
      {"v23-unsync-ext", Tag(3, 0x80 | 0x40,
                             Unsynchronise(BigEndian(6, 4) + "\0\0\0\0\0\0"s + Frame23("TIT2", "\0a\xFF\xE0"s) +
                                           Frame23("APIC", "\0\0\x03\0"s + kJpeg)))},
      {"v23-compressed-grouped", Tag(3, 0,
                                     Frame23("TIT2", "\0x\x9C"s, 0x80, BigEndian(10, 4)) +
                                         Frame23("TPE1", "\0grouped"s, 0x20, "\x01") + Frame23("TALB", "\0a"s))},
      {"v24-encodings",
       Tag(4, 0x10,
           Frame24("TIT2", "\x03One\0Two\0"s) + Frame24("TPE1", "\x02\0A\x01\x00"s) +
               Frame24("TCON", "\x01\xFF\xFEJ\0\0\0\xFE\xFF\0K\0\0"s) +
               Frame24("TALB", Unsynchronise("\0\xFF\xE0x"s), 0x02) + Frame24("TCOM", BigEndian(3, 4) + "\0ab"s, 0x01) +
               Frame24("TPE2", "\0gz"s, 0x08 | 0x01) + Frame24("TPE3", "\0enc"s, 0x04) +
               Frame24("APIC", "\x03\0\x03\0"s + kPng)) +
           "3DI\x04\0\x10\0\0\0\0"s},
      {"v24-ext-unsync", Tag(4, 0x80 | 0x40, Synchsafe(6) + "\x01\0"s + Frame24("TIT2", Unsynchronise("\0\xFF\xFF"s)))},
      {"v24-plain-size",
       Tag(4, 0, Frame24PlainSize("TIT2", "\0"s + std::string(200, 'x')) + Frame24PlainSize("TPE1", "\0y"s))},
      {"no-tag", "RIFF\0\0\0\0WAVE"s},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_seeds FOLDER\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  for (const auto& [name, bytes] : Seeds()) {
    std::ofstream file(folder / name, std::ios::binary);
    file << bytes;
    if (!file) {
      std::cerr << "cannot write " << (folder / name) << '\n';
      return 1;
    }
  }
  return EXIT_SUCCESS;
}
