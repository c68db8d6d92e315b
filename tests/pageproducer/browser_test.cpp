// The folder browser's tags on a page: drives, search results from a filled file cache, the names and
// form values printed for them, and search_files_string.

#include <gtest/gtest.h>

#include <filesystem>

#include "browse/listing.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "pageproducer/producer.h"
#include "platform/posix/emulation.h"
#include "player/player.h"
#include "quenforth_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;
namespace emulation = platform::emulation;

std::string Red(const std::string& text) { return "<font color=\"ff0000\">" + text + "</font>"; }

class BrowserTags : public ::testing::Test {
 protected:
  void SetUp() override {
    core_.Player = &player_;
    emulation::UnmapAllDrives();
    emulation::MapDrive('C', (folder_.Path() / "c").string(), "System");
    emulation::MapDrive('D', (folder_.Path() / "d").string(), "Music");
    fs::create_directories(folder_.Path() / "d/Music/Rock/Live");
    fs::create_directories(folder_.Path() / "e/Audio");
    core_.PluginFolder.Set("C:\\Plugins");
    Modify(core_.CurrentSettings, [](Settings& s) {
      s.RootDirectory = s.CurrentDirectory = "D:\\Music";
      s.useFullPath = false;
      s.AdditionalFolders = {"E:\\Audio"};
    });
    core_.FileCache.Set(std::make_shared<const PackedTextList>(
        TextList{"D:\\Music\\Rock\\a.mp3", "D:\\Music\\Rock\\Live\\b.mp3", "D:\\Music\\Jazz\\c.mp3",
                 "D:\\Music\\Rock\\x.mp3.lnk", "E:\\Audio\\Rock Hits\\h.mp3"}));
    core_.MusicExtensions.Set(std::make_shared<const SortedTextList>(SplitExtensions("mp3:mp3.lnk")));
    session_.SkinName = "base";
    session_.TemplatePath = "C:\\Plugins\\quenforth\\base\\index.html";
    Skin("d.html", "[<#browser_directoryname>|<#browser_form_directoryname>|<#browser_enc_directoryname>]");
    Skin("f.html", "[<#browser_filename hideextension=1>|<#browser_form_filename>|<#browser_enc_filename>]");
    Skin("drive.html", "[<#browser_drivename>|<#browser_enc_drivename>]");
  }
  void TearDown() override { emulation::UnmapAllDrives(); }

  std::string Produce(std::string_view text) {
    return TMyPageProducer(nullptr, player_, core_, session_).Produce(text);
  }
  void Skin(const std::string& name, const std::string& text) {
    qftest::WriteFile(folder_.Path() / "c/Plugins/quenforth/base" / name, text);
  }
  void Search(const std::string& text, bool folders, bool files, bool allLevels) {
    session_.SearchString = text;
    session_.SearchForDirectories = folders;
    session_.SearchForFiles = files;
    session_.SearchInSubdirs = allLevels;
  }
  void FullPaths() {
    Modify(core_.CurrentSettings, [](Settings& s) { s.useFullPath = true; });
  }

  qftest::TempFolder folder_;
  TPlayer player_;  // no player window
  TQuenforth core_;
  SessionData session_;
};

TEST_F(BrowserTags, FolderSearchResultsArePrintedBelowTheCurrentFolder) {
  Search("rock", true, false, false);
  EXPECT_EQ(Produce("<#browser_directories template=d.html>"), "[Rock|Rock|Rock]");
  Search("ROCK", true, false, true);
  EXPECT_EQ(Produce("<#browser_directories template=d.html>"), "[Rock|Rock|Rock][Rock\\Live|Rock\\Live|Rock%5cLive]");
  Search("live", true, false, false);
  EXPECT_EQ(Produce("<#browser_directories template=d.html>"), "");
  EXPECT_EQ(Produce("<#browser_files template=f.html>"), "");  // files are not searched for
}

TEST_F(BrowserTags, FileSearchMatchesExtensionsOnlyInTheFolderItself) {
  Modify(core_.CurrentSettings, [](Settings& s) { s.CurrentDirectory = "D:\\Music\\Rock"; });
  Search("mp3", false, true, false);
  EXPECT_EQ(Produce("<#browser_files template=f.html extension=ogg>"), "[a|a.mp3|a.mp3][x|x.mp3.lnk|x.mp3.lnk]");
  Search("mp3", false, true, true);
  EXPECT_EQ(Produce("<#browser_files template=f.html>"), "");
  Search("x", false, true, true);
  EXPECT_EQ(Produce("<#browser_files template=f.html>"), "[x|x.mp3.lnk|x.mp3.lnk]");
}

TEST_F(BrowserTags, AtTheRootWithFullPathsTheAdditionalFoldersAreSearchedToo) {
  FullPaths();
  Search("rock", true, true, true);
  EXPECT_EQ(Produce("<#browser_directories template=d.html>"),
            "[Rock|D:\\Music\\Rock|D%3a%5cMusic%5cRock][Rock\\Live|D:\\Music\\Rock\\Live|D%3a%5cMusic%5cRock%5cLive]"
            "[Rock Hits|E:\\Audio\\Rock Hits|E%3a%5cAudio%5cRock+Hits]");
  Search("h", false, true, true);
  EXPECT_EQ(Produce("<#browser_files template=f.html>"),
            "[Rock Hits\\h|E:\\Audio\\Rock Hits\\h.mp3|E%3a%5cAudio%5cRock+Hits%5ch.mp3]");
  Modify(core_.CurrentSettings, [](Settings& s) { s.CurrentDirectory = "D:\\Music\\Rock"; });
  EXPECT_EQ(Produce("<#browser_files template=f.html>"), "");  // below the root: the current folder only
}

TEST_F(BrowserTags, TheMediaLibraryGetsTheSameFileFormValue) {
  const std::string path = "D:\\Music\\Rock\\a.mp3";
  EXPECT_EQ(FileFormValue(core_, nullptr, session_, path), "a.mp3");
  Search("a", false, true, false);
  EXPECT_EQ(FileFormValue(core_, nullptr, session_, path), "Rock\\a.mp3");
  FullPaths();
  EXPECT_EQ(FileFormValue(core_, nullptr, session_, path), path);
}

TEST_F(BrowserTags, DrivesAreSortedAndHiddenDuringASearch) {
  EXPECT_EQ(Produce("<#browser_drives template=drive.html>"), "");
  Modify(core_.CurrentSettings, [](Settings& s) { s.displayDrives = true; });
  EXPECT_EQ(Produce("<#browser_drives template=drive.html>"), "[C: (System)|C%3a+(System)][D: (Music)|D%3a+(Music)]");
  Search("x", false, false, false);
  EXPECT_EQ(Produce("<#browser_drives template=drive.html>"), "");
  EXPECT_EQ(Produce("<#browser_drives template=none.html>"),
            Red("browser_drives: template '<i>C:\\Plugins\\quenforth\\base\\none.html'</i> not found"));
  EXPECT_EQ(Produce("<#browser_files>"), Red("browser_files: template not specified"));
}

TEST_F(BrowserTags, TheSearchTextIsPrintedWithItsOptions) {
  Search("a'b\"c\\d e", false, false, false);
  EXPECT_EQ(Produce("<#search_files_string>"), "a'b\"c\\d e");
  EXPECT_EQ(Produce("<#search_files_string escape=1>"), "a\\'b&quot;c\\\\d e");
  EXPECT_EQ(Produce("<#search_files_string urlencoded=1 maxlength=3>"), "a'b");
  EXPECT_EQ(Produce("<#search_files_string urlencoded=1>"), "a'b%22c%5cd+e");
  EXPECT_EQ(Produce("<#CurrentBrowserDirectory useslashes=1>"), "D:/Music");
}

}  // namespace
}  // namespace qf
