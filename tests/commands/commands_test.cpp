// The command dispatcher against the stand-in player: each command, privileges and quotas, the refusal
// messages, the batch rules and the end-of-batch steps.

#include "commands/commands.h"

#include <gtest/gtest.h>

#include "commands/maintenance.h"
#include "core/inifile.h"
#include "pageproducer/playlist.h"
#include "pageproducer/producer.h"
#include "platform/posix/emulation.h"
#include "platform/window.h"
#include "player/id3v2library.h"
#include "plugin_fixture.h"
#include "ui/configform.h"
#include "ui/configwindow.h"

#include <algorithm>
#include <future>
#include <latch>
#include <thread>

namespace qf {
namespace {

using ::host::PlayerState;

class CommandsTest : public qftest::PluginTest {
 protected:
  SessionData Run(std::initializer_list<std::string> params, UserClass* user = nullptr) {
    SessionData session;
    session.Document = "/";
    RunCommands(*core, TextList(params), user, session);
    return session;
  }
  int Volume() {
    return Look<int>([](PlayerState& s) { return s.volume; });
  }
  int Current() {
    return Look<int>([](PlayerState& s) { return s.current; });
  }
  // Lists the playlist as a page would, so that song ids name the entries.
  std::string Id(int index) {
    auto entries = ReadPlaylistShared(*core);
    return core->SongId((*entries)[static_cast<std::size_t>(index)].FileName, index);
  }
  std::shared_ptr<UserClass> User(const std::string& login) {
    auto user = std::make_shared<UserClass>();
    user->Login = login;
    user->RootDirectory.Set("C:\\Music");
    user->CurrentDirectory.Set("C:\\Music");
    user->Skin.Set("base");
    return user;
  }
};

TEST_F(CommandsTest, VolumeThenNext) {
  StartPlugin(3);
  Run({"volume=50", "next"});
  EXPECT_EQ(Volume(), 128);  // trunc(50 * 2.55) + 1
  EXPECT_EQ(Current(), 1);
}

TEST_F(CommandsTest, AValueThatIsNoNumberStopsTheBatch) {
  StartPlugin(3);
  int before = Volume();
  Run({"volume=loud", "next"});
  EXPECT_EQ(Volume(), before);
  EXPECT_EQ(Current(), 0);
  Run({"balance=x", "next"});
  Run({"trackpos=abc", "next"});
  Run({"incvol=1e", "next"});
  EXPECT_EQ(Current(), 0);
}

TEST_F(CommandsTest, APositionThatIsNoFiniteNumberStopsTheBatch) {
  StartPlugin(3);
  Run({"play"});
  for (const char* value : {"nan", "NaN", "-nan", "nan(1)", "inf", "-inf", "infinity", "1e999"}) {
    Run({std::string("trackpos=") + value, "next"});
    EXPECT_EQ(Current(), 0) << value;
  }
}

TEST_F(CommandsTest, StepsAtTheEndsOfThe32BitRangeDoNotWrap) {
  StartPlugin(1);
  Run({"volume=40", "incvol=2147483647"});
  EXPECT_EQ(Volume(), 255);
  Run({"volume=40", "decvol=-2147483648"});
  EXPECT_EQ(Volume(), 255);
  Run({"volume=40", "decvol=2147483647"});
  EXPECT_EQ(Volume(), 1);
  Run({"3_seteq=-2147483648"});  // far below -100: the bottom of the scale
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.bands[3]; }), 63);
  Run({"3_seteq=2147483647"});
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.bands[3]; }), 0);
  Run({"play", "trackpos=100"});
  EXPECT_EQ(core->Player->GetPosition(), 20);
}

TEST_F(CommandsTest, VolumeBalanceAndPositionAreClamped) {
  StartPlugin(1);
  Run({"volume=250"});
  EXPECT_EQ(Volume(), 255);
  Run({"volume=-20"});
  EXPECT_EQ(Volume(), 1);
  Run({"volume=40", "incvol=100"});
  EXPECT_EQ(Volume(), 255);
  Run({"decvol=500"});
  EXPECT_EQ(Volume(), 1);
  Run({"balance=-300"});
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.panning; }), -127);
  Run({"play", "trackpos=50"});
  EXPECT_EQ(core->Player->GetPosition(), 10);  // half of 20 s
  Run({"trackpos=400"});
  EXPECT_EQ(core->Player->GetPosition(), 20);
}

TEST_F(CommandsTest, UnknownCommandsAreReportedAsText) {
  StartPlugin(1);
  EXPECT_EQ(Run({"foo=1"}).ErrorMessage, "Unknown command: foo=1</br>");
  EXPECT_EQ(Run({"foo"}).ErrorMessage, "Unknown command: foo=</br>");
  EXPECT_EQ(Run({"<script>alert(1)</script>=\"x'"}).ErrorMessage,
            "Unknown command: &lt;script&gt;alert(1)&lt;/script&gt;=&quot;x&#39;</br>");
  EXPECT_EQ(Run({"PLAY", "Stop"}).ErrorMessage, "");  // names ignore case
}

TEST_F(CommandsTest, EqualiserBandsByName) {
  StartPlugin(1);
  Run({"3_seteq=100"});
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.bands[3]; }), 0);
  Run({"3_seteq=-100"});
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.bands[3]; }), 62);
  Run({"10_seteq=0"});
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.preamp; }), 31);
  Run({"11_seteq=1"});
  EXPECT_TRUE(Look<bool>([](PlayerState& s) { return s.equalizerOn; }));
  Run({"equalizer"});
  EXPECT_FALSE(Look<bool>([](PlayerState& s) { return s.equalizerOn; }));
  Run({"x_seteq=100"});  // a band that is not a number is band 0
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.bands[0]; }), 0);
  int refreshes = Look<int>([](PlayerState& s) { return s.requests.equalizerRefreshes; });
  Run({"13_seteq=5", "-1_seteq=5"});  // no such bands: nothing is sent
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.requests.equalizerRefreshes; }), refreshes);
}

TEST_F(CommandsTest, RepeatAndRepeatAllCycle) {
  StartPlugin(1);
  core->Player->SetRepeatMode(2);
  Run({"repeat"});
  EXPECT_EQ(core->Player->GetRepeatMode(), 1);
  core->Player->SetRepeatMode(2);
  Run({"repeatall"});
  EXPECT_EQ(core->Player->GetRepeatMode(), 0);
  Run({"repeatall"});
  EXPECT_EQ(core->Player->GetRepeatMode(), 1);
  Run({"shuffle"});
  EXPECT_TRUE(core->Player->GetShuffle());
}

TEST_F(CommandsTest, AddingFiles) {
  StartPlugin(2);
  std::string extra = AddTrack("extra", 30);
  Modify(core->CurrentSettings, [&](Settings& s) { s.useFullPath = false; });
  Run({"add=extra.mp3", "add=http://radio.example/live", "add=..\\t0.mp3", "add=.."});
  EXPECT_EQ(PlaylistPaths(),
            (std::vector<std::string>{"C:\\Music\\t0.mp3", "C:\\Music\\t1.mp3", extra, "http://radio.example/live"}));
  EXPECT_EQ(core->FirstAddedIndex, 3);
  Modify(core->CurrentSettings, [&](Settings& s) { s.useFullPath = true; });
  Run({"add=C:\\Music"});  // the current folder itself
  EXPECT_EQ(PlaylistPaths().size(), 4u);
  Run({"play", "insert=" + extra});
  EXPECT_EQ(PlaylistPaths()[1], extra);  // after the current entry
  Run({"file=" + extra});
  EXPECT_EQ(Current(), 5);
  EXPECT_EQ(core->Player->IsPlaying(), 1);
}

TEST_F(CommandsTest, DownloadsInsideTheAllowedFoldersOnly) {
  StartPlugin(1);
  qftest::WriteFile(folder_.Path() / "Other/secret.mp3", "x");
  EXPECT_EQ(Run({"download=C:\\Music\\t0.mp3"}).ServeFile, "C:\\Music\\t0.mp3");
  EXPECT_EQ(Run({"download=C:\\Other\\secret.mp3"}).ServeFile, "");
  EXPECT_EQ(Run({"download=C:\\Music\\..\\Other\\secret.mp3"}).ServeFile, "");
  EXPECT_EQ(Run({"download=C:\\Music\\missing.mp3"}).ServeFile, "");
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowSrcOutside = true; });
  EXPECT_EQ(Run({"download=C:\\Other\\secret.mp3"}).ServeFile, "C:\\Other\\secret.mp3");
  Modify(core->CurrentSettings, [&](Settings& s) { s.AdditionalFolders = TextList{"C:\\Other"}; });
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowSrcOutside = false; });
  EXPECT_EQ(Run({"download=C:\\Other\\secret.mp3"}).ServeFile, "C:\\Other\\secret.mp3");
}

TEST_F(CommandsTest, SrcAndCacheServeOnlyPlainNames) {
  StartPlugin(1);
  auto run = [&](const std::string& unparsed, const std::string& param) {
    SessionData session;
    session.UnparsedDocument = unparsed;
    session.Document = UrlDecode(unparsed, PlusMeans::Plus);
    RunCommands(*core, TextList{param}, nullptr, session);
    return session.ServeFile;
  };
  EXPECT_EQ(run("/t0.mp3", "src=C:\\Music"), "C:\\Music\\t0.mp3");
  EXPECT_EQ(run("/t0.mp3", "src=C:\\Other"), "forbidden");
  EXPECT_EQ(run("/..%5C..%5Cuser.ini", "src=C:\\Music"), "forbidden");
  EXPECT_EQ(run("/x/C:secret", "src=C:\\Music"), "forbidden");
  std::string cache = std::string(kPlugins) + "\\Quenforth\\cache\\";
  EXPECT_EQ(run("/Song.mp3.jpg", "cache"), cache + "Song.mp3.jpg");
  // Names come form-encoded, as AlbumArt writes them: "+" is a blank, %2b a plus.
  EXPECT_EQ(run("/01+My+Song.mp3.jpg", "cache"), cache + "01 My Song.mp3.jpg");
  EXPECT_EQ(run("/a%2bb%25.mp3.jpg", "cache"), cache + "a+b%.mp3.jpg");
  EXPECT_EQ(run("/..%5C..%5Cuser.ini", "cache"), "forbidden");
  EXPECT_EQ(run("/..%2F..%2Fuser.ini", "cache"), "forbidden");
}

TEST_F(CommandsTest, PrivilegesOfAUser) {
  StartPlugin(2);
  auto user = User("bob");
  EXPECT_EQ(Run({"play", "next"}, user.get()).ErrorMessage, "Operation not allowed.</br>Operation not allowed.</br>");
  EXPECT_EQ(core->Player->IsPlaying(), 0);
  user->change_state = true;
  EXPECT_EQ(Run({"play", "close", "execute"}, user.get()).ErrorMessage,
            "Operation not allowed.</br>Operation not allowed.</br>");
  EXPECT_FALSE(core->ShuttingDown);  // a non-admin cannot close the player
  EXPECT_EQ(core->Player->IsPlaying(), 1);
  SessionData logfile = Run({"logfile"}, user.get());
  EXPECT_EQ(logfile.ServeFile, "forbidden");
  EXPECT_EQ(logfile.ErrorMessage, "");
  EXPECT_EQ(Run({"saveplaylist=mine"}, user.get()).ErrorMessage, "");  // refused without a word
  EXPECT_EQ(Run({"skin=base"}, user.get()).ErrorMessage, "");          // ChangeSkin is on by default
  user->ChangeSkin = false;
  EXPECT_EQ(Run({"skin=base"}, user.get()).ErrorMessage, "Operation not allowed.</br>");
  user->admin = true;
  Run({"close"}, user.get());
  EXPECT_TRUE(core->ShuttingDown);
}

TEST_F(CommandsTest, TracksPerHourQuota) {
  StartPlugin(1);
  std::string extra = AddTrack("extra", 30);
  auto user = User("carol");
  user->add_files = true;
  user->tracks_per_hour = 2;
  EXPECT_EQ(Run({"add=" + extra, "add=" + extra, "add=" + extra}, user.get()).ErrorMessage,
            "Operation not allowed.</br>");
  EXPECT_EQ(PlaylistPaths().size(), 3u);
  EXPECT_EQ(user->TracksThisHour, 2);
  // addrand is not counted against the quota.
  core->FileCache.Set(std::make_shared<PackedTextList>(TextList{extra}));
  EXPECT_EQ(Run({"addrand"}, user.get()).ErrorMessage, "");
  EXPECT_EQ(ValueOfName(*core->TrackOwners.Get(), core->CrcKey(extra)), "carol");
}

TEST_F(CommandsTest, ParallelAddsOfOneUserStayWithinTheQuota) {
  StartPlugin(0);
  std::string extra = AddTrack("extra", 30);
  auto user = User("erin");
  user->add_files = true;
  user->tracks_per_hour = 5;
  constexpr int kRequests = 20;
  std::latch start(kRequests);
  std::vector<std::thread> requests;
  for (int i = 0; i < kRequests; ++i)
    requests.emplace_back([&] {
      start.arrive_and_wait();
      Run({"add=" + extra}, user.get());
    });
  for (auto& request : requests) request.join();
  EXPECT_EQ(PlaylistPaths().size(), 5u);
  EXPECT_EQ(user->TracksThisHour, 5);
}

TEST_F(CommandsTest, AFileThatWasNotAddedCountsNothing) {
  StartPlugin(1);
  auto user = User("frank");
  user->add_files = true;
  user->tracks_per_hour = 3;
  // Too long for the player's insert record, but appending has no such limit.
  std::string longPath = "C:\\Music\\" + std::string(300, 'x') + ".mp3";
  Run({"play", "insert=" + longPath}, user.get());
  EXPECT_EQ(PlaylistPaths().size(), 1u);
  EXPECT_EQ(user->TracksThisHour, 0);
  EXPECT_FALSE(ValueOfName(*core->TrackOwners.Get(), core->CrcKey(longPath)));
  Run({"add=" + longPath}, user.get());
  EXPECT_EQ(PlaylistPaths().back(), longPath);
  EXPECT_EQ(user->TracksThisHour, 1);
  EXPECT_EQ(ValueOfName(*core->TrackOwners.Get(), core->CrcKey(longPath)), "frank");
}

TEST_F(CommandsTest, TheFirstUserToAddAFileIsItsOwner) {
  StartPlugin(0);
  std::string song = AddTrack("song", 30);
  auto alice = User("alice"), bob = User("bob");
  alice->add_files = bob->add_files = true;
  Run({"add=" + song}, alice.get());
  Run({"add=" + song}, bob.get());
  EXPECT_EQ(ValueOfName(*core->TrackOwners.Get(), core->CrcKey(song)), "alice");
  EXPECT_EQ(core->TrackOwners.Get()->size(), 2u);  // a line for each entry
}

TEST_F(CommandsTest, ARemovalSkipsAnEntryThatNoLongerHoldsItsFile) {
  StartPlugin(3);
  std::string second = Id(1), third = Id(2);
  std::vector<std::string> before = PlaylistPaths();
  // The move comes between the song id's check and the removal at the end of the batch.
  Run({"removetrack=" + second, "moveup=" + third});
  EXPECT_EQ(PlaylistPaths(), (std::vector<std::string>{before[0], before[2], before[1]}));
}

TEST_F(CommandsTest, RemoveHisRemovesOnlyOwnEntries) {
  StartPlugin(3);
  auto dave = User("dave");
  dave->add_files = true;
  dave->remove_his = true;
  std::string mine = AddTrack("mine", 30);
  Run({"add=" + mine}, dave.get());
  std::vector<std::string> before = PlaylistPaths();
  Run({"removetrack=" + Id(0), "removetrack=" + Id(3)}, dave.get());
  EXPECT_EQ(PlaylistPaths(), (std::vector<std::string>{before[0], before[1], before[2]}));
  EXPECT_FALSE(ValueOfName(*core->TrackOwners.Get(), core->CrcKey(mine)));  // its owner line went too
}

TEST_F(CommandsTest, RemovalsRunFromTheLastEntryEachOnce) {
  StartPlugin(7);
  std::vector<std::string> before = PlaylistPaths();
  Run({"removetrack=" + Id(2), "removetrack=" + Id(5), "removesong=" + Id(2)});
  EXPECT_EQ(PlaylistPaths(), (std::vector<std::string>{before[0], before[1], before[3], before[4], before[6]}));
}

TEST_F(CommandsTest, StaleSongIdsDoNothing) {
  StartPlugin(3);
  std::string id = Id(1);
  core->Player->DeleteIndex(0);  // another client changed the playlist since it was listed
  std::vector<std::string> before = PlaylistPaths();
  Run({"removetrack=" + id, "moveup=" + id, "playsong=" + id});
  EXPECT_EQ(PlaylistPaths(), before);
  EXPECT_EQ(core->Player->IsPlaying(), 0);
}

TEST_F(CommandsTest, SongIdsMoveAndPlayEntries) {
  StartPlugin(3);
  std::vector<std::string> before = PlaylistPaths();
  Run({"moveup=" + Id(2)});
  EXPECT_EQ(PlaylistPaths(), (std::vector<std::string>{before[0], before[2], before[1]}));
  Run({"movedn=" + Id(0)});
  EXPECT_EQ(PlaylistPaths(), (std::vector<std::string>{before[2], before[0], before[1]}));
  Run({"playtrack=" + Id(2)});
  EXPECT_EQ(Current(), 2);
  EXPECT_EQ(core->Player->IsPlaying(), 1);
}

TEST_F(CommandsTest, EndOfBatchRecordsThePlaybackState) {
  StartPlugin(2);
  Run({"play", "next", "trackpos=50"});
  EXPECT_EQ(core->PlaylistPosition, 1);
  EXPECT_EQ(core->PreviousPlaylistPosition, 1);
  EXPECT_EQ(core->TrackPositionSeconds, 10);
  EXPECT_EQ(core->PlaybackSignature, core->CrcTable.Compute("C:\\Music\\t1.mp310"));
  EXPECT_EQ(core->PreviousPlaybackSignature, core->PlaybackSignature);
}

TEST_F(CommandsTest, SavePlaylistAndSkinSettingsStayInTheirFolders) {
  StartPlugin(2);
  Run({"saveplaylist=party"});
  EXPECT_NE(ReadDrive("Music/party.m3u").find("C:\\Music\\t1.mp3"), std::string::npos);
  for (const char* name : {"..\\party", "C:\\party", "a/b", ""}) {
    Run({std::string("saveplaylist=") + name});
  }
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() / "party.m3u"));
  Modify(core->CurrentSettings, [&](Settings& s) { s.INISection = "colors"; });
  Run({"bg_setini=dark\r\n[Setup]\r\nenablePassword=0"});
  IniFile ini(std::string(kPlugins) + "\\quenforth\\base\\skin.ini");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"colors"}));
  EXPECT_EQ(ini.ReadString("colors", "bg", ""), "dark  [Setup]  enablePassword=0");
  Run({"skin=..\\..", "skin=C:\\x"});
  EXPECT_EQ(core->CurrentSettings.Get()->Skin, "base");
  Run({"skin=BASE"});
  EXPECT_EQ(core->CurrentSettings.Get()->Skin, "base");  // as the skin list spells it
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowSkins = false; });
  EXPECT_EQ(Run({"skin=base"}).ErrorMessage, "Operation not allowed.</br>");
}

TEST_F(CommandsTest, PowerAndLockFollowTheirSwitches) {
  StartPlugin(1);
  platform::emulation::ClearRecords();
  Run({"standby", "reboot", "shutdown", "lock"});
  EXPECT_TRUE(platform::emulation::Records().empty());
  EXPECT_TRUE(core->Player->IsUnlocked());
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowShutdown = true; });
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowLocking = true; });
  platform::emulation::SetEnvironmentVariable("OS", "Windows_NT");
  Run({"standby", "reboot", "shutdown", "lock"});
  EXPECT_FALSE(core->Player->IsUnlocked());
  std::vector<std::string> calls;
  for (const auto& record : platform::emulation::Records()) calls.push_back(record.caption + "(" + record.text + ")");
  EXPECT_EQ(calls,
            (std::vector<std::string>{"AdjustTokenPrivileges(SeShutdownPrivilege,enable)", "SetSystemPowerState(1,0)",
                                      "AdjustTokenPrivileges(SeShutdownPrivilege,disable)",
                                      "AdjustTokenPrivileges(SeShutdownPrivilege,enable)", "ExitWindowsEx(2,0)",
                                      "AdjustTokenPrivileges(SeShutdownPrivilege,disable)",
                                      "AdjustTokenPrivileges(SeShutdownPrivilege,enable)", "ExitWindowsEx(8,0)",
                                      "AdjustTokenPrivileges(SeShutdownPrivilege,disable)"}));
}

TEST_F(CommandsTest, AnAdministratorIsToldWhenASwitchIsOff) {
  StartPlugin(1);
  auto admin = User("root");
  admin->admin = true;
  platform::emulation::ClearRecords();
  EXPECT_EQ(Run({"standby", "reboot", "shutdown", "lock"}, admin.get()).ErrorMessage,
            "Operation not allowed.</br>Operation not allowed.</br>Operation not allowed.</br>"
            "Operation not allowed.</br>");
  EXPECT_EQ(Run({"standby", "reboot", "shutdown", "lock"}).ErrorMessage, "");  // without a user: silent
  EXPECT_TRUE(platform::emulation::Records().empty());
  EXPECT_TRUE(core->Player->IsUnlocked());
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowLocking = true; });
  EXPECT_EQ(Run({"lock"}, admin.get()).ErrorMessage, "");
  EXPECT_FALSE(core->Player->IsUnlocked());
}

TEST_F(CommandsTest, StandbyWithoutThePrivilegeReportsAndStillTries) {
  StartPlugin(1);
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowShutdown = true; });
  platform::emulation::ClearRecords();
  platform::emulation::SetHoldsShutdownPrivilege(false);
  Run({"standby"});
  platform::emulation::SetHoldsShutdownPrivilege(true);
  std::vector<std::string> seen;
  for (const auto& record : platform::emulation::Records())
    seen.push_back(record.kind == platform::emulation::Record::Kind::MessageBox ? record.caption + ": " + record.text
                                                                                : record.caption);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"AdjustTokenPrivileges", "Error: The operation failed with error 0x00000514.",
                                      "SetSystemPowerState", "AdjustTokenPrivileges",
                                      "Error: The operation failed with error 0x00000514."}));
}

TEST_F(CommandsTest, FolderCommands) {
  StartPlugin(1);
  std::filesystem::create_directories(folder_.Path() / "Music/Rock");
  std::filesystem::create_directories(folder_.Path() / "Music2");
  std::filesystem::create_directories(folder_.Path() / "Audio");
  Run({"dir=Rock\\"});
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music\\Rock");
  Run({"dir=Rock/../..", "dir=..\\x"});
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music\\Rock");
  Run({"home"});
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music");
  Run({"dir=.."});  // above the root: back at the root at the end of the batch
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music");
  Run({"dir=C:\\Music2"});  // "c:\music2" contains "c:\music"
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music2");
  Run({"dir=C:\\Audio"});
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music");
  Modify(core->CurrentSettings, [&](Settings& s) { s.AdditionalFolders = TextList{"C:\\Audio"}; });
  Run({"dir=C:\\Audio"});
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Audio");
  Run({"drive=C: (System)"});
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music");
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowBrowseAboveRoot = true; });
  Run({"dir=.."});
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:");
  Run({"dir=Music", "dir=Rock.lnk"});
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music");
}

TEST_F(CommandsTest, SessionFields) {
  StartPlugin(1);
  SessionData session = Run({"query=artist HAS x", "search_ml=abc", "ml_page=2", "search_playlist_string=Rock",
                             "usefile=C:\\Music\\t0.mp3", "search_files_string=t", "search_for_directories=TRUE",
                             "search_for_files=yes", "search_in_subdirs=true", "charset=utf-8"});
  EXPECT_EQ(session.MediaLibraryQuery, "artist HAS x");
  EXPECT_EQ(session.MediaLibrarySearch, "abc");
  EXPECT_EQ(session.MediaLibraryPage, "2");
  EXPECT_EQ(session.PlaylistFilter, "Rock");
  EXPECT_EQ(session.UseFile, "C:\\Music\\t0.mp3");
  EXPECT_TRUE(session.SearchForDirectories);
  EXPECT_FALSE(session.SearchForFiles);
  EXPECT_TRUE(session.SearchInSubdirs);
  EXPECT_EQ(core->CurrentSettings.Get()->Charset, "utf-8");
  Run({"usefile=C:\\Music\\t0.mp3", "rating=4"});
  EXPECT_EQ(Look<int>([](PlayerState& s) { return s.library.Find("C:\\Music\\t0.mp3")->rating; }), 4);
}

TEST_F(CommandsTest, AlbumArtGoesToTheCache) {
  StartPlugin(1);
  EXPECT_EQ(Run({"albumart"}).ErrorMessage, "ID3v2Library.dll not found.</br>");
  std::filesystem::copy_file(QF_ID3V2LIBRARY,
                             folder_.Path() / "Program Files/Winamp/Plugins/quenforth/ID3v2Library.dll");
  std::string cover = ::host::MakePng(8, 8, 3);
  qftest::WriteFile(folder_.Path() / "Music/covered.mp3",
                    ::host::MakeMp3(20, ::host::TrackTags{"Song", "Band", "", "", 1, 0}, cover));
  EXPECT_EQ(Run({"albumart"}).ErrorMessage, "No album art found.</br>");  // the current track has no picture
  std::filesystem::create_directories(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/cache");
  SessionData session = Run({"usefile=C:\\Music\\covered.mp3", "albumart"});
  EXPECT_EQ(session.ErrorMessage, "");
  EXPECT_EQ(session.ServeFile, std::string(kPlugins) + "\\Quenforth\\cache\\covered.mp3.png");
  EXPECT_TRUE(ReadDrive("Program Files/Winamp/Plugins/quenforth/cache/covered.mp3.png") == cover);
  // The command keeps the library it loaded for the pages, which spell its folder otherwise.
  std::shared_ptr<const TID3v2Library> kept = TakeTagLibrary(core->TagLibrary, std::string(kPlugins) + "\\Quenforth");
  ASSERT_TRUE(kept);
  EXPECT_EQ(TakeTagLibrary(core->TagLibrary, core->DataFolder()), kept);
}

class AlbumArtTest : public CommandsTest {
 protected:
  void SetUp() override {
    CommandsTest::SetUp();
    StartPlugin(0);
    std::filesystem::copy_file(QF_ID3V2LIBRARY,
                               folder_.Path() / "Program Files/Winamp/Plugins/quenforth/ID3v2Library.dll");
    std::filesystem::create_directories(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/cache");
  }
  // Makes `bytes` the playlist's only entry, C:\Music\<name>, and the current track.
  void Play(const std::string& name, const std::string& bytes) {
    qftest::WriteFile(folder_.Path() / "Music" / name, bytes);
    core->Player->ClearPlaylist();
    Run({"add=C:\\Music\\" + name, "play"});
  }
  std::string Page(const std::string& text) {
    SessionData session;
    session.SkinName = "base";
    session.TemplatePath = std::string(kPlugins) + "\\quenforth\\base\\page.html";
    return TMyPageProducer(nullptr, *core->Player, *core, session).Produce(text);
  }
  bool Cached(const std::string& name) {
    return std::filesystem::exists(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/cache" / name);
  }
};

TEST_F(AlbumArtTest, AFailureOfTheLibraryIsReportedByTheTag) {
  // "ID3" and then no header the library can read.
  Play("broken.mp3", std::string("ID3\xff\xff\xff\xff\xff\xff\xff", 10) + ::host::MakeMp3(2, std::nullopt, ""));
  EXPECT_EQ(Page("<#AlbumArt default=none.gif>"),
            "<font color=\"ff0000\">AlbumArt: There was an error in ID3v2Library.dll.</font>");
  EXPECT_EQ(Run({"albumart"}).ErrorMessage, "");  // the command ignores it
}

TEST_F(AlbumArtTest, APictureOverSixteenMebibytesIsNoArt) {
  std::string cover = ::host::MakePng(8, 8, 3);
  cover.resize(TID3v2Library::kMaxPicture + 1, '\0');
  Play("huge.mp3", ::host::MakeMp3(2, ::host::TrackTags{"Song", "Band", "", "", 1, 0}, cover));
  EXPECT_EQ(Page("<#AlbumArt default=none.gif>"), "none.gif");
  EXPECT_EQ(Run({"albumart"}).ErrorMessage, "No album art found.</br>");
  EXPECT_FALSE(Cached("huge.mp3.png"));
  cover.resize(1000);
  Play("fits.mp3", ::host::MakeMp3(2, ::host::TrackTags{"Song", "Band", "", "", 1, 0}, cover));
  EXPECT_EQ(Page("<#AlbumArt default=none.gif>"), "fits.mp3.png?cache");
  EXPECT_TRUE(Cached("fits.mp3.png"));
}

TEST_F(AlbumArtTest, AThirdDecodeWaitsForOneOfTwo) {
  std::string cover = ::host::MakePng(8, 8, 3);
  qftest::WriteFile(folder_.Path() / "Music/covered.mp3",
                    ::host::MakeMp3(2, ::host::TrackTags{"Song", "Band", "", "", 1, 0}, cover));
  TID3v2Library library;
  ASSERT_TRUE(library.LoadFrom(core->DataFolder()));
  Slots& decodes = TID3v2Library::PictureDecodes();
  decodes.Enter();
  decodes.Enter();  // two decodes of other requests
  std::atomic<bool> done{false};
  AlbumPicture picture;
  std::thread third([&] {
    picture = library.ReadPicture("C:\\Music\\covered.mp3");
    done = true;
  });
  while (decodes.Waiting() == 0 && !done) std::this_thread::yield();
  EXPECT_FALSE(done);
  decodes.Leave();
  third.join();
  decodes.Leave();
  EXPECT_EQ(picture.type, 2);
  EXPECT_TRUE(picture.bytes == cover);
}

TEST_F(CommandsTest, ThePlaylistSwitchesToggleTheSettingsTheTimerReads) {
  StartPlugin(0);
  Run({"keepplaylistalive", "removeplayed"});
  EXPECT_TRUE(core->CurrentSettings.Get()->KeepPlaylistAlive);
  EXPECT_TRUE(core->CurrentSettings.Get()->RemovePlayed);
  Run({"keepplaylistalive"});
  EXPECT_FALSE(core->CurrentSettings.Get()->KeepPlaylistAlive);
  EXPECT_TRUE(core->CurrentSettings.Get()->RemovePlayed);
}

// ---- What a hostile client must not reach.

TEST_F(CommandsTest, TheDataFoldersFilesAreNeverHandedOut) {
  StartPlugin(1);
  Modify(core->CurrentSettings, [&](Settings& s) {
    s.RootDirectory = "C:\\Program Files\\Winamp";
  });  // the default root holds the data folder
  const std::string data = "Program Files/Winamp/Plugins/quenforth/";
  for (const char* file : {"user.ini", "logfile.txt", "base/skin.ini"})
    qftest::WriteFile(folder_.Path() / (data + file), "canary");
  qftest::WriteFile(folder_.Path() / "Program Files/Winamp/song.mp3", "x");
  // The spellings are the path rules' (core tests); here, that both commands apply them.
  const char* downloads[] = {
      "C:\\Program Files\\Winamp\\Plugins\\quenforth\\user.ini",
      "c:\\program files\\winamp\\plugins\\QUENFORTH\\base\\skin.ini",
      "C:\\Program Files\\Winamp\\Plugins\\quenforth.\\logfile.txt",
  };
  for (bool outside : {false, true}) {
    Modify(core->CurrentSettings, [&](Settings& s) {
      s.allowSrcOutside = outside;
    });  // files outside the allowed folders may be served, never these
    for (const char* path : downloads) {
      std::string served = Run({std::string("download=") + path}).ServeFile;
      EXPECT_TRUE(served == "forbidden" || (!outside && served.empty())) << path << " gave " << served;
    }
  }
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowSrcOutside = false; });
  EXPECT_EQ(Run({"download=C:\\Program Files\\Winamp\\song.mp3"}).ServeFile, "C:\\Program Files\\Winamp\\song.mp3");

  auto src = [&](const std::string& document, const std::string& folder) {
    SessionData session;
    session.Document = session.UnparsedDocument = document;
    RunCommands(*core, TextList{"src=" + folder}, nullptr, session);
    return session.ServeFile;
  };
  EXPECT_EQ(src("/user.ini", "C:\\Program Files\\Winamp\\Plugins\\quenforth"), "forbidden");
  EXPECT_EQ(src("/user.ini", "C:\\Program Files\\Winamp\\Plugins\\Quenforth\\"), "forbidden");
  EXPECT_EQ(src("/skin.ini", "C:\\Program Files\\Winamp\\Plugins\\quenforth\\base"), "forbidden");
  EXPECT_EQ(src("/song.mp3", "C:\\Program Files\\Winamp"), "C:\\Program Files\\Winamp\\song.mp3");
  // A value with ".." is ignored, as every file command ignores it: the page is answered.
  EXPECT_EQ(src("/user.ini", ".."), "");
  EXPECT_EQ(src("/user.ini", "C:\\Program Files\\Winamp\\x\\..\\Plugins\\quenforth"), "");
}

TEST_F(CommandsTest, TheCurrentFolderIsCheckedWhenACommandUsesIt) {
  StartPlugin(1);
  std::string extra = AddTrack("extra", 30);
  qftest::WriteFile(folder_.Path() / "Other/a.mp3", "x");
  Modify(core->CurrentSettings, [&](Settings& s) { s.useFullPath = false; });
  std::size_t before = PlaylistPaths().size();
  Run({"dir=C:\\Other", "saveplaylist=Favourites", "add=a.mp3", "insert=a.mp3", "file=a.mp3"});
  Run({"dir=..", "saveplaylist=Favourites"});  // C: itself
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() / "Other/Favourites.m3u"));
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() / "Favourites.m3u"));
  EXPECT_EQ(PlaylistPaths().size(), before);
  EXPECT_EQ(core->CurrentSettings.Get()->CurrentDirectory, "C:\\Music");
  Run({"add=extra.mp3", "saveplaylist=Favourites"});  // inside the root both work
  EXPECT_EQ(PlaylistPaths().back(), extra);
  EXPECT_TRUE(std::filesystem::exists(folder_.Path() / "Music/Favourites.m3u"));
  // Browsing above the root lets a client list and add there, never write there.
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowBrowseAboveRoot = true; });
  Run({"dir=C:\\Other", "add=a.mp3", "saveplaylist=Favourites"});
  EXPECT_EQ(PlaylistPaths().back(), "C:\\Other\\a.mp3");
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() / "Other/Favourites.m3u"));
}

TEST_F(CommandsTest, SavePlaylistRefusesNamesWindowsReadsAsSomethingElse) {
  StartPlugin(1);
  // The names are the path rules' (core tests); here, that the command applies them.
  const char* names[] = {"CON", "NUL.txt", "COM1", "x.", "x ", ".", "a\r\nb", "a:b", ""};
  for (const char* name : names) Run({std::string("saveplaylist=") + name});
  std::vector<std::string> created;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.Path() / "Music"))
    if (entry.path().extension() != ".mp3") created.push_back(entry.path().filename().string());
  EXPECT_EQ(created, std::vector<std::string>{});
  Run({"saveplaylist=My List"});
  EXPECT_TRUE(std::filesystem::exists(folder_.Path() / "Music/My List.m3u"));
}

TEST_F(CommandsTest, PathsWithControlCharactersAreNotAdded) {
  StartPlugin(1);
  std::vector<std::string> before = PlaylistPaths();
  for (const char* command : {"add", "insert", "file"})
    for (const char* tail : {"\r\nanything", "\n", "\t", "\x7f"})
      Run({std::string(command) + "=C:\\Music\\t0.mp3" + tail});
  Run({"add=#EXTINF:1,Forged title"});  // read back as the next entry's title
  EXPECT_EQ(PlaylistPaths(), before);
}

TEST_F(CommandsTest, DevicesAreNeverHandedToThePlayer) {
  StartPlugin(1);
  std::vector<std::string> before = PlaylistPaths();
  for (const char* command : {"add", "insert", "file"})
    for (const char* device : {"AUX.mp3", "C:\\Music\\CON", "COM1", "lpt1.ogg", "\\\\.\\C:\\Music\\t0.mp3"})
      Run({std::string(command) + "=" + device});
  EXPECT_EQ(PlaylistPaths(), before);
  SessionData session;
  RunCommands(*core, {"usefile=NUL.mp3"}, nullptr, session);
  EXPECT_EQ(session.UseFile, "");
}

TEST_F(CommandsTest, CharsetTakesOnlyACharacterSetName) {
  StartPlugin(1);
  for (const char* name : {"utf-8", "ISO-8859-15", "x_mac.roman", "ibm:437", "Windows-1252"}) {
    Run({std::string("charset=") + name});
    EXPECT_EQ(core->CurrentSettings.Get()->Charset, name);
  }
  Modify(core->CurrentSettings, [&](Settings& s) { s.Charset = "utf-8"; });
  const char* refused[] = {"\"><script>alert(1)</script>",
                           "",
                           "utf 8",
                           "utf-8\"",
                           "utf-8;",
                           "a&b",
                           "<b>",
                           "\xe9",
                           "0123456789012345678901234567890123456789x"};
  for (const char* name : refused) {
    Run({std::string("charset=") + name});
    EXPECT_EQ(core->CurrentSettings.Get()->Charset, "utf-8") << name;
  }
  auto user = User("erin");
  Run({"charset=\"><script>"}, user.get());
  Run({"charset=koi8-r"}, user.get());
  EXPECT_EQ(user->Charset.Get(), "koi8-r");
}

TEST_F(CommandsTest, SkinTakesOnlyASkinOfTheList) {
  StartPlugin(1);
  const std::string data = "Program Files/Winamp/Plugins/quenforth/";
  qftest::WriteFile(folder_.Path() / (data + "night/index.html"), "n");
  qftest::WriteFile(folder_.Path() / (data + "base2/style.css"), "no index.html");
  qftest::WriteFile(folder_.Path() / (data + "help/index.html"), "h");
  for (const char* name : {"", ".", "..", "base.", "base ", "CON", "nosuch", "base2", "help", "..\\base", "night\\"}) {
    Run({std::string("skin=") + name});
    EXPECT_EQ(core->CurrentSettings.Get()->Skin, "base") << name;
  }
  Run({"skin=NIGHT"});
  EXPECT_EQ(core->CurrentSettings.Get()->Skin, "night");
  auto user = User("fay");
  Run({"skin=nosuch"}, user.get());
  EXPECT_EQ(user->Skin.Get(), "base");
  Run({"skin=Night"}, user.get());
  EXPECT_EQ(user->Skin.Get(), "night");
}

TEST_F(CommandsTest, ARefusedSkinChangeStillListsTheSkins) {
  StartPlugin(1);
  qftest::WriteFile(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/night/index.html", "n");
  Modify(core->CurrentSettings, [&](Settings& s) { s.allowSkins = false; });
  Modify(core->CurrentSettings, [&](Settings& s) { s.Skin = ""; });
  EXPECT_EQ(Run({"skin=night"}).ErrorMessage, "Operation not allowed.</br>");
  EXPECT_EQ(core->CurrentSettings.Get()->Skin, "base");
  EXPECT_EQ(core->SkinNames.Get()->Items(), (TextList{"base", "night"}));
  auto user = User("gus");
  user->ChangeSkin = false;
  Modify(core->CurrentSettings, [&](Settings& s) { s.Skin = ""; });
  EXPECT_EQ(Run({"skin=night"}, user.get()).ErrorMessage, "Operation not allowed.</br>");
  EXPECT_EQ(core->CurrentSettings.Get()->Skin, "base");
  EXPECT_EQ(user->Skin.Get(), "base");
}

TEST_F(CommandsTest, SkinSettingsAreBounded) {
  StartPlugin(1);
  const std::string file = std::string(kPlugins) + "\\quenforth\\base\\skin.ini";
  Modify(core->CurrentSettings, [&](Settings& s) { s.INISection = "s"; });
  Run({"a_setini=" + std::string(2047, 'a'), "b_setini=" + std::string(2048, 'b')});
  EXPECT_EQ(IniFile(file).ReadString("s", "a", "none").size(), 2047u);
  EXPECT_EQ(IniFile(file).ReadString("s", "b", "none"), "none");
  // Keys that would not read back as themselves, and sections that would break their header.
  Run({"x=y_setini=1", "[z_setini=1", ";c_setini=1", " _setini=1", "k\r\n[Setup]_setini=1"});
  EXPECT_EQ(IniFile(file).ReadSection("s"), (std::vector<std::string>{"a"}));
  Run({"inisection=a]\r\n[b", "d_setini=1"});
  EXPECT_EQ(IniFile(file).ReadSections(), (std::vector<std::string>{"s"}));
  // One request's keys go in together, and not at all when the file would grow past 256 KiB.
  TextList many{"inisection=t"};
  for (int i = 0; i < 100; ++i) many.push_back("k" + std::to_string(i) + "_setini=" + std::to_string(i));
  SessionData session;
  RunCommands(*core, many, nullptr, session);
  EXPECT_EQ(IniFile(file).ReadSection("t").size(), 100u);
  TextList huge{"inisection=u"};
  for (int i = 0; i < 150; ++i) huge.push_back("h" + std::to_string(i) + "_setini=" + std::string(2000, 'h'));
  RunCommands(*core, huge, nullptr, session);
  EXPECT_FALSE(IniFile(file).SectionExists("u"));
  EXPECT_LT(std::filesystem::file_size(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/base/skin.ini"),
            256u * 1024);
}

// What the configuration window would ask of the main form: nothing happens.
class IdleFormHost : public ConfigFormHost {
 public:
  std::optional<std::string> StartServer(int, bool) override { return "no server here"; }
  void StopServer() override {}
  int ListeningPort() override { return 0; }
  std::vector<std::string> LocalAddresses() override { return {}; }
  void RefreshCache() override {}
  void SaveSettings() override {}
  void ShowUserWindow(TUserForm&) override {}
};

// The configuration window on a thread of its own, as the player's thread owns it.
class ConfigWindowThread {
 public:
  ConfigWindowThread() {
    std::promise<TConfigWindow*> created;
    auto window = created.get_future();
    thread_ = std::thread([&created, this] {
      TConfigWindow model(nullptr);
      threadId_ = platform::GetCurrentThreadId();
      created.set_value(&model);
      platform::MSG msg;
      while (platform::GetMessageA(&msg, nullptr, 0, 0) > 0) platform::DispatchMessageA(&msg);
    });
    window_ = window.get();
  }
  ~ConfigWindowThread() {
    platform::PostThreadMessageA(threadId_, platform::WM_QUIT, 0, 0);
    thread_.join();
  }
  TConfigWindow* Window() { return window_; }

 private:
  std::thread thread_;
  std::atomic<platform::DWORD> threadId_{0};
  TConfigWindow* window_ = nullptr;
};

TEST_F(CommandsTest, TheConfigurationWindowIsChangedOnItsOwnThread) {
  StartPlugin(1);
  ConfigWindowThread owner;
  core->ConfigWindow = owner.Window();
  core->SettingsChanged = [&owner](const SettingsChange& change) { owner.Window()->SettingsChanged(change); };
  qftest::WriteFile(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/night/index.html", "n");
  IdleFormHost host;
  owner.Window()->Send([&](TConfigWindow& window) { window.Form = std::make_unique<TConfigForm>(*core, host); });
  Run({"removeplayed", "skin=NIGHT"});
  bool removePlayed = false, keepAlive = true;
  std::vector<std::string> skins;
  std::string selected;
  platform::DWORD ranOn = 0;
  // Send runs after what was posted before it: by then the window has taken every change.
  owner.Window()->Send([&](TConfigWindow& window) {
    removePlayed = window.Form->RemovePlayed.checked;
    keepAlive = window.Form->KeepPlaylistAlive.checked;
    skins = window.Form->Skins.items;
    if (window.Form->Skins.selected >= 0) selected = skins[static_cast<std::size_t>(window.Form->Skins.selected)];
    ranOn = platform::GetCurrentThreadId();
    window.Form.reset();
  });
  core->ConfigWindow = nullptr;
  core->SettingsChanged = nullptr;
  EXPECT_TRUE(removePlayed);
  EXPECT_FALSE(keepAlive);
  std::sort(skins.begin(), skins.end());
  EXPECT_EQ(skins, (std::vector<std::string>{"base", "night"}));
  EXPECT_EQ(selected, "night");
  EXPECT_NE(ranOn, platform::GetCurrentThreadId());
}

}  // namespace
}  // namespace qf
