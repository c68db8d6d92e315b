#include "browse/folders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "browse/listing.h"
#include "core/quenforth.h"
#include "core/records.h"
#include "core/session.h"
#include "core/settingsdata.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;
namespace emulation = platform::emulation;

struct InsideCase {
  const char* path;
  const char* folder;
  bool inside;
};

TEST(IsInside, IsATextTestWithoutRegardToCase) {
  const InsideCase cases[] = {
      {"D:\\Music\\Rock", "D:\\Music", true},
      {"d:\\music", "D:\\MUSIC", true},
      {"D:\\Music2", "D:\\Music", true},
      {"D:\\Music Old\\x.mp3", "D:\\Music", true},
      {"X:\\copy of D:\\Music", "D:\\Music", true},
      {"D:\\Musi", "D:\\Music", false},
      {"E:\\Audio", "D:\\Music", false},
  };
  for (const InsideCase& c : cases) EXPECT_EQ(IsInside(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
}

TEST(HasRefusedSequence, RefusesEveryWayUpButTheBareParent) {
  for (const char* refused : {"Rock/../..", "..\\x", "a\\..", "../a", "x/..", "D:\\Music\\..\\.."})
    EXPECT_TRUE(HasRefusedSequence(refused)) << refused;
  for (const char* accepted : {"..", "a..b", "Rock\\", "D:\\Music", "...mp3"})
    EXPECT_FALSE(HasRefusedSequence(accepted)) << accepted;
}

class FolderModel : public ::testing::Test {
 protected:
  void SetUp() override {
    emulation::UnmapAllDrives();
    emulation::MapDrive('C', (folder_.Path() / "c").string(), "System");
    emulation::MapDrive('D', (folder_.Path() / "d").string(), "Music");
    emulation::MapDrive('E', (folder_.Path() / "e").string());
    for (const char* folder : {"c", "d/Music/Rock", "d/Music/Jazz", "d/Music2", "e/Audio"})
      fs::create_directories(folder_.Path() / folder);
    Modify(core_.CurrentSettings, [](Settings& s) {
      s.RootDirectory = "D:\\Music";
      s.CurrentDirectory = "D:\\Music";
    });
  }
  void TearDown() override { emulation::UnmapAllDrives(); }

  std::string Current() const { return core_.CurrentSettings.Get()->CurrentDirectory; }
  void Change(void (*change)(Settings&)) { Modify(core_.CurrentSettings, change); }

  qftest::TempFolder folder_;
  TQuenforth core_;
  FolderContext global_{core_, nullptr};
};

TEST_F(FolderModel, ParentOfTheRootLastsUntilTheCheck) {
  Dir(global_, "..");
  EXPECT_EQ(Current(), "D:");
  EnforceAllowedFolders(global_);
  EXPECT_EQ(Current(), "D:\\Music");
  Change([](Settings& s) { s.allowBrowseAboveRoot = true; });
  Dir(global_, "..");
  EnforceAllowedFolders(global_);
  EXPECT_EQ(Current(), "D:");
  Dir(global_, "..");  // no "\" left: empty, without any existence check
  EXPECT_EQ(Current(), "");
}

TEST_F(FolderModel, DirMovesIntoExistingFoldersOnly) {
  Dir(global_, "Rock\\");
  EXPECT_EQ(Current(), "D:\\Music\\Rock");
  for (const char* ignored : {"Rock/../..", "..\\x", "Live.lnk", "Missing", "D:\\Music\\Rock\\Missing"}) {
    Dir(global_, ignored);
    EXPECT_EQ(Current(), "D:\\Music\\Rock") << ignored;
  }
  Dir(global_, "D:\\Music2");  // d:\music2 contains d:\music
  EnforceAllowedFolders(global_);
  EXPECT_EQ(Current(), "D:\\Music2");
  Dir(global_, "E:\\Audio");
  EnforceAllowedFolders(global_);
  EXPECT_EQ(Current(), "D:\\Music");
  Change([](Settings& s) { s.AdditionalFolders = {"E:\\Audio"}; });
  Dir(global_, "E:\\Audio");
  EnforceAllowedFolders(global_);
  EXPECT_EQ(Current(), "E:\\Audio");
}

TEST_F(FolderModel, EmptyAdditionalFolderAdmitsNothing) {
  Change([](Settings& s) { s.AdditionalFolders = {"", "E:\\Audio"}; });
  EXPECT_FALSE(InsideAllowedFolders("C:\\Windows", global_));
  EXPECT_TRUE(InsideAllowedFolders("e:\\audio\\x", global_));
}

TEST_F(FolderModel, DriveInTheGlobalContextSticksOnlyAboveTheRootOrInAnAdditionalFolder) {
  Drive(global_, "E: (Backup)");
  EXPECT_EQ(Current(), "D:\\Music");
  Drive(global_, "Q:");  // no such drive: still the root
  EXPECT_EQ(Current(), "D:\\Music");
  Change([](Settings& s) { s.AdditionalFolders = {"E:"}; });
  Drive(global_, "E: (Backup)");
  EXPECT_EQ(Current(), "E:");
  Change([](Settings& s) {
    s.AdditionalFolders.clear();
    s.allowBrowseAboveRoot = true;
  });
  Drive(global_, "C: (System)");
  EXPECT_EQ(Current(), "C:");
}

TEST_F(FolderModel, DriveInAUserContextFollowsTheUsersRight) {
  UserClass user;
  user.RootDirectory.Set("D:\\Music");
  user.CurrentDirectory.Set("D:\\Music\\Rock");
  user.allowBrowseAboveRoot = false;
  FolderContext context(core_, &user);
  Drive(context, "E: (Backup)");
  EXPECT_EQ(user.CurrentDirectory.Get(), "D:\\Music");
  user.allowBrowseAboveRoot = true;
  Drive(context, "E: (Backup)");
  EXPECT_EQ(user.CurrentDirectory.Get(), "E:");
  EXPECT_EQ(Current(), "D:\\Music");  // the global folder is not the user's
}

TEST_F(FolderModel, CurrentFolderForRefusesAFolderMovedOutside) {
  Dir(global_, "..");
  EXPECT_FALSE(CurrentFolderFor(global_, FolderUse::Browse));
  EXPECT_FALSE(CurrentFolderFor(global_, FolderUse::Write));
  Change([](Settings& s) { s.allowBrowseAboveRoot = true; });
  EXPECT_EQ(CurrentFolderFor(global_, FolderUse::Browse), "D:");
  EXPECT_FALSE(CurrentFolderFor(global_, FolderUse::Write));
}

TEST_F(FolderModel, AListingNeverShowsAFolderMovedOutside) {
  SessionData session;
  Dir(global_, "E:\\Audio");  // another request's command, before the check after its batch
  BrowseState state = TakeBrowseState(global_, session);
  EXPECT_EQ(state.current, "");
  EXPECT_TRUE(DirectoryEntries(state, {}).empty());
  EnforceAllowedFolders(global_);
  state = TakeBrowseState(global_, session);
  EXPECT_EQ(state.current, "D:\\Music");
  EXPECT_EQ(DirectoryEntries(state, {}), (TextList{"D:\\Music\\..", "D:\\Music\\Jazz", "D:\\Music\\Rock"}));
}

TEST_F(FolderModel, DrivesAreListedWithTheirLabels) {
  EXPECT_EQ(ListDrives(DriveRange::FromC), (TextList{"C: (System)", "D: (Music)", "E:"}));
  emulation::MapDrive('A', (folder_.Path() / "c").string(), "Floppy");
  EXPECT_EQ(ListDrives(DriveRange::FromC), (TextList{"C: (System)", "D: (Music)", "E:"}));
  EXPECT_EQ(ListDrives(DriveRange::FromA), (TextList{"A: (Floppy)", "C: (System)", "D: (Music)", "E:"}));
  emulation::MapDrive('F', (folder_.Path() / "missing").string(), "Gone");  // a drive without a medium
  EXPECT_EQ(ListDrives(DriveRange::FromC).size(), 3u);
}

// Folder commands of anonymous clients run on many connection threads at once against one shared folder.
class ConcurrentFolderModel : public FolderModel {};

TEST_F(ConcurrentFolderModel, CommandsLeaveOnlyWholeFolders) {
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        if (t % 2 == 0) {
          Dir(global_, i % 2 ? "Rock" : "..");
          EnforceAllowedFolders(global_);
        } else {
          Home(global_);
        }
        std::string seen = global_.Current();
        if (seen != "D:\\Music" && seen != "D:\\Music\\Rock" && seen != "D:" && !seen.empty()) torn = true;
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(torn);
  EnforceAllowedFolders(global_);
  EXPECT_TRUE(InsideAllowedFolders(Current(), global_));
}

}  // namespace
}  // namespace qf
