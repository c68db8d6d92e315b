// ExtensionMatcher: one pass over a folder's names matches exactly what "*." + E enumerations match.

#include "browse/extensionmatcher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/files.h"

namespace qf {
namespace {

TEST(ExtensionMatcher, MatchesWhatEachWildcardPatternMatches) {
  const TextList extensions = {"",       ".lnk", "mp3", "mp3.lnk", "M4A", "ogg", "it",
                               "tar.gz", "m?3",  "*",   "ogg.",    "a*z", "wav"};
  const std::vector<std::string> names = {"song.mp3",
                                          "SONG.MP3",
                                          "song.Mp3.lnk",
                                          "song.mp3.LNK",
                                          "song.mp3x",
                                          "song.xmp3",
                                          "mp3",
                                          ".mp3",
                                          "README",
                                          "README.",
                                          "a.lnk",
                                          "a..lnk",
                                          "x.m4a",
                                          "x.M4A",
                                          "tune.it",
                                          "tune.IT.",
                                          "kit",
                                          "b.tar.gz",
                                          "b.gz",
                                          "b.tar",
                                          "m.m13",
                                          "archive.abz",
                                          "archive.az",
                                          "song.ogg.",
                                          "song.ogg",
                                          "..",
                                          "a.b.c.mp3",
                                          "wav",
                                          "trailing.wav ",
                                          "x.wav.wav",
                                          ".",
                                          "noext",
                                          "dots...mp3",
                                          "Nested.Mp3.lnk.lnk"};
  const ExtensionMatcher matcher(extensions);
  ASSERT_EQ(matcher.size(), extensions.size());
  for (const std::string& name : names) {
    std::vector<std::size_t> matched;
    matcher.Match(name, matched);
    std::sort(matched.begin(), matched.end());
    std::vector<std::size_t> expected;
    for (std::size_t i = 0; i < extensions.size(); ++i)
      if (platform::MatchesWildcard("*." + extensions[i], name)) expected.push_back(i);
    EXPECT_EQ(matched, expected) << name;
  }
}

TEST(ExtensionMatcher, GroupsNamesByExtensionInListOrderKeepingTheirOwnOrder) {
  const ExtensionMatcher matcher(TextList{"", "mp3", "mp3.lnk", "ogg"});
  const std::vector<std::string> names = {"b.ogg", "z.mp3", "cover.jpg", "a.mp3.lnk", "Notes", "a.MP3", "c.ogg"};
  EXPECT_EQ(matcher.Group(names), (std::vector<std::string>{"Notes", "z.mp3", "a.MP3", "a.mp3.lnk", "b.ogg", "c.ogg"}));
}

TEST(ExtensionMatcher, ANameTwoExtensionsMatchIsInBothGroups) {
  const ExtensionMatcher matcher(TextList{"gz", "tar.gz"});
  EXPECT_EQ(matcher.Group({"a.tar.gz", "b.gz"}), (std::vector<std::string>{"a.tar.gz", "b.gz", "a.tar.gz"}));
}

TEST(ExtensionMatcher, AnEmptyListMatchesNothing) {
  const ExtensionMatcher matcher(TextList{});
  EXPECT_TRUE(matcher.Group({"a.mp3", "README"}).empty());
}

}  // namespace
}  // namespace qf
