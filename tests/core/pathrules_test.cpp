// Rules for Windows paths and names from requests and templates: normalising, containment, the forms
// Windows reads as something else, and the names a client may give to a file it creates.

#include "core/pathrules.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(PathRules, NormalisesDotsAndDotDots) {
  EXPECT_EQ(NormalizePath("C:\\a\\b\\..\\c\\.\\d"), "C:\\a\\c\\d");
  EXPECT_EQ(NormalizePath("C:\\skin\\..\\..\\..\\secret.txt"), "C:\\secret.txt");
  EXPECT_EQ(NormalizePath("C:\\a\\\\b/c"), "C:\\a\\b\\c");
  EXPECT_EQ(NormalizePath("C:\\.."), "C:\\");
  EXPECT_EQ(NormalizePath("C:a\\..\\b\\..\\.."), "C:\\");
  EXPECT_EQ(NormalizePath("C:\\long name\\x\\..\\..\\..\\long name\\y.css"), "C:\\long name\\y.css");
}

TEST(PathRules, ContainmentEndsAtASeparator) {
  EXPECT_TRUE(IsInsideFolder("C:\\q\\base\\index.html", "C:\\q\\base"));
  EXPECT_TRUE(IsInsideFolder("c:\\Q\\BASE\\x", "C:\\q\\base"));
  EXPECT_FALSE(IsInsideFolder("C:\\q\\baseline\\x", "C:\\q\\base"));
  EXPECT_FALSE(IsInsideFolder("C:\\q\\base", "C:\\q\\base"));
  EXPECT_FALSE(IsInsideFolder("C:\\q\\user.ini", "C:\\q\\base"));
  EXPECT_TRUE(IsInsideFolder("C:\\q\\user.ini", "C:\\q\\"));
}

TEST(PathRules, RefusesNamesWindowsResolvesElsewhere) {
  const char* refused[] = {
      "C:\\q\\base\\index.html::$DATA",
      "C:\\q\\base\\index.html.",
      "C:\\q\\base\\index.html ",
      "C:\\q\\base\\CON",
      "C:\\q\\base\\nul.txt",
      "C:\\q\\base\\com1.html",
      "C:\\q\\base\\LPT9",
      "C:\\q\\conout$\\x",
      "\\\\?\\C:\\q\\base\\a",
      "\\\\.\\C:\\q\\base\\a",
      "C:\\q\\..\\x",
      "C:\\q\\aux .html",
  };
  for (const char* path : refused) EXPECT_TRUE(IsRefusedPath(path)) << path;
  const char* accepted[] = {"C:\\q\\base\\index.html", "C:\\q\\base\\console.css", "C:\\q\\base\\com10.html",
                            "C:\\q\\base\\.hidden", "C:\\Program Files\\Winamp\\a b.mp3"};
  for (const char* path : accepted) EXPECT_FALSE(IsRefusedPath(path)) << path;
}

TEST(PathRules, DevicesAreToldFromFiles) {
  for (const char* device : {"AUX", "aux.mp3", "C:\\Music\\CON", "D:\\x\\com1.txt\\y", "LPT9", "NUL ", "conin$",
                             "\\\\.\\C:\\x.mp3", "\\\\?\\C:\\x.mp3", "//./pipe/x"})
    EXPECT_TRUE(NamesDevice(device)) << device;
  for (const char* file : {"C:\\Music\\aux1.mp3", "C:\\CONCERT\\x.mp3", "COM10", "C:\\Music\\NULL.ogg",
                           "\\\\server\\share\\x.mp3", "C:\\Music\\con-fused.mp3", ""})
    EXPECT_FALSE(NamesDevice(file)) << file;
}

TEST(PathRules, FullPaths) {
  for (const char* path : {"C:\\", "C:\\a", "c:/a", "\\\\server\\share\\a"}) EXPECT_TRUE(IsFullPath(path)) << path;
  for (const char* path : {"", "C:", "C:a\\b", "\\a\\b", "a\\b", "\\\\\\x"}) EXPECT_FALSE(IsFullPath(path)) << path;
}

// The data folder of the default installation, which the default root folder holds.
constexpr char kData[] = "C:\\Program Files\\Winamp\\Plugins\\quenforth";

TEST(PathRules, PathsThatMayReachAFolder) {
  const char* reaching[] = {
      "C:\\Program Files\\Winamp\\Plugins\\quenforth",
      "C:\\Program Files\\Winamp\\Plugins\\quenforth\\",
      "C:\\Program Files\\Winamp\\Plugins\\quenforth\\user.ini",
      "c:\\program files\\winamp\\plugins\\QUENFORTH\\User.INI",
      "C:/Program Files/Winamp/Plugins/quenforth/user.ini",
      "C:\\Program Files\\Winamp\\Plugins\\\\quenforth\\\\user.ini",
      "C:\\Program Files\\Winamp\\.\\Plugins\\.\\quenforth\\user.ini",
      "C:\\Program Files\\Winamp\\Plugins\\x\\..\\quenforth\\user.ini",
      "C:\\Program Files\\Winamp\\Plugins\\quenforth\\base\\skin.ini",
      "C:\\Program Files\\Winamp\\Plugins\\quenforth.\\user.ini",        // Windows drops the dot
      "C:\\Program Files\\Winamp\\Plugins\\quenforth \\user.ini",        // and the blank
      "C:\\Program Files\\Winamp\\Plugins\\quenforth\\user.ini::$DATA",  // a stream of the file
      "\\\\?\\C:\\Program Files\\Winamp\\Plugins\\quenforth\\user.ini",
      "Plugins\\quenforth\\user.ini",  // relative to a current folder nobody knows
      "C:Plugins\\quenforth\\user.ini",
      "\\Program Files\\Winamp\\Plugins\\quenforth\\user.ini",
      "\\\\localhost\\C$\\Program Files\\Winamp\\Plugins\\quenforth\\user.ini",  // the same folder, shared
      "S:\\Plugins\\Quenforth\\user.ini",                                        // or through another drive letter
  };
  for (const char* path : reaching) EXPECT_TRUE(MayReachFolder(path, kData)) << path;
  const char* elsewhere[] = {
      "C:\\Program Files\\Winamp\\Plugins\\quenforth2\\a.mp3",
      "C:\\Program Files\\Winamp\\Plugins\\quen.mp3",
      "C:\\Program Files\\Winamp\\song.mp3",
      "C:\\Program Files\\Winamp\\Plugins\\quenforth\\..\\a.mp3",  // normalised, it is outside
      "D:\\Music\\a.mp3",
      "\\\\nas\\music\\quenforth\\a.mp3",
      "D:\\Plugins\\x\\quenforth\\a.mp3",
  };
  for (const char* path : elsewhere) EXPECT_FALSE(MayReachFolder(path, kData)) << path;
}

TEST(PathRules, PathsThatStayInsideAFolder) {
  const char* skin = "C:\\q\\base\\";
  for (const char* path : {"C:\\q\\base\\index.html", "C:\\q\\base\\parts\\..\\head.html", "c:/Q/BASE/x"})
    EXPECT_TRUE(StaysInsideFolder(path, skin)) << path;
  const char* outside[] = {
      "C:\\q\\base\\..\\user.ini",
      "C:\\q\\base\\..\\..\\..\\..\\..\\x",
      "C:\\q\\base\\a\\..\\..\\user.ini",
      "C:\\q\\base",
      "C:\\q\\baseline\\x",
      "C:\\q\\base\\x.html.",
      "C:\\q\\base\\CON",
      "C:\\q\\base\\x::$DATA",
      "C:\\q\\base\\C:\\x",
      "base\\x",
  };
  for (const char* path : outside) EXPECT_FALSE(StaysInsideFolder(path, skin)) << path;
}

TEST(PathRules, NamesAClientMayGiveAFileItCreates) {
  for (const char* name : {"party", "My List", "a.b", "com10", "console", "CONx", "Favourites 2"})
    EXPECT_TRUE(IsSafeFileName(name)) << name;
  const char* refused[] = {
      "",     ".",        "..",     "CON",     "con",     "Con.m3u", "NUL", "PRN.txt", "AUX", "COM1", "com9.x",
      "LPT1", "lpt9.a.b", "CONIN$", "conout$", "COM\xb9", "LPT\xb2", "x.",  "x ",      "x. ", "a\rb", "a\nb",
      "a\tb", "a\x7f",    "a:b",    "a\\b",    "a/b",     "a*b",     "a?b", "a<b",     "a>b", "a|b",  "a\"b",
  };
  for (const char* name : refused) EXPECT_FALSE(IsSafeFileName(name)) << name;
  EXPECT_FALSE(IsSafeFileName(std::string_view("a\0b", 3)));
  EXPECT_TRUE(HasControlCharacter("C:\\a.mp3\r\nanything"));
  EXPECT_FALSE(HasControlCharacter("C:\\a b\xe9.mp3"));
}

}  // namespace

TEST(PathRules, NormalisingKeepsANetworkShare) {
  // A plug-in folder on a share: the skin folder must still be found in the normalised path.
  EXPECT_EQ(NormalizePath("\\\\nas\\music\\Winamp\\Plugins\\quenforth\\base\\.\\x.html"),
            "\\\\nas\\music\\Winamp\\Plugins\\quenforth\\base\\x.html");
  EXPECT_EQ(NormalizePath("//nas/music/a/../b"), "\\\\nas\\music\\b");
  EXPECT_EQ(NormalizePath("\\\\nas\\music\\..\\..\\x"), "\\\\nas\\music\\x");  // never above the share
}

}  // namespace qf
