// Skins: finding them, the skinlist tag and its item tags, and inifile.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/quenforth.h"
#include "core/session.h"
#include "pageproducer/producer.h"
#include "platform/posix/emulation.h"
#include "player/player.h"
#include "plugin_fixture.h"
#include "quenforth_process.h"
#include "settings/skins.h"

namespace qf {
namespace {

class SkinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core_.Player = &player_;
    platform::emulation::MapDrive('C', folder_.Path().string());
    core_.PluginFolder.Set("C:\\Plugins");
    session_.SkinName = "base";
    session_.TemplatePath = "C:\\Plugins\\quenforth\\base\\index.html";
    Write("base/index.html", "index");
    Write("Help/index.html", "help pages");
    Write("old/readme.txt", "no index");
    Write("quenforth.ini", "[Setup]");
    Write("base/item.html", "[<#skin_name>|<#skin_enc_name>]");
  }
  void Write(const std::string& name, const std::string& text) {
    qftest::WriteFile(folder_.Path() / "Plugins/quenforth" / name, text);
  }
  // Produces with a player that is not there: the plug-in folder is taken from the core object only.
  std::string Produce(const std::string& text) {
    return TMyPageProducer(nullptr, *core_.Player, core_, session_).Produce(text);
  }
  std::vector<std::string> SkinNames() { return core_.SkinNames.Get()->Items(); }

  qftest::TempFolder folder_;
  TPlayer player_;  // no player window: every read gives 0 or ""
  TQuenforth core_;
  SessionData session_;
};

TEST_F(SkinsTest, FindsFoldersWithAnIndexButNeverHelp) {
  std::optional<std::vector<std::string>> skins = FindSkins("C:\\Plugins\\quenforth");
  ASSERT_TRUE(skins);
  EXPECT_EQ(*skins, (std::vector<std::string>{"base"}));
  EXPECT_FALSE(FindSkins("C:\\Nowhere"));
}

TEST_F(SkinsTest, TheGlobalSkinTakesTheFoldersSpelling) {
  Write("Zebra/index.html", "z");
  Write("alpha/index.html", "a");
  Modify(core_.CurrentSettings, [&](Settings& s) { s.Skin = "BASE"; });
  RefreshSkins(core_);
  EXPECT_EQ(core_.CurrentSettings.Get()->Skin, "base");
  EXPECT_EQ(SkinNames(), (std::vector<std::string>{"alpha", "base", "Zebra"}));
  Modify(core_.CurrentSettings, [&](Settings& s) { s.Skin = "gone"; });
  RefreshSkins(core_);
  EXPECT_EQ(core_.CurrentSettings.Get()->Skin, "");
  RefreshSkins(core_);  // the next listing starts again from "base"
  EXPECT_EQ(core_.CurrentSettings.Get()->Skin, "base");
}

TEST_F(SkinsTest, RefreshTellsWhoeverIsWiredTheSkinsAndTheSelectedOne) {
  Write("Night/index.html", "n");
  std::vector<SettingsChange> told;
  core_.SettingsChanged = [&](const SettingsChange& change) { told.push_back(change); };
  Modify(core_.CurrentSettings, [&](Settings& s) { s.Skin = "NIGHT"; });
  RefreshSkins(core_);
  ASSERT_EQ(told.size(), 1u);
  ASSERT_TRUE(told[0].skins);
  std::vector<std::string> names = told[0].skins->names;
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Night", "base"}));
  EXPECT_EQ(told[0].skins->selectedName, "Night");
  EXPECT_EQ(told[0].skins->names.at(static_cast<std::size_t>(told[0].skins->selected)), "Night");
  core_.SettingsChanged = nullptr;
  RefreshSkins(core_);  // nobody wired: nothing to tell
  EXPECT_EQ(told.size(), 1u);
}

TEST_F(SkinsTest, SkinListProducesOneItemPerSkin) {
  Write("my skin/index.html", "m");
  Modify(core_.CurrentSettings, [&](Settings& s) { s.Skin = "base"; });
  EXPECT_EQ(Produce("<#skinlist template=item.html>"), "[base|base][my skin|my+skin]");
  EXPECT_EQ(Produce("<#skinlist template=item.html separator=%2C>"), "[base|base],[my skin|my+skin]");
  EXPECT_EQ(Produce("<#skinlist>"), "<font color=\"ff0000\">skinlist: template not specified</font>");
  EXPECT_EQ(Produce("<#skinlist template=x.html>"),
            "<font color=\"ff0000\">skinlist: template '<i>C:\\Plugins\\quenforth\\base\\x.html'</i> not found</font>");
}

// inifile asks the player for its plug-in folder: these run with the stand-in player.
class IniFileTest : public qftest::PluginTest {
 protected:
  std::string Produce(const std::string& text) {
    SessionData session;
    session.SkinName = "base";
    session.TemplatePath = std::string(kPlugins) + "\\quenforth\\base\\index.html";
    return TMyPageProducer(nullptr, *core->Player, *core, session).Produce(text);
  }
};

TEST_F(IniFileTest, ReadsTheSkinsSettings) {
  StartPlugin(0);
  EXPECT_EQ(Produce("<#inifile Section=colors Key=bg default=white>"), "white");  // no skin.ini yet
  EXPECT_EQ(Produce("<#inifile Key=bg>"), "<font color=\"ff0000\">inifile: Section not specified</font>");
  EXPECT_EQ(Produce("<#inifile Section=colors>"), "<font color=\"ff0000\">inifile: Key not specified</font>");
  qftest::WriteFile(folder_.Path() / "Program Files/Winamp/Plugins/quenforth/base/skin.ini",
                    "[My Section]\r\nbg = dark blue \r\ntpl=<#inifile Section=\"My Section\" Key=bg>!\r\n");
  EXPECT_EQ(Produce("<#inifile section=\"My Section\" KEY=BG>"), "dark blue");
  EXPECT_EQ(Produce("<#inifile Section=\"My Section\" Key=bg maxlength=4 urlencoded=1>"), "dark");
  EXPECT_EQ(Produce("<#inifile Section=\"My Section\" Key=tpl>"), "<#inifile Section=\"My Section\" Key=bg>!");
  EXPECT_EQ(Produce("<#inifile Section=\"My Section\" Key=tpl parse=1>"), "dark blue!");
  EXPECT_EQ(Produce("<#inifile Section=\"My Section\" Key=missing default=x+y>"), "x y");
}

}  // namespace
}  // namespace qf
