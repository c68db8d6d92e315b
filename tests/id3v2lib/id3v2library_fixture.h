#pragma once
// The fixture of the ID3v2Library tests: the library loaded as the plug-in loads it, a temporary folder
// for the files it reads, and the comparison with TagLib's reading of the same file.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "id3v2library_loader.h"
#include "quenforth_process.h"
#include "taglib_reference.h"

namespace qftest::id3v2 {

class Id3v2LibraryTest : public ::testing::Test {
 protected:
  // Writes `bytes` to a file of the temporary folder and answers its path.
  std::filesystem::path WriteTagFile(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = folder_.Path() / name;
    WriteFile(path, bytes);
    return path;
  }

  // Expects the library to load `path` and to answer, for the first frame of each id that TagLib
  // reads a text from, the same text, and the same first picture; TagLib must read at least
  // `minimumTexts` texts, so that the comparison is not empty by accident.
  void ExpectAgreesWithTagLib(const std::filesystem::path& path, std::size_t minimumTexts) {
    const ReferenceTag reference = ReadWithTagLib(path);
    const LoadedTag tag(library_, path);
    ASSERT_EQ(tag.LoadResult(), ID3V2_OK);
    EXPECT_GE(reference.texts.size(), minimumTexts);
    for (const ReferenceText& text : reference.texts) EXPECT_EQ(tag.Text(text.id), text.text) << "frame " << text.id;
    const LibraryPicture picture = tag.Picture(0);
    if (reference.firstPicture) {
      EXPECT_EQ(picture.format, reference.firstPicture->format);
      EXPECT_EQ(picture.bytes, reference.firstPicture->bytes);
    } else {
      EXPECT_EQ(picture.format, ID3V2_PICTURE_NONE);
      EXPECT_TRUE(picture.bytes.empty());
    }
  }

  Id3v2Library library_;
  TempFolder folder_;
};

}  // namespace qftest::id3v2
