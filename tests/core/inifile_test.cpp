#include "core/inifile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "platform/files.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace qf {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::emulation::MapDrive('C', folder_.Path().string()); }
  void Write(const std::string& name, const std::string& text) { qftest::WriteFile(folder_.Path() / name, text); }
  std::string Read(const std::string& name) { return qftest::ReadFile(folder_.Path() / name); }
  qftest::TempFolder folder_;
};

TEST_F(IniFileTest, ReadsSectionsAndKeysWithoutRegardToCase) {
  IniFile ini("C:\\x.ini", "[Setup]\r\nServerPort = 8080 \r\nSkin=base\r\n\r\n[Logfile]\r\nenable=1\r\n");
  EXPECT_EQ(ini.ReadInteger("setup", "serverport", 80), 8080);
  EXPECT_EQ(ini.ReadString("SETUP", "skin", ""), "base");
  EXPECT_TRUE(ini.ReadBool("logfile", "ENABLE", false));
  EXPECT_EQ(ini.ReadString("Setup", "missing", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("Nosection", "Skin", "x"), "x");
  EXPECT_TRUE(ini.SectionExists("LOGFILE"));
  EXPECT_TRUE(ini.ValueExists("setup", "SKIN"));
}

TEST_F(IniFileTest, PlainValuesAndBooleans) {
  IniFile ini("C:\\x.ini",
              "[s]\nq=\"quoted\"\nspaces=  a b  \nb2=2\nbno=no\nempty=\n=novalue\nnoequals\n; k=comment\n");
  EXPECT_EQ(ini.ReadString("s", "q", ""), "\"quoted\"");  // no quote rules: key=value yields value
  EXPECT_EQ(ini.ReadString("s", "spaces", ""), "a b");
  EXPECT_TRUE(ini.ReadBool("s", "b2", false));  // any non-zero number is true
  EXPECT_TRUE(ini.ReadBool("s", "bno", true));  // not a number: the default
  EXPECT_FALSE(ini.ReadBool("s", "bno", false));
  EXPECT_EQ(ini.ReadString("s", "empty", "d"), "");  // present but empty
  EXPECT_EQ(ini.ReadInteger("s", "empty", 7), 7);
  EXPECT_FALSE(ini.ValueExists("s", "; k"));
  EXPECT_EQ(ini.ReadSection("s"), (std::vector<std::string>{"q", "spaces", "b2", "bno", "empty"}));
}

TEST_F(IniFileTest, FirstSectionAndKeyWin) {
  IniFile ini("C:\\x.ini", "[a]\nk=1\nk=2\n[A]\nk=3\nother=4\n");
  EXPECT_EQ(ini.ReadString("a", "k", ""), "1");
  EXPECT_EQ(ini.ReadString("a", "other", "none"), "none");
}

TEST_F(IniFileTest, RewriteKeepsUnknownLinesInPlace) {
  Write("q.ini",
        "; written by hand\r\n[Setup]\r\nServerPort=80\r\nMyOwnKey=keep me\r\n\r\n[Custom]\r\n# note\r\nx=1\r\n");
  IniFile ini("C:\\q.ini");
  ini.WriteInteger("Setup", "ServerPort", 8080);
  ini.WriteBool("Setup", "bindLocal", true);
  ini.WriteString("Files", "enableLink", "1");
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(Read("q.ini"),
            "; written by hand\r\n[Setup]\r\nServerPort=8080\r\nMyOwnKey=keep me\r\nbindLocal=1\r\n\r\n"
            "[Custom]\r\n# note\r\nx=1\r\n\r\n[Files]\r\nenableLink=1\r\n");
}

TEST_F(IniFileTest, ValuesNeverStartANewLine) {
  IniFile ini("C:\\x.ini", "");
  ini.WriteString("skin", "color", "red\r\n[Setup]\r\nenablePassword=0");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"skin"}));
  EXPECT_EQ(ini.ReadString("skin", "color", ""), "red  [Setup]  enablePassword=0");
}

// A value read with a CR inside would read back otherwise once written (the writer makes it a blank): a CR
// alone ends the line, as editors show it.
TEST_F(IniFileTest, ACarriageReturnAloneEndsALine) {
  IniFile ini("C:\\x.ini", "[IPAddressManagement]\r0=10.0.0.1\r1=10.0.0.0 - 10.255.2\r5.255\r\n2=x\r\r\n");
  EXPECT_EQ(ini.ReadString("IPAddressManagement", "0", ""), "10.0.0.1");
  EXPECT_EQ(ini.ReadString("IPAddressManagement", "1", ""), "10.0.0.0 - 10.255.2");
  EXPECT_EQ(ini.ReadString("IPAddressManagement", "2", ""), "x");
  EXPECT_EQ(ini.Text(), "[IPAddressManagement]\r\n0=10.0.0.1\r\n1=10.0.0.0 - 10.255.2\r\n5.255\r\n2=x\r\n\r\n");
  ini.WriteString("IPAddressManagement", "1", ini.ReadString("IPAddressManagement", "1", ""));
  EXPECT_EQ(IniFile("C:\\x.ini", ini.Text()).ReadString("IPAddressManagement", "1", ""), "10.0.0.0 - 10.255.2");
}

TEST_F(IniFileTest, DeletesKeysAndSections) {
  IniFile ini("C:\\x.ini", "[a]\nk=1\nj=2\n[b]\nk=3\n");
  ini.DeleteKey("A", "K");
  ini.EraseSection("B");
  EXPECT_EQ(ini.Text(), "[a]\r\nj=2\r\n");
}

TEST_F(IniFileTest, MissingFileReadsEmptyAndIsCreatedOnWrite) {
  IniFile ini("C:\\sub\\..\\new.ini");
  EXPECT_EQ(ini.ReadInteger("Setup", "ServerPort", 80), 80);
  ini.WriteInteger("Setup", "ServerPort", 81);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(Read("new.ini"), "[Setup]\r\nServerPort=81\r\n");
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileWhole) {
  Write("keep.ini", "[Setup]\r\nServerPort=80\r\n");
  IniFile ini("C:\\keep.ini");
  ini.WriteString("Setup", "RootDirectory", std::string(200, 'x'));
  // A file-size limit stands for a full disk: the replacement cannot be written whole.
  auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous;
  ::getrlimit(RLIMIT_FSIZE, &previous);
  rlimit tiny = previous;
  tiny.rlim_cur = 64;
  ::setrlimit(RLIMIT_FSIZE, &tiny);
  bool written = ini.UpdateFile();
  ::setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(Read("keep.ini"), "[Setup]\r\nServerPort=80\r\n");
  EXPECT_EQ(platform::FindFiles("C:\\*.tmp").size(), 0u);
}

TEST_F(IniFileTest, WriteLeavesNoScratchFilesBehind) {
  IniFile ini("C:\\a.ini", "[s]\nk=v\n");
  ASSERT_TRUE(ini.UpdateFile());
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(platform::FindFiles("C:\\*.*").size(), 1u);
}

}  // namespace
}  // namespace qf
