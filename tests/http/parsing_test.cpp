// Unit tests of the HTTP layer's small parsers and rules.

#include <gtest/gtest.h>

#include "core/text.h"
#include "http/access.h"
#include "http/byterange.h"
#include "http/mimetable.h"
#include "http/urlcode.h"

namespace qf {
namespace {

TEST(UrlCode, DecodesPathsAndForms) {
  EXPECT_EQ(UrlDecode("/a%20b+c", PlusMeans::Plus), "/a b+c");
  EXPECT_EQ(UrlDecode("a+b%2Bc", PlusMeans::Blank), "a b+c");
  EXPECT_EQ(UrlDecode("100%25", PlusMeans::Blank), "100%");
  EXPECT_EQ(UrlDecode("%zz%4", PlusMeans::Blank), "%zz%4");  // not an escape: kept as written
  EXPECT_EQ(UrlDecode("%c3%A9", PlusMeans::Blank), "\xc3\xa9");
}

TEST(UrlCode, SplitsParametersInRequestOrder) {
  EXPECT_EQ(SplitParams("volume=50&next"), (TextList{"volume=50", "next"}));
  EXPECT_EQ(SplitParams("a=1&&b=x+y&c=%26&=v"), (TextList{"a=1", "b=x y", "c=&", "=v"}));
  EXPECT_EQ(SplitParams(""), TextList{});
  EXPECT_EQ(SplitParams("dir=Rock%20%26%20Roll"), (TextList{"dir=Rock & Roll"}));
}

TEST(UrlCode, EncodesLikeAForm) {
  EXPECT_EQ(UrlEncode("Song 1.mp3"), "Song+1.mp3");
  EXPECT_EQ(UrlEncode("a&b=c/d\\e"), "a%26b%3dc%2fd%5ce");
  EXPECT_EQ(UrlEncode("!$'()*-.@_"), "!$'()*-.@_");
  EXPECT_EQ(UrlEncode("\xe9\x01"), "%e9%01");
}

TEST(UrlCode, SplitsTargets) {
  auto origin = SplitTarget("/index.html?play&volume=5");
  ASSERT_TRUE(origin);
  EXPECT_EQ(origin->path, "/index.html");
  EXPECT_EQ(origin->query, "play&volume=5");
  auto absolute = SplitTarget("http://host:8080/a/b?c");
  ASSERT_TRUE(absolute);
  EXPECT_EQ(absolute->path, "/a/b");
  EXPECT_EQ(absolute->query, "c");
  EXPECT_EQ(SplitTarget("http://host")->path, "/");
  EXPECT_FALSE(SplitTarget("*"));
  EXPECT_FALSE(SplitTarget("index.html"));
}

TEST(ByteRange, SingleRangesAgainstTheFileSize) {
  struct Case {
    const char* header;
    ByteRange::Kind kind;
    std::uint64_t first, last;
  };
  const Case cases[] = {
      {"bytes=0-9", ByteRange::Kind::Partial, 0, 9},       {"bytes=10-", ByteRange::Kind::Partial, 10, 99},
      {"bytes=-5", ByteRange::Kind::Partial, 95, 99},      {"bytes=-500", ByteRange::Kind::Partial, 0, 99},
      {"bytes=90-1000", ByteRange::Kind::Partial, 90, 99}, {"bytes=100-", ByteRange::Kind::Unsatisfiable, 0, 0},
      {"bytes=-0", ByteRange::Kind::Unsatisfiable, 0, 0},  {"bytes=0-1,5-6", ByteRange::Kind::Whole, 0, 0},
      {"bytes=9-3", ByteRange::Kind::Whole, 0, 0},         {"items=0-1", ByteRange::Kind::Whole, 0, 0},
      {"bytes=a-b", ByteRange::Kind::Whole, 0, 0},
  };
  for (const Case& c : cases) {
    ByteRange range = ParseByteRange(c.header, 100);
    EXPECT_EQ(range.kind, c.kind) << c.header;
    if (c.kind == ByteRange::Kind::Partial) {
      EXPECT_EQ(range.first, c.first) << c.header;
      EXPECT_EQ(range.last, c.last) << c.header;
    }
  }
}

TEST(MimeTable, KnowsWebAndAudioTypes) {
  EXPECT_EQ(MimeTypeFor("C:\\x\\style.CSS"), "text/css");
  EXPECT_EQ(MimeTypeFor("a.mp3"), "audio/mpeg");
  EXPECT_EQ(MimeTypeFor("a.flac"), "audio/flac");
  EXPECT_EQ(MimeTypeFor("pic.jpeg"), "image/jpeg");
  EXPECT_EQ(MimeTypeFor("C:\\dir.d\\README"), "application/octet-stream");
  EXPECT_EQ(MimeTypeFor("a.unknown"), "application/octet-stream");
}

TEST(PathRules, PlainNames) {
  EXPECT_TRUE(IsPlainName("base"));
  EXPECT_TRUE(IsPlainName("my skin"));
  EXPECT_FALSE(IsPlainName(""));
  EXPECT_FALSE(IsPlainName(".."));
  EXPECT_FALSE(IsPlainName("a\\b"));
  EXPECT_FALSE(IsPlainName("C:x"));
}

TEST(Whitelist, RangeIncludesBothEnds) {
  TextList list{"192.168.0.0 - 192.168.0.255"};
  EXPECT_TRUE(CheckIpWhitelist(list, "192.168.0.0"));
  EXPECT_TRUE(CheckIpWhitelist(list, "192.168.0.7"));
  EXPECT_TRUE(CheckIpWhitelist(list, "192.168.0.255"));
  EXPECT_FALSE(CheckIpWhitelist(list, "192.168.1.0"));
  EXPECT_FALSE(CheckIpWhitelist(TextList{"10.0.0.0-10.0.255.255"}, "10.1.0.0"));
  EXPECT_TRUE(CheckIpWhitelist(TextList{"127.0.0.1"}, "127.0.0.1"));
  EXPECT_FALSE(CheckIpWhitelist(TextList{"127.0.0.1"}, "127.0.0.2"));
  EXPECT_FALSE(CheckIpWhitelist(TextList{}, "127.0.0.1"));
  EXPECT_EQ(DottedToNumber("1.2.3.4"), 0x01020304u);
  EXPECT_EQ(DottedToNumber("1.2.3"), 0xFFFFFFFFu);
  EXPECT_EQ(DottedToNumber("256.1.1.1"), 0xFFFFFFFFu);
  EXPECT_EQ(DottedToNumber("a.b.c.d"), 0xFFFFFFFFu);
}

std::shared_ptr<UserClass> MakeUser(const std::string& login, const std::string& password) {
  auto user = std::make_shared<UserClass>();
  user->Login = login;
  user->Password = password;
  for (int day = 0; day < 7; ++day) user->DayTo[static_cast<std::size_t>(day)] = 86399.0 / 86400.0;
  return user;
}

double At(int hours, int minutes, int seconds, int milliseconds = 0) {
  return (((hours * 60.0 + minutes) * 60.0 + seconds) * 1000.0 + milliseconds) / 86400000.0;
}

TEST(UserAccess, TimeWindowsIncludeBothEnds) {
  auto user = MakeUser("Alice", "Secret");
  user->DayFrom[1] = At(8, 0, 0);
  user->DayTo[1] = At(17, 0, 0);
  user->DayAllowed[0] = false;
  UserList users{user};
  EXPECT_TRUE(CheckUserAccess(users, "alice", "SECRET", {1, At(8, 0, 0)}));
  EXPECT_TRUE(CheckUserAccess(users, "ALICE", "secret", {1, At(17, 0, 0)}));
  EXPECT_FALSE(CheckUserAccess(users, "alice", "secret", {1, At(17, 0, 1)}));
  EXPECT_FALSE(CheckUserAccess(users, "alice", "secret", {0, At(12, 0, 0)}));
  EXPECT_FALSE(CheckUserAccess(users, "alice", "wrong", {1, At(12, 0, 0)}));
  // The default window ends at 23:59:59.000: the rest of that second is outside.
  EXPECT_FALSE(CheckUserAccess(users, "alice", "secret", {2, At(23, 59, 59, 500)}));
  EXPECT_TRUE(CheckUserAccess(users, "alice", "secret", {2, At(23, 59, 59)}));
}

TEST(UserAccess, ALaterUserWithTheSameCredentialsCanStillEnter) {
  auto closed = MakeUser("bob", "pw");
  closed->DayAllowed.fill(false);
  auto open = MakeUser("bob", "pw");
  UserList users{closed, open};
  EXPECT_TRUE(CheckUserAccess(users, "bob", "pw", {3, At(10, 0, 0)}));
  // The request runs with the rights of the account that let it in, not of the first with that name.
  EXPECT_EQ(AdmittedUser(users, "BOB", "PW", {3, At(10, 0, 0)}), open);
  EXPECT_EQ(AdmittedUser(users, "bob", "other", {3, At(10, 0, 0)}), nullptr);
}

TEST(UserAccess, PasswordsMatchOnlyWhole) {
  struct Case {
    const char* stored;
    const char* given;
    bool same;
  };
  for (const Case& c : {Case{"Secret", "secret", true}, Case{"Secret", "Secre", false},
                        Case{"Secret", "Secrets", false}, Case{"Secret", "", false}, Case{"", "", true},
                        Case{"", "x", false}, Case{"abcabc", "abc", false}, Case{"a:b", "A:B", true}})
    EXPECT_EQ(SameTextConstantTime(c.stored, c.given), c.same) << c.stored << " / " << c.given;
}

TEST(CrossSite, PagesOfOtherSitesAreToldFromTheseAndFromNoPageAtAll) {
  struct Case {
    const char* host;
    const char* fetchSite;
    const char* origin;
    const char* referer;
    bool another;
  };
  const Case cases[] = {
      // Nothing said: a script, a bookmark, an address typed in.
      {"192.168.1.5:8080", "", "", "", false},
      {"", "", "", "", false},
      {"player", "none", "", "", false},
      {"player", "same-origin", "", "", false},
      {"player", "cross-site", "", "", true},
      {"player", "same-site", "", "", true},
      {"player", "Cross-Site ", "", "", true},
      // Without Sec-Fetch-Site, Origin decides, and without Origin, Referer.
      {"192.168.1.5:8080", "", "http://192.168.1.5:8080", "", false},
      {"192.168.1.5:8080", "", "http://192.168.1.5:8081", "", true},
      {"192.168.1.5:8080", "", "http://evil.example", "", true},
      {"Player", "", "http://PLAYER", "", false},
      {"player", "", "http://player:80", "", false},
      {"player:80", "", "http://player", "", false},
      {"player", "", "https://player", "", false},
      {"player", "", "null", "", true},
      {"player", "", "", "http://player/index.html?x=1", false},
      {"player", "", "", "http://player.evil.example/", true},
      {"player", "", "", "http://user@evil.example/", true},
      {"player", "", "", "http://evil.example/?http://player/", true},
      {"player", "", "http://evil.example", "http://player/", true},
      {"", "", "http://player", "", true},
      {"player", "", "", "not a url", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FromAnotherSite(c.host, c.fetchSite, c.origin, c.referer), c.another)
        << c.host << " | " << c.fetchSite << " | " << c.origin << " | " << c.referer;
}

}  // namespace
}  // namespace qf
