// Every text frame and picture of the demo music, as ID3v2Library reads them, agrees with TagLib.

#include "demomusic.h"
#include "id3v2library_fixture.h"

namespace qftest::id3v2 {
namespace {

class DemoMusicTest : public Id3v2LibraryTest {};

TEST_F(DemoMusicTest, EveryFileAgreesWithTagLib) {
  std::vector<host::DemoTrack> library = host::DemoLibrary();
  std::vector<std::string> written = host::WriteDemoLibrary(folder_.Path());
  ASSERT_EQ(written.size(), library.size());
  for (std::size_t i = 0; i < written.size(); ++i) {
    SCOPED_TRACE(written[i]);
    std::filesystem::path path = folder_.Path() / written[i];
    if (!library[i].tags) {
      EXPECT_EQ(LoadedTag(library_, path).LoadResult(), ID3V2_NO_TAG);
      continue;
    }
    ExpectAgreesWithTagLib(path, 4);
    LoadedTag tag(library_, path);
    EXPECT_EQ(tag.Text("TIT2"), library[i].tags->title);
    EXPECT_EQ(tag.Picture(0).format, library[i].hasCover ? ID3V2_PICTURE_PNG : ID3V2_PICTURE_NONE);
  }
}

}  // namespace
}  // namespace qftest::id3v2
