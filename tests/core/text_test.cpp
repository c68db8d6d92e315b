#include "core/text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qf {
namespace {

TEST(Text, ComparesWithoutRegardToAsciiCase) {
  EXPECT_TRUE(SameText("Time", "tIME"));
  EXPECT_FALSE(SameText("Time", "Times"));
  EXPECT_LT(CompareText("apple", "Banana"), 0);
  EXPECT_GT(CompareText("b", "A"), 0);
  // Only ASCII letters fold: bytes of the code page above 127 compare as they are.
  EXPECT_FALSE(SameText("\xC4", "\xE4"));
  EXPECT_TRUE(StartsText("HTTP://x", "http://"));
  EXPECT_TRUE(EndsText("song.MP3", ".mp3"));
}

TEST(Text, FindsWithoutRegardToCase) {
  EXPECT_EQ(FindText("Hello World", "WORLD"), 6u);
  EXPECT_EQ(FindText("aaa", "A", 1), 1u);
  EXPECT_EQ(FindText("abc", "abcd"), std::string::npos);
  EXPECT_TRUE(ContainsText("Content-Disposition: form-data; FILENAME=\"a\"", "filename=\""));
  EXPECT_EQ(FindText("abcABC", "cab"), 2u);
  EXPECT_EQ(FindText("xx-Track", "track"), 3u);  // at the very end
  EXPECT_EQ(FindText("Track", "track", 1), std::string::npos);
  EXPECT_EQ(FindText("a1b2", "1B2"), 1u);
  EXPECT_EQ(FindText("abc", "", 2), 2u);
  EXPECT_EQ(FindText("abc", "", 4), std::string::npos);
  EXPECT_EQ(FindText("", "a"), std::string::npos);
}

TEST(Text, HtmlEncodesTheFiveSpecialCharacters) {
  EXPECT_EQ(HtmlEncode(""), "");
  EXPECT_EQ(HtmlEncode("Plain Title 07"), "Plain Title 07");
  EXPECT_EQ(HtmlEncode("<a href=\"x\">Tom & Jerry's</a>"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&#39;s&lt;/a&gt;");
  EXPECT_EQ(HtmlEncode("Jerry's", Apostrophe::Keep), "Jerry's");
  EXPECT_EQ(HtmlEncode("&&<<"), "&amp;&amp;&lt;&lt;");
  EXPECT_EQ(HtmlEncode(std::string_view("a\0<", 3)), std::string("a\0&lt;", 6));
}

TEST(Text, TrimsControlBytesAndBlanks) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(TrimLeft("  x "), "x ");
}

TEST(Text, ReplacesAllOccurrences) {
  EXPECT_EQ(ReplaceAll("a&gt;b&GT;c", "&gt;", ">", Matching::IgnoreCase), "a>b>c");
  EXPECT_EQ(ReplaceAll("a&gt;b&GT;c", "&gt;", ">"), "a>b&GT;c");
  EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
}

TEST(Text, ParsesIntegersStrictly) {
  EXPECT_EQ(ParseInt("42"), 42);
  EXPECT_EQ(ParseInt("-7"), -7);
  EXPECT_EQ(ParseInt("+7"), 7);
  EXPECT_FALSE(ParseInt(""));
  EXPECT_FALSE(ParseInt("abc"));
  EXPECT_FALSE(ParseInt("12 "));
  EXPECT_FALSE(ParseInt(" 12"));
  EXPECT_FALSE(ParseInt("99999999999"));
  EXPECT_EQ(ParseIntOrHex("$1F"), 31);
  EXPECT_EQ(ParseIntOrHex("0x10"), 16);
  EXPECT_EQ(ParseIntOrHex("-$10"), -16);
  EXPECT_FALSE(ParseIntOrHex("$"));
  EXPECT_FALSE(ParseIntOrHex("0xZZ"));
}

TEST(Text, FormatsLikePrintf) {
  EXPECT_EQ(Format("%02i", 5), "05");
  EXPECT_EQ(Format("%2d:%02d:%02d", 1, 2, 5), " 1:02:05");
  EXPECT_EQ(Format("%.lu", 0ul), "");
  EXPECT_EQ(Format("%04X", 255), "00FF");
  EXPECT_EQ(Format("%s", std::string(1000, 'x').c_str()).size(), 1000u);
}

TEST(NameValueList, LooksUpNamesWithoutRegardToCase) {
  TextList list{"0A1B2C3D=alice", "FFFFFFFF=bob", "plain"};
  EXPECT_EQ(ValueOfName(list, "0a1b2c3d"), "alice");
  EXPECT_FALSE(ValueOfName(list, "plain"));  // a line without "=" has no name
  SetValueOfName(list, "ffffffff", "carol");
  EXPECT_EQ(list[1], "ffffffff=carol");
  SetValueOfName(list, "new", "dave");
  EXPECT_EQ(list.back(), "new=dave");
  EXPECT_TRUE(DeleteName(list, "NEW"));
  EXPECT_FALSE(DeleteName(list, "NEW"));
  EXPECT_EQ(list.size(), 3u);
  EXPECT_EQ(NameOf("a=b=c"), "a");
  EXPECT_EQ(ValueOf("a=b=c"), "b=c");
}

TEST(SortedTextList, KeepsOrderWithoutDuplicates) {
  SortedTextList list;
  EXPECT_TRUE(list.Add("mp3"));
  EXPECT_TRUE(list.Add("WAV"));
  EXPECT_TRUE(list.Add("Ogg"));
  EXPECT_FALSE(list.Add("MP3"));
  EXPECT_FALSE(list.Add("wav"));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0], "mp3");
  EXPECT_EQ(list[1], "Ogg");
  EXPECT_EQ(list[2], "WAV");
  EXPECT_EQ(list.IndexOf("OGG"), 1);
  EXPECT_EQ(list.IndexOf("flac"), -1);
}

// Empty texts, texts that hold NUL bytes and the boundaries between neighbours must all come back as
// they went in, in order, through indexing, iteration and the copy back into strings.
TEST(PackedTextList, GivesBackEveryTextAsItWentIn) {
  const TextList texts{"", "D:\\Music\\a.mp3", "", std::string("x\0y", 3), "last"};
  PackedTextList list(texts);
  ASSERT_EQ(list.size(), texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(list[i], texts[i]) << i;
  EXPECT_EQ(list.ToTextList(), texts);
  EXPECT_EQ(list.end() - list.begin(), 5);
  EXPECT_EQ(*(list.begin() + 3), texts[3]);
  EXPECT_EQ(std::find(list.begin(), list.end(), "last") - list.begin(), 4);
  EXPECT_EQ(list, PackedTextList(texts));
  EXPECT_FALSE(list == (PackedTextList{"", "D:\\Music\\a.mp3", "", "x", "\0ylast"})) << "same text, other cuts";
  list.shrink_to_fit();
  EXPECT_EQ(list.ToTextList(), texts);
  EXPECT_TRUE(PackedTextList().empty());
  EXPECT_EQ(PackedTextList().begin(), PackedTextList().end());
}

}  // namespace
}  // namespace qf
